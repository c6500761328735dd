#!/usr/bin/env bash
# Runs the whole suite N times the way CI does (ctest -j$(nproc)) and prints
# every failure's test name and assertion, then how many rounds failed.
#   scripts/soak-tests.sh N [ctest arguments...]
# The build folder is build/ (or $MELVORA_BUILD_DIR, e.g. build-asan/ with the
# sanitizer options of scripts/sanitize.sh already exported); it must be built.
# MELVORA_SOAK_LOAD=K runs K busy loops beside the suite, so that the tests
# also meet a loaded machine. Exit code: 0 when every round passed.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${MELVORA_BUILD_DIR:-$root/build}"
rounds="${1:?usage: $0 N [ctest arguments...]}"
shift
logs="$(mktemp -d)"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"

loaders=()
for ((i = 0; i < ${MELVORA_SOAK_LOAD:-0}; ++i)); do
  (while :; do :; done) &
  loaders+=($!)
done
trap '[ ${#loaders[@]} -eq 0 ] || kill "${loaders[@]}" 2>/dev/null' EXIT

failed=0
for ((round = 1; round <= rounds; ++round)); do
  log="$logs/round-$round.log"
  start=$(date +%s)
  if ctest --test-dir "$build" --output-on-failure -j"$(nproc)" "$@" >"$log" 2>&1; then
    echo "round $round: passed ($(($(date +%s) - start)) s)"
    continue
  fi
  failed=$((failed + 1))
  echo "round $round: FAILED ($(($(date +%s) - start)) s), log $log"
  # The entries that failed, then each failed test with its assertion.
  grep -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .*(\*\*\*(Failed|Timeout|Exception)|Not Run)' "$log" | sed 's/^/  /'
  grep -E -A4 ': Failure$|^\[  FAILED  \] [^ ]+ \(' "$log" | sed 's/^/    /'
done
echo "$((rounds - failed)) of $rounds rounds passed (logs in $logs)"
[ "$failed" -eq 0 ]
