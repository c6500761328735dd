// Runs whole mixes on generated media and judges the outputs with ffprobe
// and ffmpeg from outside.

#include "Fixtures.h"
#include "MediaTool.h"

#include "engine/MixJob.h"

#include <gtest/gtest.h>

#include <functional>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <sys/stat.h>

extern "C" {
#include <libavutil/log.h>
}

namespace melvora::test {
namespace {

struct Outcome {
    JobStatus status;
    MixMode mode;
    std::string error;
    int progress;
};

Outcome runJob(MixJob &job, const std::string &video, const std::string &music, const std::string &output,
               double duration) {
    job.request.videoPath = video;
    job.request.musicPath = music;
    job.request.outputPath = output;
    job.request.durationSeconds = duration;
    job.stopRequested = 0;
    job.progressPercent = 0;
    EXPECT_TRUE(startMixJob(job));
    joinMixJob(job);
    return {job.status.load(), job.result.mode, job.result.errorMessage, job.progressPercent.load()};
}

Outcome runJob(const std::string &video, const std::string &music, const std::string &output) {
    MixJob job;
    return runJob(job, video, music, output, durationSeconds(video));
}

std::string outputPath(const std::string &name) { return makeFolder("out") + "/" + name; }

struct LayoutCase {
    const char *name;
    const char *video;
    const char *music;
    const char *outputExtension;
    MixMode mode;
    std::vector<std::string> streams;
};

void PrintTo(const LayoutCase &c, std::ostream *os) { *os << c.name; }

class OutputLayout : public ::testing::TestWithParam<LayoutCase> {};

// Every mode and container: the right streams, the video's length, a clean
// decode, and video packets identical to the input's.
TEST_P(OutputLayout, MixesIntoTheExpectedStreams) {
    const LayoutCase &c = GetParam();
    const std::string video = fixture(c.video);
    const std::string output = outputPath(std::string(c.name) + c.outputExtension);

    const Outcome outcome = runJob(video, fixture(c.music), output);

    ASSERT_EQ(outcome.status, JobStatus::Finished) << outcome.error;
    EXPECT_EQ(outcome.mode, c.mode);
    // Progress follows the last video packet's time, one frame short of the end.
    EXPECT_GE(outcome.progress, 95);
    EXPECT_EQ(streamSummary(output), c.streams);
    EXPECT_NEAR(durationSeconds(output), durationSeconds(video), 0.35);
    EXPECT_EQ(decodeErrors(output), 0);
    EXPECT_EQ(videoPacketChecksums(output), videoPacketChecksums(video));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, OutputLayout,
    ::testing::Values(
        LayoutCase{"own-sound-with-mp3", "video-440.mp4", "music-1000.mp3", ".mp4", MixMode::MixBoth,
                   {"video h264", "audio aac 44100 2"}},
        LayoutCase{"own-sound-with-51-flac", "video-440.mp4", "music-51.flac", ".mp4", MixMode::MixBoth,
                   {"video h264", "audio aac 44100 2"}},
        // Music shorter than the video loops; MP3's priming and padding would
        // leave a gap at every seam of copied packets, so it is re-encoded.
        LayoutCase{"silent-with-looped-mp3", "silent.mp4", "music-1000.mp3", ".mp4", MixMode::ReencodeMusic,
                   {"video h264", "audio aac 44100 2"}},
        LayoutCase{"silent-with-long-mp3", "silent.mp4", "music-long.mp3", ".mp4", MixMode::CopyMusic,
                   {"video h264", "audio mp3 44100 2"}},
        LayoutCase{"silent-with-wma", "silent.mp4", "music-1000.wma", ".mp4", MixMode::ReencodeMusic,
                   {"video h264", "audio aac 44100 2"}},
        LayoutCase{"silent-with-wav-in-mp4", "silent.mp4", "music-1000.wav", ".mp4", MixMode::ReencodeMusic,
                   {"video h264", "audio aac 44100 2"}},
        LayoutCase{"silent-with-wav-in-mkv", "silent.mkv", "music-1000.wav", ".mkv", MixMode::CopyMusic,
                   {"video h264", "audio pcm_s16le 44100 2"}},
        LayoutCase{"silent-avi", "silent.avi", "music-long.mp3", ".avi", MixMode::ReencodeMusic,
                   {"video mpeg4", "audio aac 44100 2"}},
        // Containers that cannot take the music as it is get AAC instead;
        // those that cannot hold AAC either, the codec they are made for.
        LayoutCase{"flac-into-mp4-reencoded", "silent.mp4", "music-51.flac", ".mp4", MixMode::ReencodeMusic,
                   {"video h264", "audio aac 44100 2"}},
        LayoutCase{"mp3-into-ts-reencoded", "silent-late-start.ts", "music-1000.mp3", ".ts",
                   MixMode::ReencodeMusic, {"video mpeg2video", "audio aac 44100 2"}},
        LayoutCase{"webm-stays-webm", "silent.webm", "music-1000.mp3", ".webm", MixMode::ReencodeMusic,
                   {"video vp8", "audio opus 48000 2"}},
        LayoutCase{"mpeg-program-stream", "silent.mpg", "music-1000.mp3", ".mpg", MixMode::ReencodeMusic,
                   {"video mpeg2video", "audio mp2 44100 2"}},
        // PCM loops as copied packets: no priming to bring back at a seam.
        LayoutCase{"wav-looped-in-avi", "silent.avi", "music-1000.wav", ".avi", MixMode::CopyMusic,
                   {"video mpeg4", "audio pcm_s16le 44100 2"}},
        LayoutCase{"subtitles-kept", "subs.mkv", "music-1000.mp3", ".mkv", MixMode::MixBoth,
                   {"video h264", "audio aac 44100 2", "subtitle subrip"}},
        // The first sound track carries the mix; the second is copied.
        LayoutCase{"second-sound-copied", "two-sounds.mkv", "music-1000.mp3", ".mkv", MixMode::MixBoth,
                   {"video h264", "audio aac 44100 2", "audio mp3 44100 1"}}),
    [](const ::testing::TestParamInfo<LayoutCase> &info) {
        std::string name = info.param.name;
        for (char &ch : name)
            if (ch == '-')
                ch = '_';
        return name;
    });

double streamStartSeconds(const std::string &path, const char *streamType) {
    const CommandResult result = runCommand("ffprobe -v error -select_streams " + std::string(streamType) +
                                            ":0 -show_entries stream=start_time -of csv=p=0 " + shellQuote(path));
    return std::stod(result.output); // the first line; MPEG-TS repeats it under its program
}

// A video whose clock starts late (every MPEG-TS file) keeps its sound in
// step with the picture, whether its own sound is mixed or music replaces it.
TEST(Timing, NewSoundStartsWithTheVideosClock) {
    for (const char *name : {"late-start.ts", "silent-late-start.ts"}) {
        SCOPED_TRACE(name);
        const std::string video = fixture(name);
        const std::string output = outputPath(std::string("timing-") + name);
        const Outcome outcome = runJob(video, fixture("music-1000.mp3"), output);
        ASSERT_EQ(outcome.status, JobStatus::Finished) << outcome.error;
        const double videoStart = streamStartSeconds(video, "v");
        ASSERT_GT(videoStart, 1.0);
        // AAC's priming frame (23 ms) may come first.
        EXPECT_NEAR(streamStartSeconds(output, "a"), videoStart, 0.05);
        EXPECT_NEAR(durationSeconds(output), durationSeconds(video), 0.35);
    }
}

// The new sound plays in step with the picture to the sample, in every
// container, whether it carries the video's own sound or the music alone,
// and it lasts until the last picture (within one AAC frame).
TEST(Timing, SoundIsInStepWithThePictureToTheSample) {
    struct Case {
        const char *video;
        const char *music;
        bool againstOwnSound; // else against the music
    };
    for (const Case c : {Case{"noise-own.mp4", "silence.mp3", true}, Case{"noise-own.mkv", "silence.mp3", true},
                         Case{"silent.mp4", "noise.wma", false}, Case{"silent.mkv", "noise.wma", false},
                         Case{"silent.webm", "noise.wma", false}, Case{"silent.ogv", "noise.wma", false},
                         Case{"silent.mpg", "noise.wma", false}}) {
        SCOPED_TRACE(std::string(c.video) + " + " + c.music);
        const std::string video = fixture(c.video);
        const std::string output =
            outputPath(std::string("step-") + c.music + std::filesystem::path(video).extension().string());
        ASSERT_EQ(runJob(video, fixture(c.music), output).status, JobStatus::Finished);
        const DecodedSound source = decodeSound(c.againstOwnSound ? video : fixture(c.music));
        const DecodedSound made = decodeSound(output);
        EXPECT_NEAR(soundOffsetSamples(source, made), 0, 1);
        const double soundEnd = made.startSeconds + static_cast<double>(made.samples.size()) / 44100;
        EXPECT_NEAR(soundEnd, pictureLengthSeconds(output), 1024.0 / 44100) << "sound " << made.startSeconds << ".."
                                                                           << soundEnd;
    }
}

// Music settings move and shape the music under the picture; none of them
// makes the sound outlast the last picture.
TEST(Timing, MusicSettingsNeverLengthenTheSound) {
    const std::function<void(MixSettings &)> rows[] = {
        [](MixSettings &s) { s.delaySeconds = 3; },
        [](MixSettings &s) { s.delaySeconds = 3600; },
        [](MixSettings &s) {
            s.musicStartSeconds = 0.5;
            s.fadeInSeconds = 2;
            s.fadeOutSeconds = 6;
        },
    };
    int row = 0;
    for (const auto &set : rows) {
        SCOPED_TRACE("row " + std::to_string(row));
        MixJob job;
        set(job.request.mixSettings);
        const std::string output = outputPath("settings-length-" + std::to_string(row++) + ".mp4");
        const Outcome outcome = runJob(job, fixture("video-440.mp4"), fixture("music-1000.mp3"), output, 4);
        ASSERT_EQ(outcome.status, JobStatus::Finished) << outcome.error;
        const DecodedSound made = decodeSound(output);
        const double soundEnd = made.startSeconds + static_cast<double>(made.samples.size()) / 44100;
        EXPECT_NEAR(soundEnd, pictureLengthSeconds(output), 1024.0 / 44100);
    }
}

// Several encoders at once, each on a stretch of the sound: the spliced track
// is whole (as many packets as one encoder gives), decodes cleanly, and plays
// in step with the picture to its end, whether it carries the mix or music.
TEST(Timing, SoundEncodedOnSeveralThreadsIsWholeAndInStep) {
    struct Case {
        const char *video;
        const char *music;
        bool againstOwnSound;
    };
    for (const Case c : {Case{"long-noise-own.mp4", "silence.mp3", true}, Case{"long-silent-75.mp4", "noise.wma", false}}) {
        SCOPED_TRACE(c.video);
        std::string outputs[2];
        for (const int threads : {1, 2}) {
            MixJob job;
            job.request.encoderThreads = threads;
            outputs[threads - 1] = outputPath(std::string("threads-") + std::to_string(threads) + "-" + c.video);
            const Outcome outcome = runJob(job, fixture(c.video), fixture(c.music), outputs[threads - 1], 75);
            ASSERT_EQ(outcome.status, JobStatus::Finished) << outcome.error;
        }
        EXPECT_EQ(packetCount(outputs[1], "a"), packetCount(outputs[0], "a"));
        EXPECT_EQ(decodeErrors(outputs[1]), 0);
        const DecodedSound source = decodeSound(c.againstOwnSound ? fixture(c.video) : fixture(c.music));
        const DecodedSound made = decodeSound(outputs[1]);
        EXPECT_NEAR(soundOffsetSamples(source, made), 0, 1);
        const double soundEnd = made.startSeconds + static_cast<double>(made.samples.size()) / 44100;
        EXPECT_NEAR(soundEnd, pictureLengthSeconds(outputs[1]), 1024.0 / 44100);
    }
}

// The music loops: its tone is heard after its own end, in every mode, and
// a mix carries both tones.
TEST(MixedSound, MusicLoopsAndBothTonesArePresent) {
    struct Case {
        const char *video;
        const char *music;
        bool ownTone;
    };
    for (const Case c : {Case{"silent.mp4", "music-1000.mp3", false}, Case{"silent.mp4", "music-1000.wma", false},
                         Case{"video-440.mp4", "music-1000.mp3", true}}) {
        SCOPED_TRACE(std::string(c.video) + " + " + c.music);
        const std::string output = outputPath(std::string("tones-") + c.music + ".mp4");
        ASSERT_EQ(runJob(fixture(c.video), fixture(c.music), output).status, JobStatus::Finished);
        // The music lasts 1.5 s: 2.0-3.5 s lies in its second and third pass.
        const double music = toneLevelDb(output, 2.0, 1.5, 1000);
        const double elsewhere = toneLevelDb(output, 2.0, 1.5, 3000);
        EXPECT_GT(music, -40.0);
        EXPECT_GT(music, elsewhere + 20.0);
        if (c.ownTone) {
            EXPECT_GT(toneLevelDb(output, 2.0, 1.5, 440), elsewhere + 20.0);
        }
    }
}

std::string fileBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The encoder runs beside the mixing, on as many threads as asked: a video
// too short for more than one of them gets the same file each time, however
// the threads were scheduled.
TEST(ParallelEncoding, GivesByteIdenticalOutput) {
    struct Way {
        const char *name;
        int threads;
    };
    const Way ways[] = {{"one", 1}, {"again", 1}, {"threads", 2}};
    for (const char *video : {"video-440.mp4", "two-sounds.mkv"}) {
        SCOPED_TRACE(video);
        const std::string extension = std::filesystem::path(video).extension().string();
        std::vector<std::string> outputs;
        for (const Way &way : ways) {
            MixJob job;
            job.request.encoderThreads = way.threads;
            outputs.push_back(outputPath(std::string("parallel-") + way.name + extension));
            const Outcome outcome = runJob(job, fixture(video), fixture("music-1000.mp3"), outputs.back(), 4.0);
            ASSERT_EQ(outcome.status, JobStatus::Finished) << outcome.error;
        }
        for (std::size_t i = 1; i < outputs.size(); ++i) {
            SCOPED_TRACE(ways[i].name);
            if (extension == ".mp4") {
                const std::string serial = fileBytes(outputs[0]);
                EXPECT_GT(serial.size(), 1000u);
                EXPECT_TRUE(serial == fileBytes(outputs[i]));
            } else {
                // Matroska stamps every file with a random identifier: compare
                // every packet's bytes, time stamps and place in the file instead.
                EXPECT_EQ(packetLayout(outputs[0]), packetLayout(outputs[i]));
            }
        }
    }
}

TEST(StopRequest, BeforeTheFirstPassLeavesAnEmptyPlayableFile) {
    const std::string output = outputPath("stopped-at-once.mp4");
    MixJob job;
    job.request.videoPath = fixture("video-440.mp4");
    job.request.musicPath = fixture("music-1000.mp3");
    job.request.outputPath = output;
    job.request.durationSeconds = 4;
    job.stopRequested = 1; // seen at the top of the first pass
    mixWorker(job);

    EXPECT_EQ(job.status.load(), JobStatus::Running);
    // Header and trailer only: MP4 leaves out tracks without samples.
    EXPECT_TRUE(isReadableMedia(output));
    EXPECT_EQ(packetCount(output, "v"), 0);
    EXPECT_EQ(packetCount(output, "a"), 0);
}

TEST(StopRequest, InTheMiddleLeavesAShorterPlayableFile) {
    // The last is long enough for several encoders at once: a stop still
    // finishes the stretches in flight, so the sound lasts to the last picture.
    for (const char *video : {"long-video-440.mp4", "long-silent.mp4", "long-noise-own.mp4"}) {
        SCOPED_TRACE(video);
        const std::string output = outputPath(std::string("stopped-") + video);
        MixJob job;
        job.request.videoPath = fixture(video);
        job.request.musicPath = fixture("music-1000.mp3");
        job.request.outputPath = output;
        job.request.durationSeconds = durationSeconds(job.request.videoPath);
        ASSERT_TRUE(startMixJob(job));
        while (job.progressPercent.load() < 50 && job.workerActive.load())
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        job.stopRequested = 1;
        joinMixJob(job);

        EXPECT_EQ(job.status.load(), JobStatus::Running) << job.result.errorMessage;
        const double length = durationSeconds(output);
        EXPECT_GT(length, 1.0);
        EXPECT_LT(length, 0.8 * durationSeconds(job.request.videoPath));
        EXPECT_EQ(decodeErrors(output), 0);
        const DecodedSound made = decodeSound(output);
        const double soundEnd = made.startSeconds + static_cast<double>(made.samples.size()) / 44100;
        EXPECT_NEAR(soundEnd, pictureLengthSeconds(output), 1024.0 / 44100);
    }
}

// Held hard at a low ceiling, noise comes out of the first encoding with its
// peaks over it; a stop during the second encoding keeps the first file,
// whole, as the run's output, and no partial file of either is left.
TEST(StopRequest, DuringASecondEncodingKeepsTheFirstFile) {
    const std::string folder = makeFolder("stopped-second-encoding");
    MixJob job;
    job.request.videoPath = fixture("long-noise-own.mp4");
    job.request.musicPath = fixture("music-1000.mp3");
    job.request.outputPath = folder + "/out.mp4";
    job.request.durationSeconds = durationSeconds(job.request.videoPath);
    job.request.mixSettings.musicGainDb = -30;
    job.request.mixSettings.loudnessLufs = -12;
    job.request.mixSettings.truePeakDb = -3;
    ASSERT_TRUE(startMixJob(job));
    int highest = 0;
    for (int now = 0; job.workerActive.load() && now >= highest - 10; now = job.progressPercent.load()) {
        highest = std::max(highest, now);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    job.stopRequested = 1;
    joinMixJob(job);

    ASSERT_EQ(job.status.load(), JobStatus::Finished) << job.result.errorMessage;
    EXPECT_EQ(job.result.encodings, 1) << "the second encoding was not stopped";
    EXPECT_GT(job.result.outputTruePeak, -3.05);
    EXPECT_NEAR(durationSeconds(job.request.outputPath), job.request.durationSeconds, 0.5);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
}

TEST(Progress, ZeroDurationKeepsProgressAtZero) {
    MixJob job;
    const Outcome outcome = runJob(job, fixture("silent.mp4"), fixture("music-1000.mp3"),
                                   outputPath("no-duration.mp4"), 0.0);
    EXPECT_EQ(outcome.status, JobStatus::Finished);
    EXPECT_EQ(outcome.progress, 0);
}

// Broken inputs and outputs end as Failed with a reason; none crashes or hangs.
TEST(Failures, EndAsFailedWithAReason) {
    struct Case {
        const char *name;
        std::string video;
        std::string music;
        std::string output;
        const char *reason;
    };
    const std::string missingFolder = scratchFolder() + "/no-such-folder/out.mp4";
    const Case cases[] = {
        {"unopenable output", fixture("silent.mp4"), fixture("music-1000.mp3"), missingFolder, "output"},
        {"garbage music", fixture("silent.mp4"), fixture("garbage.mp3"), outputPath("garbage-music.mp4"), "music"},
        {"music without sound", fixture("silent.mp4"), fixture("silent.mkv"), outputPath("no-sound.mp4"), "music"},
        {"garbage video", fixture("garbage.mp4"), fixture("music-1000.mp3"), outputPath("garbage-video.mp4"),
         "video"},
        {"missing video", scratchFolder() + "/none.mp4", fixture("music-1000.mp3"), outputPath("none.mp4"), "video"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = runJob(c.video, c.music, c.output);
        EXPECT_EQ(outcome.status, JobStatus::Failed);
        EXPECT_NE(outcome.error.find(c.reason), std::string::npos) << outcome.error;
    }
}

// Half a Matroska file whose header gives the whole length: the run is no
// finished video, and its output goes, unless asked to keep what there is.
TEST(Failures, VideoCutShortIsNotCalledFinished) {
    for (const bool allowShort : {false, true}) {
        SCOPED_TRACE(allowShort ? "allowed" : "refused");
        const std::string output = outputPath(allowShort ? "truncated-kept.mkv" : "truncated.mkv");
        MixJob job;
        job.request.allowShortVideo = allowShort;
        const Outcome outcome = runJob(job, fixture("truncated.mkv"), fixture("music-1000.mp3"), output,
                                       durationSeconds(fixture("subs.mkv")));
        const std::string said = allowShort ? (job.result.warnings.empty() ? "" : job.result.warnings[0]) : outcome.error;
        EXPECT_NE(said.find("(damaged or incomplete)"), std::string::npos) << said;
        EXPECT_EQ(outcome.status, allowShort ? JobStatus::Finished : JobStatus::Failed);
        EXPECT_EQ(std::filesystem::exists(output), allowShort);
        if (allowShort)
            EXPECT_EQ(decodeErrors(output), 0);
    }
}

TEST(JobReuse, ASecondRunAfterAFailureStartsAfresh) {
    MixJob job;
    const std::string video = fixture("video-440.mp4");
    Outcome first = runJob(job, video, fixture("garbage.mp3"), outputPath("reuse-1.mp4"), 4);
    ASSERT_EQ(first.status, JobStatus::Failed);
    Outcome second = runJob(job, video, fixture("music-1000.mp3"), outputPath("reuse-2.mp4"), 4);
    EXPECT_EQ(second.status, JobStatus::Finished) << second.error;
    EXPECT_TRUE(second.error.empty());
}

TEST(JobReuse, DestroyingAJobStopsItsWorker) {
    const std::string output = outputPath("destroyed.mp4");
    {
        MixJob job;
        job.request.videoPath = fixture("long-video-440.mp4");
        job.request.musicPath = fixture("music-1000.mp3");
        job.request.outputPath = output;
        ASSERT_TRUE(startMixJob(job));
    }
    EXPECT_TRUE(isReadableMedia(output));
}

TEST(Paths, NonAsciiNamesWork) {
    const std::string folder = makeFolder("视频 文件夹");
    const std::string video = folder + "/我的视频.mp4";
    const std::string music = folder + "/音乐 ü.mp3";
    std::filesystem::copy_file(fixture("video-440.mp4"), video);
    std::filesystem::copy_file(fixture("music-1000.mp3"), music);
    const std::string output = folder + "/输出.mp4";
    const Outcome outcome = runJob(video, music, output);
    EXPECT_EQ(outcome.status, JobStatus::Finished) << outcome.error;
    EXPECT_EQ(decodeErrors(output), 0);
}

// An output name without a known extension takes the video's own container type.
TEST(Paths, UnknownOutputExtensionTakesTheVideosContainer) {
    for (const char *name : {"no-extension", "odd.unknownext"}) {
        SCOPED_TRACE(name);
        const std::string output = outputPath(name);
        const Outcome outcome = runJob(fixture("video-440.mp4"), fixture("music-1000.mp3"), output);
        EXPECT_EQ(outcome.status, JobStatus::Finished) << outcome.error;
        const CommandResult format =
            runCommand("ffprobe -v error -show_entries format=format_name -of csv=p=0 " + shellQuote(output));
        EXPECT_NE(format.output.find("mp4"), std::string::npos) << format.output;
    }
}

// Names that look like other protocols are plain local file names.
// Something put at the output's name after it was claimed (a link to
// another file, a FIFO) is never written through: the run fails at once and
// the file the link points to keeps its bytes.
TEST(Paths, OutputIsNeverWrittenThroughALinkOrAFifo) {
    const std::string folder = makeFolder("planted");
    const std::string precious = folder + "/precious.txt";
    {
        std::ofstream out(precious);
        out << "keep me";
    }
    const std::string link = folder + "/link.mp4";
    std::filesystem::remove(link);
    std::filesystem::create_symlink(precious, link);
    const Outcome throughLink = runJob(fixture("silent.mp4"), fixture("music-1000.mp3"), link);
    EXPECT_EQ(throughLink.status, JobStatus::Failed);
    std::ifstream in(precious);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep me");

    const std::string fifo = folder + "/fifo.mp4";
    std::filesystem::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(runJob(fixture("silent.mp4"), fixture("music-1000.mp3"), fifo).status, JobStatus::Failed);
}

TEST(Paths, OtherProtocolsAreNeverReached) {
    const std::string folder = makeFolder("protocols");
    const std::string playlist = folder + "/list.m3u8";
    {
        std::ofstream out(playlist);
        out << "#EXTM3U\n#EXT-X-TARGETDURATION:4\n#EXTINF:4,\nhttp://127.0.0.1:9/x.ts\n#EXT-X-ENDLIST\n";
    }
    const Outcome fromPlaylist = runJob(playlist, fixture("music-1000.mp3"), outputPath("playlist.mp4"));
    EXPECT_EQ(fromPlaylist.status, JobStatus::Failed);

    const Outcome concat = runJob("concat:" + fixture("silent.mp4") + "|" + fixture("silent.mp4"),
                                  fixture("music-1000.mp3"), outputPath("concat.mp4"));
    EXPECT_EQ(concat.status, JobStatus::Failed);
    EXPECT_NE(concat.error.find("video"), std::string::npos);
}

} // namespace
} // namespace melvora::test

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    av_log_set_level(AV_LOG_QUIET);
    return RUN_ALL_TESTS();
}
