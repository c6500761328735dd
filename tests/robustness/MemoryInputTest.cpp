// The memory-input seam the fuzzers use: an input served from memory must
// behave exactly like the same bytes on disk, stay within its read budget,
// open nothing else, and leave every other name to the disk.

#include "MediaTool.h"
#include "SampleMedia.h"
#include "WatchedRun.h"

#include "engine/MediaProbe.h"
#include "engine/MemoryInput.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

extern "C" {
#include <libavutil/error.h>
}

namespace melvora::test {
namespace {

struct SameAsDiskCase {
    const char *video;
    const char *music;
    MixMode mode;
};

void PrintTo(const SameAsDiskCase &c, std::ostream *os) { *os << c.video << " + " << c.music; }

class MemoryInputSameAsDisk : public ::testing::TestWithParam<SameAsDiskCase> {};

TEST_P(MemoryInputSameAsDisk, ProbesAndMixesLikeTheFile) {
    const SameAsDiskCase &c = GetParam();
    const std::string videoFile = sample(c.video);
    const std::string musicFile = sample(c.music);
    const std::string folder = makeFolder("memory-same");
    MixJob fromDisk;
    MixJob fromMemory;
    MemoryInput video(fromMemory, "memory-video", readBytes(videoFile));
    MemoryInput music(fromMemory, "memory-music", readBytes(musicFile));
    ASSERT_EQ(watchedProbe(fromDisk, videoFile, true).result, kProbeAccepted);
    ASSERT_EQ(watchedProbe(fromMemory, video.name(), true).result, kProbeAccepted);
    EXPECT_EQ(fromMemory.info.videoWidth, fromDisk.info.videoWidth);
    EXPECT_EQ(fromMemory.info.frameRateNum, fromDisk.info.frameRateNum);
    EXPECT_EQ(fromMemory.info.videoDuration, fromDisk.info.videoDuration);
    ASSERT_EQ(watchedProbe(fromDisk, musicFile, false).result, kProbeAccepted);
    ASSERT_EQ(watchedProbe(fromMemory, music.name(), false).result, kProbeAccepted);
    EXPECT_EQ(fromMemory.info.audioSampleRate, fromDisk.info.audioSampleRate);
    EXPECT_EQ(fromMemory.info.audioChannels, fromDisk.info.audioChannels);

    const std::string diskOutput = folder + "/disk-" + c.video;
    const std::string memoryOutput = folder + "/memory-" + c.video;
    ASSERT_EQ(watchedMix(fromDisk, videoFile, musicFile, diskOutput).status, JobStatus::Finished);
    const MixOutcome outcome = watchedMix(fromMemory, video.name(), music.name(), memoryOutput);
    ASSERT_EQ(outcome.status, JobStatus::Finished) << outcome.error;
    EXPECT_EQ(fromMemory.result.mode, c.mode);
    EXPECT_EQ(videoPacketChecksums(memoryOutput), videoPacketChecksums(videoFile));
    EXPECT_EQ(packetCount(memoryOutput, "a"), packetCount(diskOutput, "a"));
    EXPECT_EQ(video.openCount(), 2);
    EXPECT_EQ(music.openCount(), 2);
}

INSTANTIATE_TEST_SUITE_P(Modes, MemoryInputSameAsDisk,
                         ::testing::Values(SameAsDiskCase{"v-h264.mkv", "m.flac", MixMode::CopyMusic},
                                           SameAsDiskCase{"v-h264.mkv", "m.wma", MixMode::ReencodeMusic},
                                           SameAsDiskCase{"v-h264-aac.mp4", "m.flac", MixMode::MixBoth}));

TEST(MemoryInput, OtherNamesStillComeFromDisk) {
    MixJob job;
    MemoryInput registered(job, "registered-name", readBytes(sample("m.mp3")));
    EXPECT_EQ(watchedProbe(job, sample("v-h264.mkv"), true).result, kProbeAccepted);
    EXPECT_EQ(watchedProbe(job, "unregistered-name", true).result, kProbeNotUsable);
    EXPECT_EQ(job.probeResult, AVERROR(ENOENT));
    EXPECT_EQ(registered.openCount(), 0);
}

// The registered name means nothing to any other job, such as the one a
// front end probes the user's files with: there it names a file on disk.
TEST(MemoryInput, IsServedOnlyToTheJobItWasRegisteredFor) {
    const std::string folder = makeFolder("memory-other-job");
    const std::string name = folder + "/clip.mkv";
    std::filesystem::copy_file(sample("v-h264.mkv"), name);
    MixJob registeredFor;
    MemoryInput input(registeredFor, name, readBytes(sample("m.mp3")));

    MixJob userJob;
    EXPECT_EQ(watchedProbe(userJob, name, true).result, kProbeAccepted);
    EXPECT_EQ(userJob.info.videoWidth, 64);
    EXPECT_EQ(input.openCount(), 0);
    EXPECT_EQ(watchedProbe(userJob, "memory-only-name", false).result, kProbeNotUsable);

    // The job it was registered for gets the music from memory under the same name.
    EXPECT_EQ(watchedProbe(registeredFor, name, true).result, kProbeNotUsable);
    EXPECT_EQ(watchedProbe(registeredFor, name, false).result, kProbeAccepted);
    EXPECT_EQ(input.openCount(), 2);
}

TEST(MemoryInput, IsForgottenWhenDestroyed) {
    MixJob job;
    {
        MemoryInput input(job, "short-lived", readBytes(sample("m.mp3")));
        EXPECT_EQ(watchedProbe(job, "short-lived", false).result, kProbeAccepted);
    }
    EXPECT_EQ(watchedProbe(job, "short-lived", false).result, kProbeNotUsable);
}

// Lists served from memory cannot reach the files they name (a picture size
// that only the named file has).
TEST(MemoryInput, OpensNothingElse) {
    const std::string named = sample("other-320x240.ts");
    const std::string hls = "#EXTM3U\n#EXT-X-TARGETDURATION:4\n#EXTINF:1,\nfile:" + named + "\n#EXT-X-ENDLIST\n";
    const std::string concat = "ffconcat version 1.0\nfile 'file:" + named + "'\n";
    MixJob job;
    MemoryInput playlist(job, "playlist.m3u8", std::vector<std::uint8_t>(hls.begin(), hls.end()));
    MemoryInput list(job, "list.ffconcat", std::vector<std::uint8_t>(concat.begin(), concat.end()));
    for (const std::string &name : {playlist.name(), list.name()}) {
        SCOPED_TRACE(name);
        job.info = MediaInfo{};
        EXPECT_EQ(watchedProbe(job, name, true).result, kProbeNotUsable);
        EXPECT_NE(job.info.videoWidth, 320);
    }
}

// The budget ends a run that would otherwise go on: the spent budget asks the
// job to stop, and the run ends as stopped with a readable, shorter output.
TEST(MemoryInput, ASpentBudgetStopsTheRun) {
    const std::string folder = makeFolder("memory-budget");
    // Runs on this thread, so that the budget alone decides where a run ends.
    auto runWithBudget = [&](std::int64_t calls, const std::string &output, int &spent) {
        auto job = std::make_unique<MixJob>();
        MixJob *target = job.get();
        auto budget = std::make_shared<MemoryInput::ReadBudget>(calls, [target, &spent] {
            ++spent;
            target->stopRequested = 1;
        });
        MemoryInput video(*job, "budget-video", readBytes(sample("long-sound.mp4")), budget, 1024);
        MemoryInput music(*job, "budget-music", readBytes(sample("music.mp3")), budget, 1024);
        job->request.videoPath = video.name();
        job->request.musicPath = music.name();
        job->request.outputPath = output;
        mixWorker(*job);
        return std::make_pair(job->status.load(), calls - budget->callsLeft.load());
    };

    int spent = 0;
    const auto [wholeStatus, used] = runWithBudget(std::int64_t{1} << 40, folder + "/whole.mp4", spent);
    ASSERT_EQ(wholeStatus, JobStatus::Finished);
    ASSERT_EQ(spent, 0);
    ASSERT_GT(used, 100);

    const std::string output = folder + "/half.mp4";
    const auto [status, halfUsed] = runWithBudget(used / 2, output, spent);
    EXPECT_EQ(spent, 1);
    EXPECT_EQ(status, JobStatus::Running); // stopped, not failed
    EXPECT_TRUE(isReadableMedia(output));
    EXPECT_LT(durationSeconds(output), durationSeconds(folder + "/whole.mp4") - 1.0);
}

} // namespace
} // namespace melvora::test
