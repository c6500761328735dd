// Files as phones, cameras and editors make them: what they carry comes out
// whole, the music goes where the user listens and covers the picture, and
// copied or looped music plays without a gap. Judged from outside.

#include "Fixtures.h"
#include "MediaTool.h"

#include "engine/MixJob.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

namespace melvora::test {
namespace {

const std::string kPicture = "-f lavfi -i testsrc=size=96x64:rate=25:duration=2 ";
const std::string kTone440 = "-f lavfi -i sine=frequency=440:duration=2 ";

std::string folder() {
    static const std::string made = makeFolder("real-files");
    return made;
}

std::string made(const std::string &name, const std::string &arguments) {
    const std::string path = folder() + "/" + name;
    makeMedia(arguments, path);
    return path;
}

std::string written(const std::string &name, const std::string &text) {
    const std::string path = folder() + "/" + name;
    std::ofstream(path) << text;
    return path;
}

// A copy of the file whose picture carries a display matrix of a portrait
// phone clip: the ffmpeg program of this release cannot write one itself.
std::string rotatedCopy(const std::string &source) {
    const std::string path = folder() + "/portrait.mp4";
    AVFormatContext *in = nullptr, *out = nullptr;
    EXPECT_EQ(avformat_open_input(&in, source.c_str(), nullptr, nullptr), 0);
    EXPECT_GE(avformat_find_stream_info(in, nullptr), 0);
    EXPECT_GE(avformat_alloc_output_context2(&out, nullptr, nullptr, path.c_str()), 0);
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        AVStream *stream = avformat_new_stream(out, nullptr);
        avcodec_parameters_copy(stream->codecpar, in->streams[i]->codecpar);
        stream->codecpar->codec_tag = 0;
        stream->time_base = in->streams[i]->time_base;
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            av_display_rotation_set(reinterpret_cast<std::int32_t *>(
                                        av_stream_new_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, 9 * 4)),
                                    90);
    }
    EXPECT_GE(avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE), 0);
    EXPECT_GE(avformat_write_header(out, nullptr), 0);
    AVPacket *packet = av_packet_alloc();
    while (av_read_frame(in, packet) >= 0) {
        av_packet_rescale_ts(packet, in->streams[packet->stream_index]->time_base,
                             out->streams[packet->stream_index]->time_base);
        EXPECT_GE(av_interleaved_write_frame(out, packet), 0);
    }
    EXPECT_GE(av_write_trailer(out), 0);
    av_packet_free(&packet);
    avio_closep(&out->pb);
    avformat_free_context(out);
    avformat_close_input(&in);
    return path;
}

struct MixRun {
    JobStatus status;
    std::string error;
    std::vector<std::string> warnings;
};

MixRun mix(const std::string &video, const std::string &music, const std::string &output, bool fastStart = false) {
    MixJob job;
    job.request.videoPath = video;
    job.request.musicPath = music;
    job.request.outputPath = output;
    job.request.durationSeconds = durationSeconds(video);
    job.request.fastStart = fastStart;
    EXPECT_TRUE(startMixJob(job));
    joinMixJob(job);
    return {job.status.load(), job.result.errorMessage, job.result.warnings};
}

std::string probed(const std::string &path, const std::string &entries) {
    return runCommand("ffprobe -v error " + entries + " -of default=nw=1 " + shellQuote(path)).output;
}

struct KeptCase {
    const char *name;
    std::function<std::string()> input;
    std::string entries;              // what ffprobe shows of the output
    std::vector<std::string> shown;   // lines it must show, as they were in the input
};

void PrintTo(const KeptCase &c, std::ostream *os) { *os << c.name; }

class WhatTheInputCarries : public ::testing::TestWithParam<KeptCase> {};

