#!/usr/bin/env bash
# Measures --fit and --loop auto (bench/FitMeasure.cpp) on recorded music
# from Debian's game-music packages, when they are installed, and on
# generated songs (chords over drums, a pad without a beat). No music ships
# with the project; for the bench only (not in scripts/deps.sh or CI):
#
#   apt-get install wesnoth-1.16-music extremetuxracer-data supertux-data
#
# The analysis time is set against a 10-minute mode-2 run (a video with its
# own sound, plain mix), made once into the cache.
#
#   bench/fit.sh [--generated-only]
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cache="${MELVORA_BENCH_CACHE:-$HOME/.cache/melvora-bench}"
mkdir -p "$cache"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

wesnoth=/usr/share/games/wesnoth/1.16/data/core/music
etr=/usr/share/games/etr/music
supertux=/usr/share/games/supertux2/music
# kind:name=package:file. fit: fitted at 0.5, 0.8, 1.3 and 2.5 times the
# song's length; loop: looped under a video three times its length.
songs=(
  "fit:orchestral, elvish-theme=wesnoth-1.16-music:$wesnoth/elvish-theme.ogg"
  "fit:orchestral, battle-epic=wesnoth-1.16-music:$wesnoth/battle-epic.ogg"
  "fit:orchestral, northerners=wesnoth-1.16-music:$wesnoth/northerners.ogg"
  "fit:slow, no beat, sad=wesnoth-1.16-music:$wesnoth/sad.ogg"
  "fit:electronic, race1-jt=extremetuxracer-data:$etr/race1-jt.ogg"
  "fit:electronic, freezingpoint=extremetuxracer-data:$etr/freezingpoint.ogg"
  "fit:chiptune, chipdisko=supertux-data:$supertux/antarctic/chipdisko.ogg"
  "fit:band, theme=supertux-data:$supertux/misc/theme.ogg"
  "loop:electronic, race1-jt=extremetuxracer-data:$etr/race1-jt.ogg"
  "loop:orchestral, battle-epic=wesnoth-1.16-music:$wesnoth/battle-epic.ogg"
)

args=(generated)
if [ "${1:-}" != "--generated-only" ]; then
  missing=()
  for song in "${songs[@]}"; do
    kind_name="${song%%=*}" rest="${song#*=}"
    package="${rest%%:*}" file="${rest#*:}"
    if [ -r "$file" ]; then
      args+=("$kind_name=$file")
    else
      missing+=("$package")
    fi
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "fit.sh: recorded music left out, not installed: $(printf '%s\n' "${missing[@]}" | sort -u | tr '\n' ' ')" >&2
    echo "fit.sh: apt-get install $(printf '%s\n' "${missing[@]}" | sort -u | tr '\n' ' ')" >&2
  fi
fi

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
"$root/build/bench/melvora-fit-measure" "$work" "$mode2" "${args[@]}"
