// The media probe on files of known make-up.

#include "Fixtures.h"
#include "MediaTool.h"

#include "engine/MediaProbe.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/error.h>
}

namespace melvora::test {
namespace {

struct ProbeCase {
    const char *name;
    const char *file;
    int videoResult;
    int audioResult;
    int width; // of the last examined video stream, 0 when none was examined
    int height;
};

void PrintTo(const ProbeCase &c, std::ostream *os) { *os << c.name; }

class ProbeClassification : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(ProbeClassification, TellsVideosFromMusic) {
    const ProbeCase &c = GetParam();
    MixJob job;
    job.probePath = fixture(c.file);
    EXPECT_EQ(probeVideo(job), c.videoResult);
    EXPECT_EQ(job.info.videoWidth, c.width);
    EXPECT_EQ(job.info.videoHeight, c.height);
    EXPECT_EQ(job.info.startTime, 0);

    MixJob fresh;
    fresh.probePath = fixture(c.file);
    EXPECT_EQ(probeAudio(fresh), c.audioResult);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ProbeClassification,
    ::testing::Values(ProbeCase{"video_with_sound", "video-440.mp4", 0, 0, 160, 90},
                      ProbeCase{"silent_video", "silent.mp4", 0, -1, 160, 90},
                      ProbeCase{"plain_music", "music-1000.mp3", -1, 0, 0, 0},
                      // A JPEG cover in a two-stream file counts as video and is even opened.
                      ProbeCase{"jpeg_cover", "cover-jpeg.mp3", 0, 0, 120, 80},
                      ProbeCase{"png_cover", "cover-png.mp3", -1, 0, 0, 0},
                      // Motion JPEG among three streams counts as video but is not examined.
                      ProbeCase{"mjpeg_among_three", "mjpeg-among-three.mkv", 0, 0, 0, 0},
                      ProbeCase{"subtitles_only", "subtitles.srt", -1, -1, 0, 0},
                      ProbeCase{"garbage", "garbage.mp4", -1, -1, 0, 0}),
    [](const ::testing::TestParamInfo<ProbeCase> &info) { return std::string(info.param.name); });

TEST(Probe, UnreadableFileKeepsFFmpegsCode) {
    MixJob job;
    job.probePath = scratchFolder() + "/does-not-exist.mp4";
    EXPECT_EQ(probeVideo(job), kProbeNotUsable);
    EXPECT_EQ(job.probeResult, AVERROR(ENOENT));
}

TEST(Probe, ReadsTheVideoParameters) {
    MixJob job;
    job.probePath = fixture("ntsc.mp4");
    ASSERT_EQ(probeVideo(job), 0);
    EXPECT_EQ(job.info.frameRateNum, 30000);
    EXPECT_EQ(job.info.frameRateDen, 1001);
    EXPECT_EQ(job.info.videoWidth, 64);
    EXPECT_NEAR(static_cast<double>(job.info.videoDuration), 1e6, 0.1e6);
    EXPECT_EQ(job.info.endTime, job.info.videoDuration);
    EXPECT_NE(job.info.videoProfile, 0); // H.264 carries a profile
}

TEST(Probe, MusicProbeKeepsTheVideosDurationAndANewVideoReplacesIt) {
    MixJob job;
    job.probePath = fixture("video-440.mp4");
    ASSERT_EQ(probeVideo(job), 0);
    const std::int64_t videoDuration = job.info.videoDuration;
    EXPECT_NEAR(static_cast<double>(videoDuration), 4e6, 0.2e6);

    job.probePath = fixture("music-1000.mp3");
    ASSERT_EQ(probeAudio(job), 0);
    EXPECT_EQ(job.info.videoDuration, videoDuration);
    EXPECT_NEAR(static_cast<double>(job.info.audioDuration), 1.5e6, 0.1e6);
    EXPECT_EQ(job.info.audioSampleRate, 44100);

    job.probePath = fixture("ntsc.mp4");
    ASSERT_EQ(probeVideo(job), 0);
    EXPECT_NEAR(static_cast<double>(job.info.videoDuration), 1e6, 0.1e6);
}

} // namespace
} // namespace melvora::test
