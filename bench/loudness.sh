#!/usr/bin/env bash
# The whole-mix loudness target on varied sound: for each source and each
# target, the integrated loudness and the true peak (4x oversampled, of the
# decoded AAC) of melvora-cli's output, and what the measuring passes cost
# as a share of the run (CPU time with --loudness against without), with a
# second or third encoding ("+2nd", "+3rd") where the peaks went over the ceiling.
#
#   bench/loudness.sh [-n RUNS]
#
# The sources are made once into $MELVORA_BENCH_CACHE (default
# ~/.cache/melvora-bench) with the ffmpeg program and espeak-ng: a 60 s video
# whose own sound is spoken English with 0.3 s pauses over room noise, and
# three kinds of music (a dense noise-and-drums bed, soft tones with a wide
# range, a bright tone chord). Recorded music from Debian's game-music
# packages is measured too when installed (this repository ships none):
#   apt-get install wesnoth-1.16-music extremetuxracer-data supertux-data
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
runs=1
[ "${1:-}" = "-n" ] && runs="$2"
cache="${MELVORA_BENCH_CACHE:-$HOME/.cache/melvora-bench}/loudness"
mkdir -p "$cache"
build="${MELVORA_BUILD_DIR:-$root/build}"
cli="$build/src/cli/melvora-cli"
[ -x "$cli" ] || { cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null && cmake --build "$build" -j"$(nproc)" --target melvora-cli >/dev/null; }

make_media() {
  local video="$cache/talk.mp4"
  if [ ! -f "$video" ]; then
    local phrases=("This is the first sentence of a short talk." "A pause follows, and then the speaker goes on."
      "Background music sits under the voice." "The whole mix is brought to one loudness.")
    local parts=()
    for i in "${!phrases[@]}"; do
      espeak-ng -v en -s 150 -w "$cache/phrase$i.wav" "${phrases[$i]}"
      parts+=(-i "$cache/phrase$i.wav")
    done
    # Phrases 0.3 s apart, repeated to 60 s, over quiet pink noise.
    ffmpeg -v error -y "${parts[@]}" -filter_complex \
      "[0][1][2][3]concat=n=4:v=0:a=1,apad=pad_dur=0.3,aloop=loop=-1:size=2e9,atrim=0:60,aresample=48000[speech];
       anoisesrc=color=pink:amplitude=0.01:duration=60:sample_rate=48000[room];[speech][room]amix=normalize=0[a]" \
      -map "[a]" -c:a pcm_s16le "$cache/talk.wav"
    ffmpeg -v error -y -f lavfi -i testsrc=size=320x180:rate=25:duration=60 -i "$cache/talk.wav" \
      -c:v libx264 -preset ultrafast -c:a aac -b:a 128k -shortest "$video"
  fi
  [ -f "$cache/dense.flac" ] || ffmpeg -v error -y -f lavfi -i \
    "anoisesrc=color=pink:amplitude=0.4:duration=30,aformat=channel_layouts=stereo" -f lavfi -i \
    "aevalsrc='0.7*sin(2*PI*55*t)*exp(-10*mod(t,0.5))|0.7*sin(2*PI*55*t)*exp(-10*mod(t,0.5))':d=30:s=44100" \
    -filter_complex "[0][1]amix=normalize=0" -ar 44100 "$cache/dense.flac"
  [ -f "$cache/soft.flac" ] || ffmpeg -v error -y -f lavfi -i \
    "aevalsrc='0.3*(0.6+0.4*sin(2*PI*t/10))*sin(2*PI*220*t)*(1+0.5*sin(2*PI*0.5*t))|0.3*sin(2*PI*330*t)*(0.5+0.5*sin(2*PI*t/7))':d=30:s=44100" \
    "$cache/soft.flac"
  [ -f "$cache/chord.flac" ] || ffmpeg -v error -y -f lavfi -i \
    "aevalsrc='0.2*(sin(2*PI*440*t)+sin(2*PI*554*t)+sin(2*PI*659*t))|0.2*(sin(2*PI*440*t)+sin(2*PI*554*t)+sin(2*PI*659*t))':d=30:s=44100" \
    "$cache/chord.flac"
}

# "I TP" of a file's sound.
measure() {
  ffmpeg -hide_banner -nostdin -i "$1" -vn -af ebur128=peak=true -f null - 2>&1 |
    awk '/^ +I:/ {i=$2} /^ +Peak:/ {p=$2} END {print i, p}'
}

cpu_seconds() {
  local out="$1"; shift
  /usr/bin/time -f "%U %S" -o "$out.time" "$cli" "$@" >/dev/null 2>&1
  awk '{print $1 + $2}' "$out.time"
}

make_media
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
printf '%-10s %-8s %-7s %9s %9s %7s %12s\n' music target ceiling "out LUFS" "out dBTP" passes "measure cost"
# Recorded songs, by the name the table gives them, where installed.
recorded=(
  "orchestral=/usr/share/games/wesnoth/1.16/data/core/music/battle-epic.ogg"
  "electronic=/usr/share/games/etr/music/race1-jt.ogg"
  "band=/usr/share/games/supertux2/music/misc/theme.ogg"
)
musics=(dense soft chord)
for entry in "${recorded[@]}"; do
  name="${entry%%=*}" file="${entry#*=}"
  if [ -f "$file" ]; then
    ln -sf "$file" "$cache/$name.ogg" && musics+=("$name")
  else
    echo "not installed, left out: $file" >&2
  fi
done
music_file() { [ -f "$cache/$1.flac" ] && echo "$cache/$1.flac" || echo "$cache/$1.ogg"; }

for music in "${musics[@]}"; do
  plain=0
  for ((r = 0; r < runs; r++)); do
    rm -rf "$work/plain" && mkdir -p "$work/plain"
    plain=$(echo "$plain + $(cpu_seconds "$work/plain/t" mix "$cache/talk.mp4" "$(music_file "$music")" -o "$work/plain" --duck)" | bc)
  done
  for target in -14 -16 -23; do
    ceiling=-1
    cost=0
    for ((r = 0; r < runs; r++)); do
      rm -rf "$work/out" && mkdir -p "$work/out"
      cost=$(echo "$cost + $(cpu_seconds "$work/out/t" mix "$cache/talk.mp4" "$(music_file "$music")" -o "$work/out" --duck \
        --loudness "$target" --true-peak "$ceiling")" | bc)
    done
    read -r lufs peak < <(measure "$work/out/talk.mp4")
    told=$("$cli" mix "$cache/talk.mp4" "$(music_file "$music")" -o "$work/out" --duck --loudness "$target" \
      --true-peak "$ceiling" 2>&1)
    passes=$(sed -n 's/.*(\([0-9]\) measuring pass.*/\1/p' <<<"$told")
    grep -q "encoded twice" <<<"$told" && passes="$passes+2nd"
    grep -q "encoded 3 times" <<<"$told" && passes="$passes+3rd"
    share=$(echo "scale=2; ($cost - $plain) / $plain" | bc)
    printf '%-10s %-8s %-7s %9s %9s %7s %11s%%\n' "$music" "$target" "$ceiling" "$lufs" "$peak" "$passes" \
      "$(echo "$share * 100" | bc | cut -d. -f1)"
  done
done
