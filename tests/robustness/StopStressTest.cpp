// Starts and stops runs hundreds of times at random moments, in every mode:
// right after the start (while the inputs open), during the set-up and in
// the middle of the loop, by the stop flag, by stopAndJoinMixJob, by
// destroying the job, and by starting the next run at once. No stop may
// crash, hang or turn into a failure, and every output that has any bytes
// must be readable. MELVORA_STRESS_SEED and MELVORA_STRESS_ROUNDS override
// the fixed seed and the rounds per mode; MELVORA_ROBUSTNESS_HEAVY=1 runs
// many more rounds.

#include "MediaTool.h"
#include "SampleMedia.h"
#include "WatchedRun.h"

#include "jobcontrol/StartChecks.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <iostream>
#include <memory>
#include <random>
#include <thread>

namespace melvora::test {
namespace {

using Clock = std::chrono::steady_clock;

struct StressCase {
    const char *name;
    const char *video;
    const char *music;
    const char *extension;
    MixMode mode;
};

void PrintTo(const StressCase &c, std::ostream *os) { *os << c.name; }

enum class StopWay { FlagAtOnce, Flag, StopAndJoin, DestroyJob, RestartAtOnce };

const char *stopWayName(StopWay way) {
    switch (way) {
    case StopWay::FlagAtOnce:
        return "flag at once";
    case StopWay::Flag:
        return "flag";
    case StopWay::StopAndJoin:
        return "stopAndJoinMixJob";
    case StopWay::DestroyJob:
        return "destroying the job";
    case StopWay::RestartAtOnce:
        return "restart at once";
    }
    return "?";
}

unsigned long environmentNumber(const char *name, unsigned long fallback) {
    const char *text = std::getenv(name);
    return text ? std::strtoul(text, nullptr, 10) : fallback;
}

// Runs a blocking step on a helper thread and gives it the hang limit.
void boundedStep(const std::function<void()> &step, const std::string &what) {
    std::packaged_task<void()> task(step);
    std::future<void> done = task.get_future();
    std::thread helper(std::move(task));
    if (done.wait_for(2 * kHangLimit) != std::future_status::ready) {
        std::fprintf(stderr, "\n*** %s did not end; giving up\n", what.c_str());
        std::abort();
    }
    helper.join();
}

class StopStress : public ::testing::TestWithParam<StressCase> {};

TEST_P(StopStress, StopsAtRandomMomentsLeaveReadableOutputs) {
    const StressCase &c = GetParam();
    const std::string video = sample(c.video);
    const std::string music = sample(c.music);
    const std::string folder = makeFolder(std::string("stress-") + c.name);
    const unsigned long seed = environmentNumber("MELVORA_STRESS_SEED", 20261209);
    const unsigned long rounds =
        environmentNumber("MELVORA_STRESS_ROUNDS", std::getenv("MELVORA_ROBUSTNESS_HEAVY") ? 250 : 40);
    std::mt19937 random(static_cast<std::uint32_t>(seed));

    // One whole run first: it must finish in the expected mode, and its
    // length scales the moments at which the others are stopped.
    auto job = std::make_unique<MixJob>();
    const Clock::time_point start = Clock::now();
    const MixOutcome whole = watchedMix(*job, video, music, folder + "/whole" + c.extension);
    const auto runMicroseconds =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    ASSERT_EQ(whole.status, JobStatus::Finished) << whole.error;
    ASSERT_EQ(job->result.mode, c.mode);

    struct Round {
        std::string output;
        std::string description;
    };
    std::vector<Round> done;
    std::vector<std::string> problems;
    int finishedBeforeTheStop = 0;
    for (unsigned long round = 0; round < rounds; ++round) {
        const auto way = static_cast<StopWay>(random() % 5);
        // Up to a little beyond a whole run, with many very early moments.
        const long range = (random() % 3 == 0) ? 2000 : static_cast<long>(runMicroseconds * 11 / 10) + 1;
        const long delay = way == StopWay::FlagAtOnce ? 0 : static_cast<long>(random() % range);
        const std::string output = folder + "/round-" + std::to_string(round) + c.extension;
        const std::string description = std::string(c.name) + " round " + std::to_string(round) + ": " +
                                        stopWayName(way) + " after " + std::to_string(delay) + " us (seed " +
                                        std::to_string(seed) + ")";

        if (!launchMixJob(*job, video, music, output, 20.0)) {
            problems.push_back(description + ": could not start");
            continue;
        }
        if (delay > 0)
            std::this_thread::sleep_for(std::chrono::microseconds(delay));

        switch (way) {
        case StopWay::FlagAtOnce:
        case StopWay::Flag:
            job->stopRequested = 1;
            if (!joinWithin(*job, description))
                problems.push_back(description + ": did not end within the hang limit after the stop");
            break;
        case StopWay::StopAndJoin:
            boundedStep([&] { stopAndJoinMixJob(*job); }, description);
            break;
        case StopWay::DestroyJob:
            boundedStep([&] { job.reset(); }, description);
            job = std::make_unique<MixJob>();
            break;
        case StopWay::RestartAtOnce: {
            // The next run is started right away on the same record: it must
            // first wait for this one's tear-down.
            job->stopRequested = 1;
            const std::string next = folder + "/round-" + std::to_string(round) + "-next" + c.extension;
            boundedStep([&] { launchMixJob(*job, video, music, next, 20.0); }, description);
            job->stopRequested = 1;
            if (!joinWithin(*job, description + " (next run)"))
                problems.push_back(description + ": the next run did not end after its stop");
            done.push_back({next, description + " (next run)"});
            break;
        }
        }
        if (way != StopWay::DestroyJob) {
            const JobStatus status = job->status.load();
            if (status == JobStatus::Failed)
                problems.push_back(description + ": the stop ended as a failure: " + job->result.errorMessage);
            finishedBeforeTheStop += status == JobStatus::Finished;
        }
        done.push_back({output, description});
    }

    int readable = 0;
    for (const Round &round : done) {
        std::error_code error;
        const auto size = std::filesystem::file_size(round.output, error);
        if (error || size == 0)
            continue;
        if (isReadableMedia(round.output))
            ++readable;
        else
            problems.push_back(round.description + ": the output (" + std::to_string(size) + " bytes) is not readable");
    }
    std::cout << "[ figures  ] " << c.name << ": " << done.size() << " stopped runs (" << finishedBeforeTheStop
              << " had finished first), " << readable << " non-empty outputs read back, whole run "
              << runMicroseconds / 1000 << " ms, seed " << seed << "\n";
    EXPECT_TRUE(problems.empty()) << problems.size() << " problems:\n" << ::testing::PrintToString(problems);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, StopStress,
    ::testing::Values(StressCase{"copied_music", "long-silent.mp4", "long-music.mp3", ".mp4", MixMode::CopyMusic},
                      StressCase{"reencoded_music", "long-silent.mp4", "music.wma", ".mp4", MixMode::ReencodeMusic},
                      StressCase{"mixed_sound", "long-sound.mp4", "music.mp3", ".mp4", MixMode::MixBoth},
                      StressCase{"mixed_sound_mkv", "long-sound.mkv", "music.mp3", ".mkv", MixMode::MixBoth}),
    [](const ::testing::TestParamInfo<StressCase> &info) { return std::string(info.param.name); });

} // namespace
} // namespace melvora::test
