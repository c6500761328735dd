#!/usr/bin/env bash
# Makes the bundled samples once with the ffmpeg program; the results are
# committed, so this only needs to run again to change them.
#   sample-video.mp4: 10 s, 320x180 H.264 test picture, with its own sound (a 440 Hz tone)
#   sample-music.mp3: 4 s arpeggio, shorter than the video so that it loops
set -euo pipefail
cd "$(dirname "$0")"

ffmpeg -hide_banner -loglevel error -y \
  -f lavfi -i "testsrc2=size=320x180:rate=25:duration=10" \
  -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=10" \
  -map 0:v -map 1:a -c:v libx264 -preset veryslow -crf 30 -pix_fmt yuv420p \
  -c:a aac -b:a 64k -ac 2 -movflags +faststart sample-video.mp4

# C major arpeggio, one note per half second, each fading out.
ffmpeg -hide_banner -loglevel error -y \
  -f lavfi -i "aevalsrc='0.4*sin(2*PI*t*(262*(lt(mod(t,2),0.5))+330*between(mod(t,2),0.5,1)+392*between(mod(t,2),1,1.5)+523*gte(mod(t,2),1.5)))*exp(-3*mod(t,0.5))':s=44100:d=4" \
  -ac 2 -c:a libmp3lame -b:a 96k sample-music.mp3

ls -l sample-video.mp4 sample-music.mp3
