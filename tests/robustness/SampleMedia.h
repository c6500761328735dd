#pragma once

// Small media made once per test run with the ffmpeg program, and the byte
// level helpers the robustness tests use to damage and compare files.

#include <cstdint>
#include <string>
#include <vector>

namespace melvora::test {

// One generated sample: a short, tiny video or music file.
struct SampleFile {
    std::string name; // e.g. "v-h264-aac.mp4"
    bool isVideo;
};

// The samples the bad-media sweep damages: videos in several containers,
// with and without their own sound, and music in the common formats.
const std::vector<SampleFile> &sweepSamples();

// The path of a generated sample (see SampleMedia.cpp for the whole list),
// made on first use.
std::string sample(const std::string &name);

std::vector<std::uint8_t> readBytes(const std::string &path);
void writeBytes(const std::string &path, const std::vector<std::uint8_t> &bytes);
void writeText(const std::string &path, const std::string &text);

// FNV-1a of a file's bytes; 0 for a missing file.
std::uint64_t fileDigest(const std::string &path);

// The names in a folder, sorted.
std::vector<std::string> folderEntries(const std::string &folder);

} // namespace melvora::test
