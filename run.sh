#!/usr/bin/env bash
# Installs what is missing, builds, then runs melvora-cli.
# Without arguments it mixes the bundled samples and prints the output path.
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
"$root/scripts/deps.sh"
"$root/scripts/build.sh"
if [ $# -eq 0 ]; then
  exec "$root/build/src/cli/melvora-cli" demo
fi
exec "$root/build/src/cli/melvora-cli" "$@"
