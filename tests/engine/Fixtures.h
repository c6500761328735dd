#pragma once

#include <string>

namespace melvora::test {

// Media made once per test run with the ffmpeg program, by name:
//   "video-440.mp4"     4 s H.264 160x90 with a mono 48 kHz 440 Hz AAC tone
//   "silent.mp4"        4 s H.264, no sound
//   "burst-own.mp4"     6 s H.264 whose mono 48 kHz AAC sound is a 440 Hz burst from 2 s to 3.5 s
//   "burst-own-14.mp4"  the same, 14 s long; "song-14.wav" 14.05 s of a swelling 440 Hz tone (a song to fit to it)
//   "silent.mkv", "silent.avi"
//   "silent.webm"       4 s VP8, no sound; "silent.mpg" 4 s MPEG-2 in an MPEG program stream;
//                       "silent.ogv" 4 s Theora
//   "late-start.ts"     4 s MPEG-2 with a 440 Hz MP2 tone, clock starting at 1.4 s
//   "silent-late-start.ts"
//   "music-1000.m4a"    1.5 s 1000 Hz stereo AAC
//   "long-silent.mp4"   30 s H.264, no sound (for stops)
//   "long-video-440.mp4" 30 s with its 440 Hz tone
//   "subs.mkv"          video, 440 Hz AAC, subtitles
//   "two-sounds.mkv"    video, 440 Hz AAC, 660 Hz MP3
//   "noise-own.mp4", "noise-own.mkv"  4 s video with 48 kHz mono pink noise
//   "long-noise-own.mp4" 75 s tiny video with pink-noise stereo AAC; "long-silent-75.mp4" without sound
//   "noise.wma"         3 s pink noise, WMA v2 44.1 kHz stereo
//   "silence.mp3"       2 s of digital silence
//   "music-1000.mp3"    1.5 s 1000 Hz stereo MP3 (shorter than the videos)
//   "music-long.mp3"    8 s 1000 Hz MP3 (longer than the videos)
//   "music-1000.wma"    1.5 s 1000 Hz WMA v2, 22050 Hz mono
//   "music-1000.wav"    1.5 s 1000 Hz PCM
//   "music-51.flac"     1.5 s 1000 Hz in 5.1
//   "garbage.mp4", "garbage.mp3"  bytes that are no media
//   "truncated.mkv"     the first half of subs.mkv
std::string fixture(const std::string &name);

} // namespace melvora::test
