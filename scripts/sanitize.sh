#!/usr/bin/env bash
# Builds and runs the tests under the sanitizers:
#   address  the whole suite with AddressSanitizer + UndefinedBehaviorSanitizer
#   thread   the Qt-free tests (engine, job control, command line, stops) with
#            ThreadSanitizer
#   all      both (the default)
# Build folders: build-asan/ and build-tsan/ in the repository, or
# $MELVORA_ASAN_BUILD_DIR and $MELVORA_TSAN_BUILD_DIR. Any report fails the
# run; the only suppressions are in scripts/sanitizers/, each with its reason.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
which="${1:-all}"
supp="$root/scripts/sanitizers"
jobs="$(nproc)"

"$root/scripts/deps.sh"

# The heavy robustness rounds are for the plain build; under the sanitizers
# a few stop rounds per mode still cross every path.
export MELVORA_STRESS_ROUNDS="${MELVORA_STRESS_ROUNDS:-8}"
unset MELVORA_ROBUSTNESS_HEAVY

run_address() {
  local build="${MELVORA_ASAN_BUILD_DIR:-$root/build-asan}"
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer: whole suite ($build)" >&2
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMELVORA_SANITIZE=address,undefined >/dev/null
  cmake --build "$build" -j"$jobs" >&2
  ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1:detect_stack_use_after_return=1:strict_string_checks=1" \
  LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0" \
  UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
  QT_QPA_PLATFORM=offscreen \
    ctest --test-dir "$build" --output-on-failure -j"$jobs"
}

run_thread() {
  local build="${MELVORA_TSAN_BUILD_DIR:-$root/build-tsan}"
  echo "== ThreadSanitizer: engine, job control, command line, stops ($build)" >&2
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMELVORA_SANITIZE=thread \
    -DMELVORA_BUILD_GUI=OFF >/dev/null
  cmake --build "$build" -j"$jobs" --target engine_tests jobcontrol_tests cli_tests melvora-cli robustness_tests >&2
  TSAN_OPTIONS="suppressions=$supp/tsan.supp:halt_on_error=1:second_deadlock_stack=1:report_signal_unsafe=0" \
    ctest --test-dir "$build" --output-on-failure -j"$jobs" \
      -R '^(engine_tests|jobcontrol_tests|cli_tests|robustness\.stops)$'
}

case "$which" in
  address) run_address ;;
  thread) run_thread ;;
  all) run_address; run_thread ;;
  *) echo "usage: $0 [address|thread|all]" >&2; exit 2 ;;
esac
