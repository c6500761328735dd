#!/usr/bin/env bash
# Benchmarks melvora-cli against the ffmpeg program doing the same jobs, run
# alternately on the same files, and prints medians and ratios (ratios, not
# absolute times: machines are shared and noisy).
#
#   bench/run.sh [-n RUNS] [--no-callgrind]
#
# The media are made once into $MELVORA_BENCH_CACHE (default ~/.cache/melvora-bench).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
runs=3
callgrind=1
while [ $# -gt 0 ]; do
  case "$1" in
    -n) runs="$2"; shift 2 ;;
    --no-callgrind) callgrind=0; shift ;;
    *) echo "usage: $0 [-n RUNS] [--no-callgrind]" >&2; exit 2 ;;
  esac
done

cache="${MELVORA_BENCH_CACHE:-$HOME/.cache/melvora-bench}"
mkdir -p "$cache"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

for tool in ffmpeg /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing $tool (apt-get install ffmpeg time)" >&2; exit 1; }
done
"$root/scripts/build.sh" >/dev/null 2>&1 || "$root/scripts/build.sh"
cli="$root/build/src/cli/melvora-cli"

make_media() { # name seconds with_sound
  local out="$cache/$1"
  [ -s "$out" ] && return
  echo "making $out" >&2
  local sound=(-f lavfi -i "sine=frequency=440:sample_rate=48000:duration=$2")
  local maps=(-map 0:v -map 1:a -c:a aac -b:a 128k -ac 2)
  if [ "$3" = 0 ]; then sound=(); maps=(-map 0:v); fi
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=640x360:rate=25:duration=$2" "${sound[@]}" \
    "${maps[@]}" -c:v libx264 -preset ultrafast -crf 28 -pix_fmt yuv420p -shortest "$out.tmp.mp4"
  mv "$out.tmp.mp4" "$out"
}
make_media video-600.mp4 600 1
make_media silent-600.mp4 600 0
make_media video-60.mp4 60 1
make_media silent-60.mp4 60 0
if [ ! -s "$cache/music-5.mp3" ]; then
  ffmpeg -v error -y -f lavfi -i "aevalsrc=0.3*sin(2*PI*660*t)*exp(-2*mod(t\,1)):s=44100:d=5" \
    -ac 2 -c:a libmp3lame -b:a 128k "$cache/music-5.mp3"
fi
music="$cache/music-5.mp3"

mix_graph="[0:a]aresample=44100,aformat=sample_fmts=fltp:channel_layouts=stereo[a0];[1:a]aresample=44100,aformat=sample_fmts=fltp:channel_layouts=stereo[a1];[a0][a1]amix=inputs=2:duration=first[out]"

# Prints "seconds peak_kb" of one shell command line.
measure() {
  rm -f "$work"/out/* "$work/ref.mp4"
  /usr/bin/time -f "%e %M" -o "$work/time" bash -c "$1" >/dev/null 2>&1
  cat "$work/time"
}
q() { printf '%q' "$1"; }
melvora_cmd() { echo "exec $(q "$cli") mix $(q "$1") $(q "$music") -o $(q "$work/out")"; }
reference_mode2() { echo "exec ffmpeg -v error -y -i $(q "$1") -stream_loop -1 -i $(q "$music") -filter_complex $(q "$mix_graph") -map 0:v -map '[out]' -c:v copy -c:a aac -b:a 128k $(q "$work/ref.mp4")"; }
reference_mode1() { echo "exec ffmpeg -v error -y -i $(q "$1") -stream_loop -1 -i $(q "$music") -map 0:v -map 1:a -c copy -shortest $(q "$work/ref.mp4")"; }
mkdir -p "$work/out"

median() { sort -n | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

bench_job() { # label reference_fn video
  local label="$1" reference="$2" video="$3" m_t=() m_m=() r_t=() r_m=()
  for _ in $(seq "$runs"); do
    read -r t m < <(measure "$(melvora_cmd "$video")"); m_t+=("$t"); m_m+=("$m")
    read -r t m < <(measure "$($reference "$video")"); r_t+=("$t"); r_m+=("$m")
  done
  local mt rt mm rm
  mt=$(printf '%s\n' "${m_t[@]}" | median); rt=$(printf '%s\n' "${r_t[@]}" | median)
  mm=$(printf '%s\n' "${m_m[@]}" | median); rm=$(printf '%s\n' "${r_m[@]}" | median)
  printf '%-22s melvora %6.2f s %7d KB | ffmpeg %6.2f s %7d KB | time ratio %.2f  memory ratio %.2f\n' \
    "$label" "$mt" "$mm" "$rt" "$rm" "$(echo "$mt / $rt" | bc -l)" "$(echo "$mm / $rm" | bc -l)"
  echo "$mm" > "$work/mem-$label"
}

echo "Melvora benchmark, $(date -u +%Y-%m-%d), $(nproc) cores, median of $runs runs"
bench_job mode2-600s reference_mode2 "$cache/video-600.mp4"
bench_job mode1-600s reference_mode1 "$cache/silent-600.mp4"
bench_job mode2-60s reference_mode2 "$cache/video-60.mp4"
bench_job mode1-60s reference_mode1 "$cache/silent-60.mp4"
for mode in mode2 mode1; do
  short=$(cat "$work/mem-$mode-60s"); long=$(cat "$work/mem-$mode-600s")
  printf '%-22s peak memory 600 s / 60 s: %.2f\n' "$mode" "$(echo "$long / $short" | bc -l)"
done

probe_ms=$("$root/build/bench/melvora-probe-timing" "$cache/video-600.mp4" 9)
printf '%-22s %s ms (probeVideo inside the process, median of 9)\n' "probe-600s" "$probe_ms"

if [ "$callgrind" = 1 ] && command -v valgrind >/dev/null; then
  rm -f "$work"/out/*
  # libhwy (loaded through libavcodec) reads the CPU clock with rdtscp in its
  # start-up code, which valgrind cannot run; a stand-in that is never used
  # for anything else lets the profile start.
  printf '#include <cstdint>\nnamespace hwy { namespace platform { std::uint64_t TimerResolution() { return 1; } } }\n' \
    > "$work/hwy-stand-in.cpp"
  preload=""
  if g++ -shared -fPIC -O2 -o "$work/hwy-stand-in.so" "$work/hwy-stand-in.cpp" 2>/dev/null; then
    preload="$work/hwy-stand-in.so"
  fi
  LD_PRELOAD="$preload" valgrind --tool=callgrind --callgrind-out-file="$work/cg.out" "$cli" mix \
    "$cache/video-60.mp4" "$music" -o "$work/out" >/dev/null 2>"$work/cg.log" || true
  instructions=$(grep -o 'Collected : [0-9]*' "$work/cg.log" | awk '{print $3}')
  if [ -n "$instructions" ] && [ -s "$work/out/video-60.mp4" ]; then
    printf '%-22s %s instructions (callgrind, mode 2, 60 s video)\n' "instructions" "$instructions"
    # Where they go: the AAC encoder against everything else.
    callgrind_annotate --inclusive=yes "$work/cg.out" 2>/dev/null |
      grep -E '^ *[0-9,]+ \( *[0-9.]+%\) +[^ ]*:(avcodec_send_frame|melvora::mixWorker\(melvora::MixJob&\) \[|_dl_start )' |
      sed -E 's/^ *([0-9,]+) *\(([ 0-9.]+%)\) *[^:]*:([^ []*).*/  \2  \3/' | sort -u -k2
  else
    printf '%-22s n/a (valgrind could not run the job; see %s)\n' "instructions" "valgrind's log"
  fi
fi