TEST_P(WhatTheInputCarries, ComesOutWhole) {
    const KeptCase &c = GetParam();
    const std::string input = c.input();
    const std::string output = makeFolder(std::string("kept-") + c.name) + "/" + std::filesystem::path(input).filename().string();
    const MixRun run = mix(input, fixture("music-1000.mp3"), output);
    ASSERT_EQ(run.status, JobStatus::Finished) << run.error;
    EXPECT_TRUE(run.warnings.empty()) << run.warnings.front();
    const std::string shown = probed(output, c.entries);
    for (const std::string &line : c.shown) {
        EXPECT_NE(probed(input, c.entries).find(line), std::string::npos) << "the input should show " << line;
        EXPECT_NE(shown.find(line + "\n"), std::string::npos) << line << " missing in:\n" << shown;
    }
    EXPECT_EQ(videoPacketChecksums(output), videoPacketChecksums(input));
}

INSTANTIATE_TEST_SUITE_P(
    Table, WhatTheInputCarries,
    ::testing::Values(
        KeptCase{"rotation", [] { return rotatedCopy(fixture("video-440.mp4")); }, "-show_streams", {"rotation=-90"}},
        KeptCase{"hvc1",
                 [] {
                     return made("hvc1.mp4", kPicture + kTone440 +
                                                 "-c:v libx265 -preset ultrafast -x265-params log-level=error "
                                                 "-tag:v hvc1 -c:a aac");
                 },
                 "-show_entries stream=codec_tag_string",
                 {"codec_tag_string=hvc1"}},
        KeptCase{"proresProxyWithAspect",
                 [] { return made("proxy.mov", kPicture + kTone440 + "-vf setsar=4/3 -c:v prores_ks -profile:v 0 -c:a aac"); },
                 "-show_entries stream=codec_tag_string,sample_aspect_ratio",
                 {"codec_tag_string=apco", "sample_aspect_ratio=4:3"}},
        KeptCase{"tagsChaptersAndSubtitlesInMp4",
                 [] {
                     const std::string meta = written("meta.txt", ";FFMETADATA1\ntitle=Clip\nartist=Me\ncomment=Hi\n"
                                                                  "creation_time=2020-05-01T10:00:00Z\n[CHAPTER]\n"
                                                                  "TIMEBASE=1/1000\nSTART=0\nEND=1000\ntitle=One\n"
                                                                  "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=2000\n"
                                                                  "title=Two\n");
                     const std::string srt = written("s.srt", "1\n00:00:00,500 --> 00:00:01,500\nHello\n\n");
                     return made("tagged.mp4", kPicture + kTone440 + "-i " + shellQuote(srt) + " -i " +
                                                   shellQuote(meta) +
                                                   " -map 0 -map 1 -map 2 -map_metadata 3 -map_chapters 3 "
                                                   "-c:v libx264 -preset ultrafast -c:a aac -c:s mov_text "
                                                   "-metadata:s:a language=eng -metadata:s:a handler_name=Interview");
                 },
                 "-show_chapters -show_entries format_tags:stream=codec_name:stream_tags=language,handler_name",
                 {"TAG:title=Clip", "TAG:artist=Me", "TAG:comment=Hi", "TAG:creation_time=2020-05-01T10:00:00.000000Z",
                  "TAG:title=Two", "codec_name=mov_text", "TAG:language=eng", "TAG:handler_name=Interview"}},
        KeptCase{"subtitlesFontsCoverAndTitlesInMkv",
                 [] {
                     const std::string srt = written("m.srt", "1\n00:00:00,500 --> 00:00:01,500\nHello\n\n");
                     const std::string ass = written("m.ass", "[Script Info]\nScriptType: v4.00+\n\n[V4+ Styles]\n"
                                                              "Format: Name, Fontname, Fontsize\nStyle: Default,Sans,20\n\n"
                                                              "[Events]\nFormat: Layer, Start, End, Style, Text\n"
                                                              "Dialogue: 0,0:00:00.50,0:00:01.50,Default,Hi\n");
                     const std::string cover = made("cover.jpg", "-f lavfi -i testsrc=size=64x48:rate=1 -frames:v 1");
                     return made("extras.mkv",
                                 kPicture + kTone440 + "-i " + shellQuote(srt) + " -i " + shellQuote(ass) +
                                     " -map 0 -map 1 -map 2 -map 3 -c:v libx264 -preset ultrafast -c:a aac -c:s copy "
                                     "-metadata:s:a:0 title=Main -attach " + shellQuote(fixture("music-1000.mp3")) +
                                     " -metadata:s:t:0 mimetype=audio/mpeg -attach " + shellQuote(cover) +
                                     " -metadata:s:t:1 mimetype=image/jpeg");
                 },
                 "-show_entries stream=codec_name:stream_disposition=attached_pic:stream_tags=title,filename",
                 {"codec_name=subrip", "codec_name=ass", "TAG:title=Main", "TAG:filename=music-1000.mp3",
                  // Read back as a picture attached to the file, not as a one-frame video track.
                  "DISPOSITION:attached_pic=1"}},
        KeptCase{"timecodeInMov",
                 [] { return made("timecode.mov", kPicture + kTone440 + "-timecode 01:00:00:00 -c:v libx264 -preset ultrafast -c:a aac"); },
                 "-show_entries stream=codec_tag_string:stream_tags=timecode",
                 {"codec_tag_string=tmcd", "TAG:timecode=01:00:00:00"}}),
    [](const auto &info) { return std::string(info.param.name); });

