#!/usr/bin/env bash
# Builds the Debian package of Melvora (a release build under the prefix /usr, without the tests),
# checks it with lintian when lintian is there, and prints the package's path as the last line.
# The build goes to build-package/ (or $MELVORA_PACKAGE_BUILD_DIR); extra arguments go to cmake.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${MELVORA_PACKAGE_BUILD_DIR:-$root/build-package}"

"$root/scripts/deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DMELVORA_BUILD_TESTS=OFF \
      "$@" >/dev/null
cmake --build "$build" -j"$(nproc)" >&2
rm -f "$build"/melvora_*.deb
(cd "$build" && cpack -G DEB >&2)
deb="$(ls "$build"/melvora_*.deb)"
if command -v lintian >/dev/null; then
  lintian --fail-on error "$deb" >&2
fi
echo "$deb"
