#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
"$root/scripts/deps.sh"
"$root/scripts/build.sh"
# A sound server with a null sink, when none runs, so that the mix preview's
# Play is tested too; without one those tests check the disabled button.
if command -v pulseaudio >/dev/null && ! pactl info >/dev/null 2>&1; then
  pulseaudio --daemonize=yes --exit-idle-time=60 -n --load="module-null-sink sink_name=melvora-tests" \
    --load=module-native-protocol-unix >/dev/null 2>&1 || true
fi
cd "$root/build"
ctest --output-on-failure -j"$(nproc)" "$@"