// A file whose name does not match its content (Matroska named .mp4): what
// the MP4 container cannot hold is named, not dropped silently.
TEST(WhatTheInputCarries, WhatTheContainerCannotHoldIsNamed) {
    const std::string input = folder() + "/matroska-named.mp4";
    std::filesystem::copy_file(fixture("subs.mkv"), input, std::filesystem::copy_options::overwrite_existing);
    const MixRun run = mix(input, fixture("music-1000.mp3"), makeFolder("misnamed") + "/out.mp4");
    ASSERT_EQ(run.status, JobStatus::Finished) << run.error;
    ASSERT_EQ(run.warnings.size(), 1u);
    EXPECT_NE(run.warnings[0].find("subtitle, subrip"), std::string::npos) << run.warnings[0];
}

// With an English track marked default first and a Japanese one after it,
// the music is laid under the English one, the track a player plays.
TEST(OwnSound, IsTheTrackMarkedDefault) {
    const std::string input =
        made("languages.mkv", kPicture + kTone440 + "-f lavfi -i sine=frequency=660:duration=2 -map 0 -map 1 -map 2 "
                              "-c:v libx264 -preset ultrafast -c:a aac -metadata:s:a:0 language=eng "
                              "-metadata:s:a:1 language=jpn -disposition:a:0 default -disposition:a:1 0");
    const std::string output = makeFolder("languages") + "/out.mkv";
    ASSERT_EQ(mix(input, fixture("music-1000.mp3"), output).status, JobStatus::Finished);
    EXPECT_NE(probed(output, "-select_streams a:0 -show_entries stream_tags=language").find("language=eng"),
              std::string::npos);
    const DecodedSound english = decodeSound(output, 0), japanese = decodeSound(output, 1);
    EXPECT_GT(toneDb(english.samples, 0.5, 1, 1000), -30);
    EXPECT_GT(toneDb(english.samples, 0.5, 1, 440), -30);
    EXPECT_LT(toneDb(japanese.samples, 0.5, 1, 1000), -60);
    EXPECT_GT(toneDb(japanese.samples, 0.5, 1, 660), -30);
}

