#!/usr/bin/env bash
# Makes the fuzzers' seeds and fixed partners with the ffmpeg program: tiny
# videos and music files (a few kilobytes each) in the formats users bring.
#   make-seeds.sh FOLDER  ->  FOLDER/partners, FOLDER/seeds/{probe,mix_video,mix_music,ini,mix_value}
set -euo pipefail
out="${1:?usage: make-seeds.sh FOLDER}"
mkdir -p "$out/partners" "$out/seeds/probe" "$out/seeds/mix_video" "$out/seeds/mix_music" "$out/seeds/ini" \
  "$out/seeds/mix_value"

make() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }
picture="-f lavfi -i testsrc=size=32x18:rate=10:duration=0.5"
tone="-f lavfi -i sine=frequency=440:sample_rate=22050:duration=0.5"
h264="-c:v libx264 -preset ultrafast -pix_fmt yuv420p -g 3"

# Partners: the other input of a mix.
make -f lavfi -i sine=frequency=1000:duration=0.6 -ac 2 -c:a libmp3lame "$out/partners/music.mp3"
make -f lavfi -i sine=frequency=1000:sample_rate=22050:duration=0.6 -c:a wmav2 "$out/partners/music.wma"
make $picture $h264 "$out/partners/silent.mkv"
make $picture $tone $h264 -c:a aac -shortest "$out/partners/sound.mp4"

v="$out/seeds/mix_video"
make $picture $tone $h264 -c:a aac -shortest "$v/h264-aac.mp4"
make $picture $h264 "$v/h264.mkv"
make $picture $tone -c:v mpeg4 -c:a libmp3lame -shortest "$v/mpeg4-mp3.avi"
make $picture $tone $h264 -c:a aac -shortest "$v/h264-aac.ts"
make $picture $tone -c:v libvpx -deadline realtime -cpu-used 8 -c:a libvorbis -shortest "$v/vp8-vorbis.webm"
make $picture $tone -c:v mjpeg -c:a pcm_s16le -shortest "$v/mjpeg-pcm.mov"
make $picture $tone $h264 -c:a libmp3lame -shortest "$v/h264-mp3.flv"

m="$out/seeds/mix_music"
make $tone -c:a libmp3lame "$m/tone.mp3"
make $tone -c:a pcm_s16le "$m/tone.wav"
make $tone -c:a flac "$m/tone.flac"
make $tone -c:a libvorbis "$m/tone.ogg"
make $tone -c:a aac "$m/tone.m4a"
make $tone -c:a wmav2 "$m/tone.wma"
make -f lavfi -i sine=frequency=440:sample_rate=48000:duration=0.5 -c:a libopus "$m/tone.opus"

cp "$v"/* "$m"/* "$out/seeds/probe/"

# Text: the shipped settings and a language file, and typed values.
root="$(cd "$(dirname "$0")/.." && pwd)"
cp "$root"/resources/languages/*.ini "$out/seeds/ini/"
printf '[MIX]\nmusic_gain=-6\r\n[JOIN]\nsize=3\n' >"$out/seeds/ini/mix.ini"
for value in -6 0.5 3.25 1e3 -inf nan 10 '' ' 7' 99999; do printf '%s' "$value" >"$out/seeds/mix_value/$(printf '%s' "$value" | md5sum | cut -c1-8)"; done
