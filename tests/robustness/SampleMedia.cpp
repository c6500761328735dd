#include "SampleMedia.h"

#include "MediaTool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

namespace melvora::test {
namespace {

std::string picture(double seconds, const std::string &size = "64x36", int rate = 10) {
    return "-f lavfi -i testsrc=size=" + size + ":rate=" + std::to_string(rate) +
           ":duration=" + std::to_string(seconds);
}

std::string tone(int frequency, double seconds, int rate = 44100) {
    return "-f lavfi -i sine=frequency=" + std::to_string(frequency) + ":sample_rate=" + std::to_string(rate) +
           ":duration=" + std::to_string(seconds);
}

const char *const kH264 = " -c:v libx264 -preset ultrafast -pix_fmt yuv420p -g 5 ";

// Recipes by name: ffmpeg arguments before the output path.
const std::map<std::string, std::string> &recipes() {
    static const std::map<std::string, std::string> table = {
        // Sweep videos: one second, 64x36, ten frames a second.
        {"v-h264-aac.mp4", picture(1) + " " + tone(440, 1, 48000) + kH264 + "-c:a aac -ac 1 -shortest"},
        {"v-h264.mkv", picture(1) + kH264},
        {"v-mpeg4-mp3.avi", picture(1) + " " + tone(440, 1) + " -c:v mpeg4 -c:a libmp3lame -shortest"},
        {"v-h264-aac.ts", picture(1) + " " + tone(440, 1) + kH264 + "-c:a aac -shortest"},
        {"v-vp8-vorbis.webm", picture(1) + " " + tone(440, 1) +
                                  " -c:v libvpx -deadline realtime -cpu-used 8 -c:a libvorbis -shortest"},
        {"v-mjpeg-pcm.mov", picture(1) + " " + tone(440, 1, 22050) + " -c:v mjpeg -c:a pcm_s16le -shortest"},
        {"v-h264-mp3.flv", picture(1) + " " + tone(440, 1) + kH264 + "-c:a libmp3lame -shortest"},
        // Sweep music: one second of a 1000 Hz tone.
        {"m.mp3", tone(1000, 1) + " -ac 2 -c:a libmp3lame"},
        {"m.wav", tone(1000, 1, 22050) + " -c:a pcm_s16le"},
        {"m.flac", tone(1000, 1) + " -ac 2 -c:a flac"},
        {"m.ogg", tone(1000, 1) + " -ac 2 -c:a libvorbis"},
        {"m.m4a", tone(1000, 1) + " -ac 2 -c:a aac"},
        {"m.wma", tone(1000, 1, 22050) + " -c:a wmav2"},
        {"m.opus", tone(1000, 1, 48000) + " -c:a libopus"},
        // Longer inputs for stops and write failures: twenty seconds, cheap to copy.
        {"long-silent.mp4", picture(20, "64x36", 10) + kH264},
        {"long-sound.mp4", picture(20, "64x36", 10) + " " + tone(440, 20) + kH264 + "-c:a aac -shortest"},
        {"long-sound.mkv", picture(20, "64x36", 10) + " " + tone(440, 20) + kH264 + "-c:a aac -shortest"},
        {"music.mp3", tone(1000, 1.5) + " -ac 2 -c:a libmp3lame"},
        {"long-music.mp3", tone(1000, 25) + " -ac 2 -c:a libmp3lame"}, // plays once over a long video: copied
        {"music.wma", tone(1000, 1.5, 22050) + " -c:a wmav2"},
        // A picture size no other sample has, to recognise where its packets went.
        {"other-320x240.mp4", picture(1, "320x240", 10) + kH264},
        {"other-320x240.ts", picture(1, "320x240", 10) + kH264},
    };
    return table;
}

} // namespace

const std::vector<SampleFile> &sweepSamples() {
    static const std::vector<SampleFile> samples = {
        {"v-h264-aac.mp4", true}, {"v-h264.mkv", true}, {"v-mpeg4-mp3.avi", true}, {"v-h264-aac.ts", true},
        {"v-vp8-vorbis.webm", true}, {"v-mjpeg-pcm.mov", true}, {"v-h264-mp3.flv", true},
        {"m.mp3", false}, {"m.wav", false}, {"m.flac", false}, {"m.ogg", false},
        {"m.m4a", false}, {"m.wma", false}, {"m.opus", false},
    };
    return samples;
}

std::string sample(const std::string &name) {
    static std::mutex mutex;
    static std::map<std::string, std::string> made;
    std::lock_guard lock(mutex);
    if (auto found = made.find(name); found != made.end())
        return found->second;
    const auto recipe = recipes().find(name);
    if (recipe == recipes().end()) {
        ADD_FAILURE() << "unknown sample " << name;
        return {};
    }
    const std::string path = makeFolder("samples") + "/" + name;
    makeMedia(recipe->second, path);
    made[name] = path;
    return path;
}

std::vector<std::uint8_t> readBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string &path, const std::vector<std::uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void writeText(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::uint64_t fileDigest(const std::string &path) {
    if (!std::filesystem::exists(path))
        return 0;
    std::uint64_t hash = 1469598103934665603ull;
    for (const std::uint8_t byte : readBytes(path)) {
        hash ^= byte;
        hash *= 1099511628211ull;
    }
    return hash;
}

std::vector<std::string> folderEntries(const std::string &folder) {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace melvora::test