// Looped music has no gap at its seams, whatever its codec's priming and
// padding, and each pass plays in step with the file's own samples.
TEST(LoopedMusic, JoinsWithoutAGapAndInStep) {
    for (const char *extension : {"mp3", "m4a", "opus"}) {
        SCOPED_TRACE(extension);
        const std::string music =
            made(std::string("noise.") + extension, "-f lavfi -i anoisesrc=d=1.3:c=pink:r=44100:a=0.3:s=3 -ac 2");
        const std::string output = makeFolder(std::string("loop-") + extension) + "/out.mp4";
        ASSERT_EQ(mix(fixture("silent.mp4"), music, output).status, JobStatus::Finished);
        // One pass of the file as it plays: cut to its stream's length, since
        // the ffmpeg program keeps AAC's last padding.
        std::vector<float> pass = decodeSound(music).samples;
        pass.resize(std::min(pass.size(), static_cast<std::size_t>(std::lround(durationSeconds(music) * 44100))));
        const std::vector<float> made = decodeSound(output).samples;
        const std::size_t picture = static_cast<std::size_t>(pictureLengthSeconds(output) * 44100);
        ASSERT_GE(made.size(), picture);
        std::size_t quiet = 0, longestQuiet = 0;
        for (std::size_t i = 0; i < picture; ++i) {
            quiet = std::fabs(made[i]) < 1e-3f ? quiet + 1 : 0;
            longestQuiet = std::max(longestQuiet, quiet);
        }
        EXPECT_LT(longestQuiet, 88u) << "a silent stretch of " << longestQuiet << " samples";
        // Just after the first and the second seam the output is the file's
        // own start again, at the sample.
        for (const std::size_t at : {pass.size() + 500, 2 * pass.size() + 500}) {
            long bestLag = 0;
            double best = -1;
            for (long lag = -40; lag <= 40; ++lag) {
                double dot = 0, energy = 0;
                for (std::size_t i = 0; i < 4096; ++i) {
                    const float sample = made[std::size_t(long(at + i) + lag)];
                    dot += double(sample) * pass[at % pass.size() + i];
                    energy += double(sample) * sample;
                }
                if (energy > 0 && dot / std::sqrt(energy) > best) {
                    best = dot / std::sqrt(energy);
                    bestLag = lag;
                }
            }
            EXPECT_LE(std::abs(bestLag), 1) << "out of step after sample " << at;
        }
    }
}

// The music covers the picture from its first to its last frame, whatever
// the streams' start times; a one-frame video gets one frame's music.
TEST(Music, CoversThePictureWhateverTheStartTimes) {
    const std::string av = made("av.mp4", kPicture + kTone440 + "-c:v libx264 -preset ultrafast -c:a aac");
    const std::string cases[] = {
        made("video-late.mp4", "-itsoffset 0.5 -i " + shellQuote(av) + " -i " + shellQuote(av) +
                                   " -map 0:v -map 1:a -c copy"),
        made("sound-late.mp4", "-i " + shellQuote(av) + " -itsoffset 0.5 -i " + shellQuote(av) +
                                   " -map 0:v -map 1:a -c copy"),
        made("bframes.mp4", kPicture + "-c:v libx264 -preset medium"),
        made("one-frame.mp4", kPicture + "-frames:v 1 -c:v libx264 -preset ultrafast"),
    };
    for (const std::string &input : cases) {
        SCOPED_TRACE(input);
        const std::string output = makeFolder("covered") + "/" + std::filesystem::path(input).filename().string();
        const MixRun run = mix(input, fixture("music-long.mp3"), output);
        ASSERT_EQ(run.status, JobStatus::Finished) << run.error;
        const DecodedSound sound = decodeSound(output);
        const double picture = pictureLengthSeconds(output);
        const double soundEnd = sound.startSeconds + double(sound.samples.size()) / 44100;
        EXPECT_LE(sound.startSeconds, 0.001);
        EXPECT_GE(soundEnd, picture - 0.001);
        if (picture < 0.5)
            continue;
        // Music from the first picture's first 50 ms to the last one's.
        EXPECT_GT(toneDb(sound.samples, -sound.startSeconds, 0.05, 1000), -40);
        EXPECT_GT(toneDb(sound.samples, picture - sound.startSeconds - 0.06, 0.05, 1000), -40);
    }
}

// --faststart puts an MP4's index before its data; the default keeps it after.
TEST(Output, FastStartMovesTheIndexToTheFront) {
    for (const bool fastStart : {false, true}) {
        const std::string output = makeFolder(fastStart ? "fast" : "plain") + "/out.mp4";
        ASSERT_EQ(mix(fixture("video-440.mp4"), fixture("music-1000.mp3"), output, fastStart).status,
                  JobStatus::Finished);
        std::ifstream in(output, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(bytes.find("moov") < bytes.find("mdat"), fastStart);
        EXPECT_EQ(decodeErrors(output), 0);
    }
}

} // namespace
} // namespace melvora::test
