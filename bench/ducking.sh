#!/usr/bin/env bash
# Ducking under real speech (espeak-ng), melvora-cli's --duck beside the
# reactive sidechain compressor it replaced (attack 100 ms, release 800 ms,
# keyed on any sound), run here through the ffmpeg program with that graph.
# The music is a 7 kHz tone, measured through a narrow band-pass in 100 ms
# windows, against its level without ducking:
#   before   the music's dip in the 100 ms before each phrase (dB, worst phrase)
#   first    the same in the phrase's first 100 ms
#   spread   the music's level spread inside each phrase, whose words are
#            0.3 s apart (dB, worst phrase)
#   noise    the dip under room noise at about -40 dBFS with no speech
# Rows: clean speech for both; then the look-ahead on the same speech over
# room noise at about -50 dBFS (which the sidechain ducks under all along).
#
#   bench/ducking.sh [DEPTH_DB]      (default 12)
#
# Media are made once into $MELVORA_BENCH_CACHE (default ~/.cache/melvora-bench).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
depth="${1:-12}"
cache="${MELVORA_BENCH_CACHE:-$HOME/.cache/melvora-bench}/ducking"
mkdir -p "$cache"
build="${MELVORA_BUILD_DIR:-$root/build}"
cli="$build/src/cli/melvora-cli"
[ -x "$cli" ] || { cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null && cmake --build "$build" -j"$(nproc)" --target melvora-cli >/dev/null; }

# Four phrases of three words, the words 0.3 s apart, a phrase every 4 s from 2 s on.
onsets=(2 6 10 14)
words=("music under speech" "nothing pumps here" "voices come first" "quiet in between")
if [ ! -f "$cache/speech.mp4" ]; then
  inputs=() filters="" labels=""
  n=0
  for p in "${!words[@]}"; do
    at=${onsets[$p]}
    for w in ${words[$p]}; do
      espeak-ng -v en -s 160 -w "$cache/w$n.wav" "$w"
      inputs+=(-i "$cache/w$n.wav")
      filters+="[$n]aresample=48000,adelay=delays=$(echo "$at * 1000 / 1" | bc)|all=1[d$n];"
      labels+="[d$n]"
      at=$(echo "$at + $(ffprobe -v error -show_entries format=duration -of csv=p=0 "$cache/w$n.wav") + 0.3" | bc)
      n=$((n + 1))
    done
  done
  ffmpeg -v error -y "${inputs[@]}" -filter_complex \
    "${filters}${labels}amix=inputs=$n:normalize=0,apad=whole_dur=18,asplit[s][c];anoisesrc=color=pink:amplitude=0.01:d=18:r=48000[r];[s][r]amix=normalize=0[a]" \
    -map "[a]" -c:a pcm_s16le "$cache/speech.wav" -map "[c]" -c:a pcm_s16le "$cache/clean.wav"
  ffmpeg -v error -y -f lavfi -i "anoisesrc=color=pink:amplitude=0.05:d=18:r=48000" -c:a pcm_s16le "$cache/noise.wav"
  for own in speech clean noise; do
    ffmpeg -v error -y -f lavfi -i testsrc=size=160x90:rate=25:duration=18 -i "$cache/$own.wav" \
      -c:v libx264 -preset ultrafast -c:a aac -b:a 192k -shortest "$cache/$own.mp4"
  done
  ffmpeg -v error -y -f lavfi -i "sine=frequency=7000:duration=20:sample_rate=44100" -ac 2 -c:a flac "$cache/tone.flac"
fi

# The music's level in dB, one line per 100 ms window.
music_levels() {
  ffmpeg -hide_banner -nostdin -i "$1" -vn -af \
    "pan=mono|c0=c0,bandpass=f=7000:width_type=h:w=60,bandpass=f=7000:width_type=h:w=60,asetnsamples=n=4410:p=0,astats=metadata=1:reset=1,ametadata=print:key=lavfi.astats.Overall.RMS_level:file=-" \
    -f null - 2>/dev/null | sed -n 's/.*RMS_level=//p'
}

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# melvora-cli names its output after the video, in the folder given.
mkdir -p "$work/plain" "$work/new"
"$cli" mix "$cache/speech.mp4" "$cache/tone.flac" -o "$work/plain" >/dev/null 2>&1
for own in speech clean noise; do
  "$cli" mix "$cache/$own.mp4" "$cache/tone.flac" -o "$work/new" --duck "$depth" >/dev/null 2>&1
done
mix=$(echo "1 - e(-$depth / 20 * l(10))" | bc -l)
old="[0:a]aresample=44100,aformat=sample_fmts=fltp:channel_layouts=stereo,asplit=2[own][key];[1:a]anull[music];[key]asoftclip=type=hard:threshold=3/100[k];[music][k]sidechaincompress=threshold=1/1000:ratio=20:level_sc=16:detection=peak:attack=100:release=800:mix=$mix[bed];[own][bed]amix=inputs=2[a]"
for own in clean noise; do
  out="$work/old-$own.mp4"
  ffmpeg -v error -y -i "$cache/$own.mp4" -i "$cache/tone.flac" -filter_complex "$old" -map 0:v -map "[a]" \
    -c:v copy -c:a aac -b:a 128k -shortest "$out"
done

music_levels "$work/plain/speech.mp4" > "$work/plain.txt"
report() {
  local name="$1" file="$2" noisefile="$3"
  music_levels "$file" > "$work/$name.txt"
  music_levels "$noisefile" > "$work/$name-noise.txt"
  awk -v onsets="${onsets[*]}" -v name="$name" '
    FNR == NR { plain[FNR - 1] = $1; next }
    FILENAME ~ /noise/ { if (FNR > 5 && FNR < 170) { d = plain[FNR - 1] - $1; if (d > noise) noise = d }; next }
    { level[FNR - 1] = $1 }
    END {
      n = split(onsets, at, " ")
      before = 1000; first = 1000; spread = 0
      for (i = 1; i <= n; i++) {
        w = at[i] * 10
        b = plain[w - 1] - level[w - 1]; if (b < before) before = b
        f = plain[w] - level[w]; if (f < first) first = f
        lo = 1000; hi = -1000
        for (k = w + 1; k < w + 25; k++) { if (level[k] < lo) lo = level[k]; if (level[k] > hi) hi = level[k] }
        if (hi - lo > spread) spread = hi - lo
      }
      printf "%-10s %8.1f %8.1f %8.1f %8.1f\n", name, before, first, spread, noise
    }' "$work/plain.txt" "$work/$name-noise.txt" "$work/$name.txt"
}
echo "depth $depth dB; dips in dB below the unducked music (want >= $((depth - 2)) before and first, spread < 1.5, noise < 2)"
printf '%-10s %8s %8s %8s %8s\n' ducking before first spread noise
report "look-ahead" "$work/new/clean.mp4" "$work/new/noise.mp4"
report "sidechain" "$work/old-clean.mp4" "$work/old-noise.mp4"
echo "speech over the room noise (look-ahead):"
report "look-ahead" "$work/new/speech.mp4" "$work/new/noise.mp4"
