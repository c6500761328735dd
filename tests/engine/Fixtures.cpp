#include "Fixtures.h"

#include "MediaTool.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

namespace melvora::test {
namespace {

const char *const kPicture = "-f lavfi -i testsrc=size=160x90:rate=25:duration=";
const char *const kH264 = "-c:v libx264 -preset ultrafast -pix_fmt yuv420p";

std::string picture(int seconds) { return std::string(kPicture) + std::to_string(seconds); }

std::string tone(int frequency, double seconds, int rate = 44100) {
    return "-f lavfi -i sine=frequency=" + std::to_string(frequency) + ":sample_rate=" + std::to_string(rate) +
           ":duration=" + std::to_string(seconds);
}

void writeBytes(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

void make(const std::string &name, const std::string &path) {
    if (name == "video-440.mp4")
        makeMedia(picture(4) + " " + tone(440, 4, 48000) + " " + kH264 + " -c:a aac -ac 1 -shortest", path);
    else if (name == "long-video-440.mp4")
        makeMedia(picture(30) + " " + tone(440, 30) + " " + kH264 + " -c:a aac -shortest", path);
    else if (name == "burst-own.mp4" || name == "burst-own-14.mp4") { // silent but for a 440 Hz burst from 2 s to 3.5 s
        const std::string seconds = name == "burst-own.mp4" ? "6" : "14";
        makeMedia(picture(std::stoi(seconds)) + " -f lavfi -i 'aevalsrc=0.5*sin(2*PI*440*t)*between(t\\,2\\,3.5):d=" +
                      seconds + ":s=48000' " + kH264 + " -c:a aac -ac 1 -shortest",
                  path);
    } else if (name == "song-14.wav") // a slowly swelling tone, a little longer than burst-own-14.mp4
        makeMedia("-f lavfi -i 'aevalsrc=0.3*sin(2*PI*440*t)*(0.8+0.2*sin(2*PI*0.3*t)):s=44100:d=14.05' -ac 2 "
                  "-c:a pcm_f32le",
                  path);
    else if (name == "silent.mp4" || name == "silent.mkv")
        makeMedia(picture(4) + " " + kH264, path);
    else if (name == "silent.avi")
        makeMedia(picture(4) + " -c:v mpeg4", path);
    else if (name == "silent.webm")
        makeMedia(picture(4) + " -c:v libvpx -deadline realtime", path);
    else if (name == "silent.ogv")
        makeMedia(picture(4) + " -c:v libtheora", path);
    else if (name == "silent.mpg")
        makeMedia(picture(4) + " -c:v mpeg2video", path);
    else if (name == "late-start.ts") // MPEG-TS clocks start at 1.4 s
        makeMedia(picture(4) + " " + tone(440, 4) + " -c:v mpeg2video -c:a mp2 -shortest -f mpegts", path);
    else if (name == "silent-late-start.ts")
        makeMedia(picture(4) + " -c:v mpeg2video -f mpegts", path);
    else if (name == "music-1000.m4a") // AAC with priming and a short last packet
        makeMedia(tone(1000, 1.5) + " -ac 2 -c:a aac", path);
    else if (name == "long-silent.mp4")
        makeMedia(picture(30) + " " + kH264, path);
    else if (name == "subs.mkv") {
        const std::string subtitles = scratchFolder() + "/subs.srt";
        writeBytes(subtitles, "1\n00:00:00,500 --> 00:00:02,000\nHello\n\n2\n00:00:02,500 --> 00:00:03,500\nBye\n");
        makeMedia(picture(4) + " " + tone(440, 4) + " -i " + shellQuote(subtitles) +
                      " -map 0 -map 1 -map 2 " + kH264 + " -c:a aac -c:s srt",
                  path);
    } else if (name == "two-sounds.mkv")
        makeMedia(picture(4) + " " + tone(440, 4) + " " + tone(660, 4) + " -map 0 -map 1 -map 2 " + kH264 +
                      " -c:a:0 aac -c:a:1 libmp3lame",
                  path);
    else if (name == "noise-own.mp4" || name == "noise-own.mkv") // sound that matches itself at one lag only
        makeMedia(picture(4) + " -f lavfi -i anoisesrc=d=4:c=pink:r=48000:a=0.3:s=7 " + kH264 +
                      " -c:a aac -ac 1 -shortest",
                  path);
    else if (name == "long-noise-own.mp4") // long enough for several encoders at once
        makeMedia("-f lavfi -i testsrc=size=64x36:rate=5:duration=75 -f lavfi -i anoisesrc=d=75:c=pink:r=44100:a=0.3:s=5 " +
                      std::string(kH264) + " -c:a aac -ac 2 -shortest",
                  path);
    else if (name == "long-silent-75.mp4")
        makeMedia("-f lavfi -i testsrc=size=64x36:rate=5:duration=75 " + std::string(kH264), path);
    else if (name == "noise.wma")
        makeMedia("-f lavfi -i anoisesrc=d=3:c=pink:r=44100:a=0.3:s=11 -ac 2 -c:a wmav2", path);
    else if (name == "silence.mp3")
        makeMedia("-f lavfi -i anullsrc=r=44100:cl=stereo -t 2 -c:a libmp3lame", path);
    else if (name == "music-1000.mp3")
        makeMedia(tone(1000, 1.5) + " -ac 2 -c:a libmp3lame", path);
    else if (name == "music-long.mp3")
        makeMedia(tone(1000, 8) + " -ac 2 -c:a libmp3lame", path);
    else if (name == "music-1000.wma")
        makeMedia(tone(1000, 1.5, 22050) + " -ac 1 -c:a wmav2", path);
    else if (name == "music-1000.wav")
        makeMedia(tone(1000, 1.5) + " -ac 2 -c:a pcm_s16le", path);
    else if (name == "music-51.flac")
        makeMedia(tone(1000, 1.5) + " -af " + shellQuote("pan=5.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0") + " -c:a flac", path);
    else if (name == "garbage.mp4" || name == "garbage.mp3") {
        std::string bytes;
        for (int i = 0; i < 20000; ++i)
            bytes += static_cast<char>((i * 7919 + 13) % 251);
        writeBytes(path, bytes);
    } else if (name == "truncated.mkv") {
        const std::string whole = fixture("subs.mkv");
        std::ifstream in(whole, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        writeBytes(path, bytes.substr(0, bytes.size() / 2));
    } else if (name == "cover.jpg" || name == "cover.png") {
        makeMedia("-f lavfi -i testsrc=size=120x80:rate=1 -frames:v 1", path);
    } else if (name == "cover-jpeg.mp3" || name == "cover-png.mp3") {
        const std::string cover = fixture(name == "cover-jpeg.mp3" ? "cover.jpg" : "cover.png");
        makeMedia("-i " + shellQuote(fixture("music-1000.mp3")) + " -i " + shellQuote(cover) +
                      " -map 0 -map 1 -c copy -id3v2_version 3 -disposition:v attached_pic",
                  path);
    } else if (name == "mjpeg-among-three.mkv") {
        makeMedia(tone(440, 1) + " -f lavfi -i testsrc=size=64x48:rate=10:duration=1 " + tone(660, 1) +
                      " -map 0 -map 1 -map 2 -c:a aac -c:v mjpeg",
                  path);
    } else if (name == "subtitles.srt") {
        writeBytes(path, "1\n00:00:00,500 --> 00:00:02,000\nHello\n\n");
    } else if (name == "ntsc.mp4") {
        makeMedia("-f lavfi -i testsrc=size=64x48:rate=30000/1001:duration=1 " + std::string(kH264), path);
    } else {
        FAIL() << "unknown fixture " << name;
    }
}

} // namespace

std::string fixture(const std::string &name) {
    static std::recursive_mutex mutex;
    static std::map<std::string, std::string> made;
    std::lock_guard lock(mutex);
    if (auto found = made.find(name); found != made.end())
        return found->second;
    const std::string folder = makeFolder("fixtures");
    const std::string path = folder + "/" + name;
    make(name, path);
    made[name] = path;
    return path;
}

} // namespace melvora::test
