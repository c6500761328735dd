#!/usr/bin/env bash
# Benchmarks melvora-cli against the ffmpeg program doing the same jobs, run
# alternately on the same files, and prints medians and ratios (ratios, not
# absolute times: machines are shared and noisy). Then the segmented AAC
# encoder on its own: one thread against all, and its fidelity against one
# encoder on rich music (bench/SegmentedEncodeTiming.cpp).
#
#   bench/run.sh [-n RUNS] [--no-callgrind] [--long]
#
# --long adds mode 2 on a 60-minute video (made once, about 650 MB), run once
# each, for the time and memory ratios at that length.
#
# The media are made once into $MELVORA_BENCH_CACHE (default ~/.cache/melvora-bench).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
runs=3
callgrind=1
with_long=0
while [ $# -gt 0 ]; do
  case "$1" in
    -n) runs="$2"; shift 2 ;;
    --no-callgrind) callgrind=0; shift ;;
    --long) with_long=1; shift ;;
    *) echo "usage: $0 [-n RUNS] [--no-callgrind] [--long]" >&2; exit 2 ;;
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
segmented="$root/build/bench/melvora-segmented-encode"
threads="$(nproc)"
# Until the mixing loop takes --threads, the comparisons that need it say n/a.
cli_threads=0
"$cli" mix --help 2>&1 | grep -q -- '--threads' && cli_threads=1

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
melvora_extra=""
melvora_cmd() { echo "exec $(q "$cli") mix $(q "$1") $(q "$music") -o $(q "$work/out")$melvora_extra"; }
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
if [ "$with_long" = 1 ]; then
  make_media video-3600.mp4 3600 1
  saved_runs="$runs"; runs=1
  bench_job mode2-3600s reference_mode2 "$cache/video-3600.mp4"
  runs="$saved_runs"
  printf '%-22s peak memory 3600 s / 60 s: %.2f\n' "mode2" "$(echo "$(cat "$work/mem-mode2-3600s") / $(cat "$work/mem-mode2-60s")" | bc -l)"
fi
for mode in mode2 mode1; do
  short=$(cat "$work/mem-$mode-60s"); long=$(cat "$work/mem-$mode-600s")
  printf '%-22s peak memory 600 s / 60 s: %.2f\n' "$mode" "$(echo "$long / $short" | bc -l)"
done

# Mode 2 with one thread and with all of them, against the ffmpeg program,
# the three run in turn on the same file.
if [ "$cli_threads" = 1 ]; then
  one_t=(); all_t=(); ref_t=()
  for _ in $(seq "$runs"); do
    melvora_extra=" --threads 1"; read -r t _m < <(measure "$(melvora_cmd "$cache/video-600.mp4")"); one_t+=("$t")
    melvora_extra=" --threads $threads"; read -r t _m < <(measure "$(melvora_cmd "$cache/video-600.mp4")"); all_t+=("$t")
    read -r t _m < <(measure "$(reference_mode2 "$cache/video-600.mp4")"); ref_t+=("$t")
  done
  melvora_extra=""
  ot=$(printf '%s\n' "${one_t[@]}" | median); at=$(printf '%s\n' "${all_t[@]}" | median)
  rt=$(printf '%s\n' "${ref_t[@]}" | median)
  printf '%-22s 1 thread %6.2f s (%.2f) | %d threads %6.2f s (%.2f) | ffmpeg %6.2f s\n' "mode2-600s-threads" \
    "$ot" "$(echo "$ot / $rt" | bc -l)" "$threads" "$at" "$(echo "$at / $rt" | bc -l)" "$rt"
else
  printf '%-22s n/a (melvora-cli mix has no --threads yet)\n' "mode2-600s-threads"
fi

# The segmented encoder on its own: 600 s of mixed sound made in the
# process, one thread against all, each in a fresh process for its own peak.
seg_one=(); seg_all=(); seg_one_m=(); seg_all_m=()
for _ in $(seq "$runs"); do
  read -r t m < <("$segmented" timing 600 1 2>/dev/null); seg_one+=("$t"); seg_one_m+=("$m")
  read -r t m < <("$segmented" timing 600 "$threads" 2>/dev/null); seg_all+=("$t"); seg_all_m+=("$m")
done
so=$(printf '%s\n' "${seg_one[@]}" | median); sa=$(printf '%s\n' "${seg_all[@]}" | median)
som=$(printf '%s\n' "${seg_one_m[@]}" | median); sam=$(printf '%s\n' "${seg_all_m[@]}" | median)
printf '%-22s 1 thread %6.2f s %7d KB | %d threads %6.2f s %7d KB | time ratio %.2f\n' "aac-encode-600s" \
  "$so" "$som" "$threads" "$sa" "$sam" "$(echo "$sa / $so" | bc -l)"

# Fidelity: rich music as exact PCM in FLAC (so that it is re-encoded), the
# segmented encoding against one encoder, block by block against the source.
make_media silent-180.mp4 180 0
rich="$cache/music-rich-185.flac"
if [ ! -s "$rich" ]; then
  "$segmented" write-music 185 | ffmpeg -v error -y -f f32le -ar 44100 -ac 2 -i - -c:a flac -sample_fmt s16 "$rich.tmp.flac"
  mv "$rich.tmp.flac" "$rich"
fi
echo "fidelity (segmented encoder against one encoder, $threads threads):"
"$segmented" fidelity "$rich" "$threads" 2>/dev/null | sed 's/^/  /'
if [ "$cli_threads" = 1 ]; then
  mkdir -p "$work/one" "$work/all"
  "$cli" mix "$cache/silent-180.mp4" "$rich" -o "$work/one" --threads 1 >/dev/null 2>&1
  "$cli" mix "$cache/silent-180.mp4" "$rich" -o "$work/all" --threads "$threads" >/dev/null 2>&1
  "$segmented" files "$rich" "$work/one/silent-180.mp4" "$work/all/silent-180.mp4" 2>/dev/null | sed 's/^/  /'
fi

probe_ms=$("$root/build/bench/melvora-probe-timing" "$cache/video-600.mp4" 9)
printf '%-22s %s ms (probeVideo inside the process, median of 9)\n' "probe-600s" "$probe_ms"

# The mix dialog's preview: reading a 10-minute video once, and for each
# kind of settings the time to its picture (the sketch), to the mix being
# playable, and to the whole mix; then Play's first sound, where a sound
# server runs (test.sh starts one with a null sink).
echo "mix preview, 600 s video:"
"$root/build/bench/melvora-mix-preview-timing" "$cache/video-600.mp4" "$music" | sed 's/^/  /'
if [ -x "$root/build/bench/melvora-mix-preview-play-timing" ] && pactl info >/dev/null 2>&1; then
  QT_QPA_PLATFORM=offscreen "$root/build/bench/melvora-mix-preview-play-timing" "$cache/video-600.mp4" "$music" \
    2>/dev/null | sed 's/^/  /'
fi

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
