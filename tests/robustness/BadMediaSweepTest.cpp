// Truncated and damaged copies of small videos and music files, each probed
// and mixed: every run must end, finished or failed, and nothing may crash.
// MELVORA_SWEEP_VERBOSE=1 names each case before it runs, to find a crash.

#include "MediaTool.h"
#include "SampleMedia.h"
#include "WatchedRun.h"

#include "engine/MediaProbe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <random>
#include <set>
#include <thread>

namespace melvora::test {
namespace {

struct DamagedFile {
    std::string path;
    std::string description;
    bool isVideo;
    int index; // chooses the partner
};

// Cuts at fixed header offsets and at fractions of the file.
std::set<std::size_t> truncationPoints(std::size_t size) {
    std::set<std::size_t> points = {0, 8, 16, 64, 256, 1024, 4096};
    for (const double fraction : {0.25, 0.5, 0.75, 0.95})
        points.insert(static_cast<std::size_t>(static_cast<double>(size) * fraction));
    points.insert(size - 1);
    std::erase_if(points, [size](std::size_t point) { return point >= size; });
    return points;
}

// MELVORA_ROBUSTNESS_HEAVY=1 damages each file at many more places.
bool heavy() { return std::getenv("MELVORA_ROBUSTNESS_HEAVY") != nullptr; }

// Damage of three kinds at offsets drawn from a fixed seed, so every run
// tries the same files: single bit flips, bursts of random bytes, and size
// fields blown up to all ones or cleared to zeros. Half of the offsets fall
// into the first kilobyte, where the headers live.
std::vector<DamagedFile> damagedCopies(const SampleFile &source, const std::string &folder, int &counter) {
    const int scale = heavy() ? 4 : 1;
    const std::string path = sample(source.name);
    const std::vector<std::uint8_t> bytes = readBytes(path);
    std::vector<DamagedFile> files;
    const std::string extension = std::filesystem::path(source.name).extension().string();
    const std::string stem = std::filesystem::path(source.name).stem().string();
    auto add = [&](const std::vector<std::uint8_t> &content, const std::string &what) {
        const std::string name = stem + "-" + std::to_string(files.size()) + extension;
        writeBytes(folder + "/" + name, content);
        files.push_back({folder + "/" + name, source.name + " " + what, source.isVideo, counter++});
    };

    for (const std::size_t point : truncationPoints(bytes.size()))
        add({bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(point)}, "cut at " + std::to_string(point));

    std::mt19937 random(static_cast<std::uint32_t>(std::hash<std::string>{}(source.name) & 0xffffffffu));
    auto offset = [&](int i) {
        const std::size_t limit = (i % 2 == 0) ? std::min<std::size_t>(bytes.size(), 1024) : bytes.size();
        return std::uniform_int_distribution<std::size_t>(0, limit - 1)(random);
    };
    for (int i = 0; i < 4 * scale; ++i) {
        std::vector<std::uint8_t> flipped = bytes;
        const std::size_t at = offset(i);
        flipped[at] ^= static_cast<std::uint8_t>(1u << (random() % 8));
        add(flipped, "bit flip at " + std::to_string(at));
    }
    for (int i = 0; i < 2 * scale; ++i) {
        std::vector<std::uint8_t> burst = bytes;
        const std::size_t at = offset(i);
        for (std::size_t k = at; k < std::min(bytes.size(), at + 16); ++k)
            burst[k] = static_cast<std::uint8_t>(random());
        add(burst, "16 random bytes at " + std::to_string(at));
    }
    for (int i = 0; i < 2 * scale; ++i) {
        std::vector<std::uint8_t> blown = bytes;
        const std::size_t at = offset(i);
        const std::uint8_t fill = (i % 2 == 0) ? 0xff : 0x00;
        for (std::size_t k = at; k < std::min(bytes.size(), at + 4); ++k)
            blown[k] = fill;
        add(blown, (fill ? "ff" : "00") + std::string(" x4 at ") + std::to_string(at));
    }
    return files;
}

struct SweepFigures {
    std::mutex mutex;
    int files = 0;
    int probes = 0;
    int mixes = 0;
    int finished = 0;
    int failed = 0;
    std::vector<std::string> hangs;
    std::vector<std::string> problems;
};

void sweepOne(MixJob &job, const DamagedFile &file, const std::string &outputFolder, SweepFigures &figures) {
    if (std::getenv("MELVORA_SWEEP_VERBOSE"))
        std::cerr << "sweep: " << file.description << " (" << file.path << ")\n";

    const ProbeOutcome asVideo = watchedProbe(job, file.path, true);
    const ProbeOutcome asMusic = watchedProbe(job, file.path, false);

    // Damaged videos go with good music, damaged music with a good video
    // with or without its own sound, so that every mode meets damage.
    std::string video = file.path;
    std::string music = file.index % 2 == 0 ? sample("m.mp3") : sample("m.wma");
    if (!file.isVideo) {
        video = file.index % 2 == 0 ? sample("v-h264.mkv") : sample("v-h264-aac.mp4");
        music = file.path;
    }
    const std::string output = outputFolder + "/" + std::filesystem::path(file.path).stem().string() +
                               (file.isVideo ? "" : "-m") + std::filesystem::path(video).extension().string();
    const MixOutcome mix = watchedMix(job, video, music, output);

    std::string problem;
    if (mix.status == JobStatus::Running && !mix.hung)
        problem = "a run that was not stopped ended neither finished nor failed";
    else if (mix.status == JobStatus::Failed && mix.error.empty())
        problem = "failed without a reason";
    else if (mix.status == JobStatus::Finished &&
             runCommand("ffprobe -v quiet -show_format " + shellQuote(output)).exitCode != 0)
        problem = "reported finished, but its output does not open";

    std::lock_guard lock(figures.mutex);
    ++figures.files;
    figures.probes += 2;
    ++figures.mixes;
    figures.finished += mix.status == JobStatus::Finished;
    figures.failed += mix.status == JobStatus::Failed;
    if (asVideo.hung)
        figures.hangs.push_back("video probe: " + file.description);
    if (asMusic.hung)
        figures.hangs.push_back("music probe: " + file.description);
    if (mix.hung)
        figures.hangs.push_back("mix: " + file.description);
    if (!problem.empty())
        figures.problems.push_back(file.description + ": " + problem + " [" + mix.error + "]");
}

TEST(BadMediaSweep, EveryDamagedFileEndsWithoutCrashOrHang) {
    const std::string inputs = makeFolder("sweep-inputs");
    const std::string outputs = makeFolder("sweep-outputs");
    std::vector<DamagedFile> files;
    int counter = 0;
    for (const SampleFile &source : sweepSamples()) {
        const std::vector<DamagedFile> copies = damagedCopies(source, inputs, counter);
        files.insert(files.end(), copies.begin(), copies.end());
    }
    // The partners are made before the workers start.
    for (const char *partner : {"m.mp3", "m.wma", "v-h264.mkv", "v-h264-aac.mp4"})
        sample(partner);

    SweepFigures figures;
    std::atomic<std::size_t> next{0};
    auto worker = [&] {
        MixJob job;
        for (std::size_t i = next++; i < files.size(); i = next++)
            sweepOne(job, files[i], outputs, figures);
    };
    std::thread second(worker);
    worker();
    second.join();

    std::cout << "[ figures  ] damaged files " << figures.files << ", probes " << figures.probes << ", mixes "
              << figures.mixes << " (finished " << figures.finished << ", failed " << figures.failed << "), hangs "
              << figures.hangs.size() << ", crashes 0\n";
    RecordProperty("damagedFiles", figures.files);
    RecordProperty("hangs", static_cast<int>(figures.hangs.size()));
    EXPECT_EQ(figures.files, static_cast<int>(files.size()));
    EXPECT_TRUE(figures.hangs.empty()) << ::testing::PrintToString(figures.hangs);
    EXPECT_TRUE(figures.problems.empty()) << ::testing::PrintToString(figures.problems);
}

} // namespace
} // namespace melvora::test
