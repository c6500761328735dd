#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a short while.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
# Environment: MELVORA_FUZZ_BUILD_DIR (default build-fuzz/ in the repository),
# MELVORA_FUZZ_SEED (libFuzzer's random seed; fixed by default so that a short
# run mutates the same way every time, 0 for a new seed each run).
# A crash, leak, hang past the per-input timeout or memory blow-up fails the
# script and leaves the input in $build/fuzz/artifacts; fuzz/README.md says how
# to turn it into a test case.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${MELVORA_FUZZ_BUILD_DIR:-$root/build-fuzz}"
seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_probe fuzz_mix_video fuzz_mix_music fuzz_ini fuzz_mix_value)

"$root/scripts/deps.sh"
# clang and its runtime libraries (libFuzzer, the sanitizers) are needed only here.
missing=()
for p in clang libclang-rt-14-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMELVORA_BUILD_GUI=OFF -DMELVORA_BUILD_TESTS=OFF -DMELVORA_BUILD_FUZZERS=ON \
  -DMELVORA_SANITIZE=address,undefined >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" >&2

media="$build/fuzz"
[ -f "$media/partners/sound.mp4" ] || "$root/fuzz/make-seeds.sh" "$media"
mkdir -p "$media/artifacts"

export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$root/scripts/sanitizers/lsan.supp:print_suppressions=0:${LSAN_OPTIONS:-}"
export MELVORA_FUZZ_PARTNERS="$media/partners"

status=0
for target in "${targets[@]}"; do
  case "$target" in
    fuzz_probe) seeds=probe ;;
    fuzz_mix_video) seeds=mix_video ;;
    fuzz_mix_music) seeds=mix_music ;;
    fuzz_ini) seeds=ini ;;
    fuzz_mix_value) seeds=mix_value ;;
    *) echo "unknown fuzz target $target" >&2; exit 2 ;;
  esac
  corpus="$media/corpus/$target"
  mkdir -p "$corpus"
  echo "== $target: ${seconds}s" >&2
  if ! "$build/fuzz/$target" "$corpus" "$media/seeds/$seeds" \
      -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=65536 -seed="${MELVORA_FUZZ_SEED:-1}" \
      -artifact_prefix="$media/artifacts/$target-" -print_final_stats=1 2>"$media/$target.log"; then
    status=1
    echo "!! $target found a problem; last lines of $media/$target.log:" >&2
    tail -40 "$media/$target.log" >&2
  else
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)' "$media/$target.log" >&2 || true
  fi
done
ls -1 "$media/artifacts" >&2 2>/dev/null || true
exit $status
