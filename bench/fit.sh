#!/usr/bin/env bash
# Measures --fit (bench/FitMeasure.cpp) on generated songs: there is no
# recorded music here, so the songs are made of chords and drums (and one pad
# without a beat). The analysis time is set against a 10-minute mode-2 run
# (a video with its own sound, plain mix), made once into the cache.
#
#   bench/fit.sh
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cache="${MELVORA_BENCH_CACHE:-$HOME/.cache/melvora-bench}"
mkdir -p "$cache"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

command -v ffmpeg >/dev/null || { echo "missing ffmpeg" >&2; exit 1; }
cmake --build "$root/build" -j2 --target melvora-fit-measure melvora-cli >/dev/null
cli="$root/build/src/cli/melvora-cli"

long="$cache/fit-mode2-600s.mp4"
if [ ! -s "$long" ]; then
  echo "making $long" >&2
  ffmpeg -v error -y -f lavfi -i testsrc=size=320x180:rate=25:duration=600 \
    -f lavfi -i sine=frequency=440:sample_rate=48000:duration=600 \
    -map 0:v -map 1:a -c:v libx264 -preset ultrafast -c:a aac -b:a 128k -ac 2 "$long"
fi
ffmpeg -v error -y -f lavfi -i "sine=frequency=300:sample_rate=44100:duration=30" -ac 2 "$work/bed.wav"
start=$(date +%s.%N)
"$cli" mix "$long" "$work/bed.wav" -o "$work" >/dev/null 2>&1
mode2=$(echo "$(date +%s.%N) - $start" | bc)
echo "10-minute mode-2 run: ${mode2} s"
"$root/build/bench/melvora-fit-measure" "$work" "$mode2"
