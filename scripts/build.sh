#!/usr/bin/env bash
# Configures and builds into build/ (or $MELVORA_BUILD_DIR); extra arguments go to cmake.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${MELVORA_BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" "$@" >/dev/null
cmake --build "$build" -j"$(nproc)" >&2
