// The fuzz targets' own code path, run over their seeds and over every input
// they ever found a problem with (fuzz-findings/, named after the target:
// fuzz_probe-*, fuzz_mix_video-*, fuzz_mix_music-*). Seeds are sound media
// and must come through whole; findings must end, within the hang limit,
// without a crash.

#include "FuzzHarness.h"
#include "MediaTool.h"
#include "SampleMedia.h"
#include "WatchedRun.h"

#include "engine/MediaProbe.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <future>
#include <thread>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace melvora::test {
namespace {

namespace fs = std::filesystem;

// The seeds and partners, made by the fuzzers' own script once per run.
const std::string &fuzzMedia() {
    static const std::string folder = [] {
        const std::string made = makeFolder("fuzz-media");
        const CommandResult result =
            runCommand(shellQuote(std::string(MELVORA_FUZZ_SOURCE_DIR) + "/make-seeds.sh") + " " + shellQuote(made));
        EXPECT_EQ(result.exitCode, 0) << result.output;
        return made;
    }();
    return folder;
}

std::vector<std::string> filesIn(const std::string &folder) {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto &entry : fs::directory_iterator(folder, error))
        if (entry.is_regular_file())
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

// Runs one replay on a thread of its own; false when it outlived the limit
// (the thread is then left to the process's end).
bool endsWithinLimit(const std::function<void()> &replay) {
    std::packaged_task<void()> task(replay);
    std::future<void> done = task.get_future();
    std::thread runner(std::move(task));
    if (done.wait_for(2 * kHangLimit) != std::future_status::ready) {
        runner.detach();
        return false;
    }
    runner.join();
    return true;
}

struct Partners {
    std::vector<std::uint8_t> forVideo[2];
    std::vector<std::uint8_t> forMusic[2];
};

Partners loadPartners() {
    const std::string folder = fuzzMedia() + "/partners";
    return {{readBytes(folder + "/music.mp3"), readBytes(folder + "/music.wma")},
            {readBytes(folder + "/silent.mkv"), readBytes(folder + "/sound.mp4")}};
}

TEST(FuzzHarness, SeedsComeThroughWhole) {
    const Partners partners = loadPartners();
    const std::string output = makeFolder("fuzz-seeds-out");
    int seeds = 0;
    for (const std::string &path : filesIn(fuzzMedia() + "/seeds/probe")) {
        SCOPED_TRACE(path);
        const std::vector<std::uint8_t> bytes = readBytes(path);
        const fuzz::ProbeResults probed = fuzz::probeBytes(bytes.data(), bytes.size());
        EXPECT_TRUE(probed.asVideo == kProbeAccepted || probed.asMusic == kProbeAccepted);
        const bool isVideo = probed.asVideo == kProbeAccepted;
        for (int partner = 0; partner < 2; ++partner) {
            const std::string out = output + "/out" + std::to_string(seeds++) + ".mkv";
            const JobStatus status =
                fuzz::mixBytes(bytes.data(), bytes.size(), isVideo ? fuzz::MixRole::Video : fuzz::MixRole::Music,
                               isVideo ? partners.forVideo[partner] : partners.forMusic[partner], out);
            EXPECT_EQ(status, JobStatus::Finished) << "partner " << partner;
            EXPECT_TRUE(isReadableMedia(out)) << "partner " << partner;
        }
    }
    EXPECT_GE(seeds, 28);
}

TEST(FuzzHarness, EveryFindingEndsWithoutCrash) {
    const std::vector<std::string> findings = filesIn(MELVORA_FUZZ_FINDINGS);
    if (findings.empty())
        GTEST_SKIP() << "no fuzz findings recorded in " << MELVORA_FUZZ_FINDINGS;
    const Partners partners = loadPartners();
    const std::string output = makeFolder("fuzz-findings-out");
    for (const std::string &path : findings) {
        SCOPED_TRACE(path);
        const std::string name = fs::path(path).filename().string();
        const std::vector<std::uint8_t> bytes = readBytes(path);
        // The fuzzers pick the partner and the container from the size: the same here.
        const bool odd = bytes.size() % 2 == 1;
        std::function<void()> replay;
        if (name.rfind("fuzz_probe-", 0) == 0) {
            replay = [&bytes] { fuzz::probeBytes(bytes.data(), bytes.size()); };
        } else if (name.rfind("fuzz_mix_video-", 0) == 0) {
            replay = [&] {
                fuzz::mixBytes(bytes.data(), bytes.size(), fuzz::MixRole::Video, partners.forVideo[odd ? 0 : 1],
                               output + (odd ? "/out" : "/out.mkv"));
            };
        } else if (name.rfind("fuzz_mix_music-", 0) == 0) {
            replay = [&] {
                fuzz::mixBytes(bytes.data(), bytes.size(), fuzz::MixRole::Music, partners.forMusic[odd ? 0 : 1],
                               output + (odd ? "/out.mkv" : "/out.mp4"));
            };
        } else {
            ADD_FAILURE() << "a finding must be named after its fuzz target";
            continue;
        }
        EXPECT_TRUE(endsWithinLimit(replay)) << "did not end";
        for (const std::string &left : filesIn(output))
            fs::remove(left);
    }
}

// Found by fuzz_mix_music: an ADPCM music file whose header claims 541 MHz.
// Setting up a resampler for that rate asked for gigabytes; such sound is
// refused with the reason before anything is set up for it.
TEST(FuzzFindings, AbsurdSampleRateIsRefusedWithTheReason) {
    const std::string music = std::string(MELVORA_FUZZ_FINDINGS) + "/fuzz_mix_music-sample-rate-541mhz";
    const std::string folder = makeFolder("fuzz-sample-rate");
    for (const char *video : {"v-h264.mkv", "v-h264-aac.mp4"}) {
        SCOPED_TRACE(video);
        MixJob job;
        const MixOutcome outcome = watchedMix(job, sample(video), music, folder + "/out-" + video);
        EXPECT_FALSE(outcome.hung);
        EXPECT_EQ(outcome.status, JobStatus::Failed);
        EXPECT_NE(outcome.error.find("541144141 Hz"), std::string::npos) << outcome.error;
    }
}

// Found by fuzz_probe: a 156-byte WAV whose INFO list names a 2.1 GB title.
// The WAV reader allocated what the header claimed; a probe now stays small.
TEST(FuzzFindings, ChunkClaimingGigabytesIsNotAllocated) {
    const std::vector<std::uint8_t> bytes =
        readBytes(std::string(MELVORA_FUZZ_FINDINGS) + "/fuzz_probe-wav-info-chunk-claims-2gb");
    // In a child of its own, whose peak memory the parent reads when it ends.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        fuzz::probeBytes(bytes.data(), bytes.size());
        _exit(0);
    }
    int status = 0;
    rusage usage{};
    ASSERT_EQ(wait4(child, &status, 0, &usage), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_LT(usage.ru_maxrss, 1024L * 1024) << "peak KiB"; // under 1 GiB
}

} // namespace
} // namespace melvora::test
