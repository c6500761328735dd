// The mix controls' pure parts: the settings' rules, the graph descriptions
// run through real FFmpeg graphs and judged by measured tone levels, the
// music feed on generated tones, and the loudness measurement.

#include "engine/LoopHelpers.h"
#include "engine/Loudness.h"
#include "engine/MixGraphs.h"
#include "engine/MixPreview.h"
#include "engine/MixPreviewPlan.h"
#include "engine/MixSettings.h"
#include "engine/MixSteps.h"
#include "engine/MusicFeed.h"

#include "Fixtures.h"
#include "MediaTool.h"

#include <ebur128.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <numbers>
#include <optional>
#include <random>
#include <regex>
#include <tuple>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/opt.h>
}

namespace melvora {
namespace {

using test::makeFolder;
using test::makeMedia;
using test::runCommand;
using test::shellQuote;
using test::toneDb;

constexpr int kRate = 44100;
constexpr double kSilentDb = -200;

double peakOf(const std::vector<float> &samples) {
    double peak = 0;
    for (float s : samples)
        peak = std::max(peak, double(std::fabs(s)));
    return peak;
}

// A tone that sounds from on to off seconds, within a track of a given length.
std::vector<float> tone(double frequency, double amplitude, double seconds, double on = 0,
                        double off = std::numeric_limits<double>::infinity()) {
    std::vector<float> samples(static_cast<std::size_t>(seconds * kRate));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = double(i) / kRate;
        if (t >= on && t < off)
            samples[i] = static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * frequency * t));
    }
    return samples;
}

// Runs a description between sources fed in chunks of 1024 stereo samples
// (pts in samples from 0, both channels alike) and a sink constrained as the
// run's; returns the left channel of what comes out.
std::vector<float> runGraph(const std::string &description, const std::vector<const std::vector<float> *> &inputs) {
    std::vector<float> output;
    FilterGraphPtr graph(avfilter_graph_alloc());
    std::vector<AVFilterContext *> sources;
    AVFilterInOut *outputs = nullptr;
    const char *const names[] = {"in0", "in1"};
    const bool single = inputs.size() == 1;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        AVFilterContext *source = nullptr;
        const char *name = single ? "in" : names[i];
        EXPECT_GE(avfilter_graph_create_filter(&source, avfilter_get_by_name("abuffer"), name,
                                               "time_base=1/44100:sample_rate=44100:sample_fmt=fltp:channel_layout=0x3",
                                               nullptr, graph.get()),
                  0);
        sources.push_back(source);
        AVFilterInOut *link = avfilter_inout_alloc();
        link->name = av_strdup(name);
        link->filter_ctx = source;
        link->pad_idx = 0;
        link->next = nullptr;
        AVFilterInOut **tail = &outputs;
        while (*tail)
            tail = &(*tail)->next;
        *tail = link;
    }
    AVFilterContext *sink = nullptr;
    EXPECT_GE(
        avfilter_graph_create_filter(&sink, avfilter_get_by_name("abuffersink"), "out", nullptr, nullptr, graph.get()),
        0);
    const AVSampleFormat formats[] = {AV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_NONE};
    av_opt_set_int_list(sink, "sample_fmts", formats, AV_SAMPLE_FMT_NONE, AV_OPT_SEARCH_CHILDREN);
    av_opt_set(sink, "ch_layouts", "stereo", AV_OPT_SEARCH_CHILDREN);
    AVFilterInOut *sinkLink = avfilter_inout_alloc();
    sinkLink->name = av_strdup("out");
    sinkLink->filter_ctx = sink;
    sinkLink->pad_idx = 0;
    sinkLink->next = nullptr;
    int result = avfilter_graph_parse_ptr(graph.get(), description.c_str(), &sinkLink, &outputs, nullptr);
    avfilter_inout_free(&sinkLink);
    avfilter_inout_free(&outputs);
    if (result >= 0)
        result = avfilter_graph_config(graph.get(), nullptr);
    if (result < 0) {
        ADD_FAILURE() << "graph \"" << description << "\" refused: " << ffmpegErrorText(result);
        return output;
    }

    FramePtr taken(av_frame_alloc());
    const std::size_t length = inputs.front()->size();
    for (std::size_t at = 0; at < length + 1024; at += 1024) {
        const int count = static_cast<int>(std::min<std::size_t>(1024, length - std::min(at, length)));
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            // At the end the sources end, as the run's do, and the graph lets out what it holds.
            if (count == 0) {
                EXPECT_GE(av_buffersrc_add_frame_flags(sources[i], nullptr, 0), 0);
                continue;
            }
            FramePtr frame(av_frame_alloc());
            frame->nb_samples = count;
            frame->format = AV_SAMPLE_FMT_FLTP;
            frame->sample_rate = kRate;
            const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
            av_channel_layout_copy(&frame->ch_layout, &stereo);
            av_frame_get_buffer(frame.get(), 0);
            for (int c = 0; c < 2; ++c)
                std::copy_n(inputs[i]->data() + at, count, reinterpret_cast<float *>(frame->data[c]));
            frame->pts = static_cast<std::int64_t>(at);
            EXPECT_GE(av_buffersrc_add_frame_flags(sources[i], frame.get(), 0), 0);
        }
        while (av_buffersink_get_frame(sink, taken.get()) >= 0) {
            const float *left = reinterpret_cast<const float *>(taken->data[0]);
            output.insert(output.end(), left, left + taken->nb_samples);
            av_frame_unref(taken.get());
        }
    }
    return output;
}

TEST(MixGraphs, DefaultSettingsGiveTheDescriptionsOfAlways) {
    EXPECT_EQ(mixGraphDescription(MixSettings{}, 12.5), "[in0][in1]amix=inputs=2[out]");
    EXPECT_EQ(musicGraphDescription(MixSettings{}, 12.5),
              "aresample=44100,aformat=sample_fmts=fltp:channel_layouts=stereo");
    // The ducking's timing and the loudness ceiling, stored while they are off, change nothing.
    MixSettings idle;
    idle.duckHoldSeconds = 2, idle.duckKey = DuckKey::Any, idle.truePeakDb = -3;
    EXPECT_EQ(mixGraphDescription(idle, 1), "[in0][in1]amix=inputs=2[out]");
    // The preview's graph of the mix and the music as laid together is only ducking's.
    EXPECT_EQ(mixAndLaidGraphDescription(idle, 1), "");
    idle.duckDb = 10;
    const std::string both = mixAndLaidGraphDescription(idle, 1);
    EXPECT_EQ(both.substr(0, both.find("[bed]asplit")),
              mixGraphDescription(idle, 1).substr(0, both.find("[bed]asplit")));
}

TEST(MixGraphs, NumbersAreWrittenWithoutADecimalPoint) {
    // Filter options are read with the locale's decimal point.
    MixSettings settings;
    settings.musicGainDb = -7.3;
    settings.ownGainDb = 2.25;
    settings.fadeInSeconds = 1.5;
    settings.fadeOutSeconds = 0.75;
    settings.delaySeconds = 0.1;
    settings.duckDb = 12.5;
    for (const std::string &description : {mixGraphDescription(settings, 3.3), musicGraphDescription(settings, 3.3)})
        EXPECT_EQ(description.find('.'), std::string::npos) << description;
}

// One measured expectation: the level of a frequency within a window.
struct Window {
    double start;
    double length;
    double frequency;
    double minDb;
    double maxDb;
};

struct GraphCase {
    const char *name;
    std::function<void(MixSettings &)> set;
    bool musicAlone; // the single-input graph of a silent video
    double ownOn, ownOff;
    std::vector<Window> windows;
    double maxPeak = 1.0;
    std::vector<float> (*ownSound)() = nullptr; // in place of the own tone
    bool clickInStep = false;                   // the own sound's click comes out on its very sample
    double truePeakDb = 0; // the highest peak between the samples too (at 4 times the rate)
};
void PrintTo(const GraphCase &c, std::ostream *os) {
    *os << c.name;
}

constexpr double kOwn = 300;     // the video's own tone, Hz
constexpr double kMusic = 1000;  // the music's tone, Hz
constexpr double kInputDb = -12; // both tones come in at amplitude 0.25
constexpr double kLength = 6;    // seconds of video

// The own sound over steady hiss and mains hum: "speech" (tone bursts across the speech band, 0.4 s
// each with 0.3 s pauses, and a click), or louder hiss and hum alone.
constexpr double kPhrase[] = {1.5, 2.2, 2.9, 3.6};
constexpr double kClick = 3 + 123.0 / kRate; // on no boundary of the 1024-sample chunks
template <bool speech> std::vector<float> noisyOwnSound() {
    std::vector<float> samples(static_cast<std::size_t>(kLength * kRate));
    std::mt19937 random(7);
    std::normal_distribution<double> hiss(0, speech ? 0.003 : 0.01);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = double(i) / kRate, turn = 2 * std::numbers::pi * t;
        double value = hiss(random) + (speech ? 0.01 : 0.05) * (std::sin(50 * turn) + 0.3 * std::sin(150 * turn));
        for (std::size_t k = 0; speech && k < std::size(kPhrase); ++k)
            value += t >= kPhrase[k] && t < kPhrase[k] + 0.4 ? 0.1 * std::sin((450 + 750 * double(k)) * turn) : 0;
        samples[i] = static_cast<float>(value);
    }
    if (speech)
        samples[std::lround(kClick * kRate)] = 0.9f;
    return samples;
}

class MixGraphLevels : public testing::TestWithParam<GraphCase> {};

TEST_P(MixGraphLevels, MeasureAsAsked) {
    const GraphCase &c = GetParam();
    MixSettings settings;
    c.set(settings);
    const std::vector<float> own = c.ownSound ? c.ownSound() : tone(kOwn, 0.25, kLength, c.ownOn, c.ownOff);
    const std::vector<float> music = tone(kMusic, 0.25, kLength);
    const std::string description =
        c.musicAlone ? musicGraphDescription(settings, kLength) : mixGraphDescription(settings, kLength);
    std::vector<float> out = c.musicAlone ? runGraph(description, {&music}) : runGraph(description, {&own, &music});
    ASSERT_GT(out.size(), static_cast<std::size_t>((kLength - 0.2) * kRate)) << description;
    if (!c.musicAlone) { // all of the own sound comes out; the run cuts what goes past it
        ASSERT_GE(out.size(), own.size()) << description;
        out.resize(own.size());
    }
    for (const Window &w : c.windows) {
        const double level = toneDb(out, w.start, w.length, w.frequency);
        EXPECT_GE(level, w.minDb) << w.frequency << " Hz at " << w.start << " s in " << description;
        EXPECT_LE(level, w.maxDb) << w.frequency << " Hz at " << w.start << " s in " << description;
    }
    EXPECT_LE(peakOf(out), c.maxPeak) << description;
    const std::vector<float> oversampled = runGraph("aresample=176400", {&out});
    EXPECT_LE(20 * std::log10(peakOf(oversampled)), c.truePeakDb) << description;
    const auto quieter = [](float a, float b) { return std::fabs(a) < std::fabs(b); };
    if (c.clickInStep) {
        EXPECT_EQ(std::max_element(out.begin(), out.end(), quieter) - out.begin(), std::lround(kClick * kRate));
    }
}

// Within 1.5 dB of a level relative to the input tones.
Window near(double start, double length, double frequency, double relativeDb) {
    return {start, length, frequency, kInputDb + relativeDb - 1.5, kInputDb + relativeDb + 1.5};
}
Window below(double start, double length, double frequency, double relativeDb) {
    return {start, length, frequency, -1000, kInputDb + relativeDb};
}
constexpr double kAlways = 100;
// The music within tolerance of a level in every 0.1 s of a stretch, after other windows.
std::vector<Window> levelThroughout(double from, double to, double relativeDb, double tolerance,
                                    std::vector<Window> windows = {}) {
    for (int step = 0; from + 0.1 * (step + 1) <= to + 1e-9; ++step)
        windows.push_back(
            {from + 0.1 * step, 0.1, kMusic, kInputDb + relativeDb - tolerance, kInputDb + relativeDb + tolerance});
    return windows;
}

INSTANTIATE_TEST_SUITE_P(
    Controls, MixGraphLevels,
    testing::Values(
        GraphCase{"defaultHalvesBoth", [](MixSettings &) {}, false, 0, kAlways,
                  {near(1, 1, kOwn, -6), near(1, 1, kMusic, -6)}},
        GraphCase{"musicGainMakesLevelsPlain", [](MixSettings &s) { s.musicGainDb = -10; }, false, 0, kAlways,
                  {near(1, 1, kOwn, 0), near(1, 1, kMusic, -10)}},
        GraphCase{"ownGain", [](MixSettings &s) { s.ownGainDb = -8; }, false, 0, kAlways,
                  {near(1, 1, kOwn, -8), near(1, 1, kMusic, 0)}},
        GraphCase{"loudGainsAreLimited", [](MixSettings &s) { s.musicGainDb = 14; s.ownGainDb = 6; }, false, 0,
                  kAlways, {}, 0.9},
        GraphCase{"replaceDropsTheOwnSound", [](MixSettings &s) { s.replaceOwnSound = true; }, false, 0, kAlways,
                  {below(1, 1, kOwn, -60), near(1, 1, kMusic, 0)}},
        GraphCase{"fadeOutEndsWithTheVideo", [](MixSettings &s) { s.fadeOutSeconds = 3; }, false, 0, kAlways,
                  {near(1, 1, kMusic, -6), below(kLength - 0.5, 0.5, kMusic, -6 - 15), near(5.5, 0.5, kOwn, -6)}},
        GraphCase{"fadeIn", [](MixSettings &s) { s.fadeInSeconds = 2; }, false, 0, kAlways,
                  {below(0, 0.2, kMusic, -6 - 12), near(3, 1, kMusic, -6), near(0, 0.2, kOwn, -6)}},
        GraphCase{"delay", [](MixSettings &s) { s.delaySeconds = 2; }, false, 0, kAlways,
                  {below(0.2, 1.6, kMusic, -60), near(2.5, 1, kMusic, -6)}},
        GraphCase{"delayedFadeInStartsWithTheMusic",
                  [](MixSettings &s) {
                      s.delaySeconds = 2;
                      s.fadeInSeconds = 1;
                  },
                  false, 0, kAlways, {below(2, 0.2, kMusic, -6 - 10), near(3.5, 1, kMusic, -6)}},
        // Back after 0.6 s of hold and 0.8 s of release.
        GraphCase{"duckingLowersTheMusicWhileTheOwnSoundIsOn", [](MixSettings &s) { s.duckDb = 10; }, false, 2, 4,
                  {near(0.5, 1, kMusic, -6), {2.5, 1, kMusic, -1000, kInputDb - 6 - 7}, near(5.5, 0.4, kMusic, -6)}},
        // Within 0.75 dB of the depth from 0.1 s before the first burst to the hold's end, pauses included.
        GraphCase{"duckingIsDoneBeforeEachWordAndHoldsThroughThePauses", [](MixSettings &s) { s.duckDb = 12; }, false,
                  0, 0, levelThroughout(1.4, 4.5, -6 - 12, 0.75, {near(0.2, 1, kMusic, -6), near(5.5, 0.4, kMusic, -6)}),
                  1.0, noisyOwnSound<true>, true},
        GraphCase{"steadyHumAndHissLeaveTheMusicAlone", [](MixSettings &s) { s.duckDb = 12; }, false, 0, 0,
                  levelThroughout(0, kLength, -6, 1.5), 1.0, noisyOwnSound<false>},
        // Down a second before the voice; back after 0.2 s of hold and 0.8 s of release.
        GraphCase{"lookaheadAndHoldAsAsked",
                  [](MixSettings &s) { s.duckDb = 12, s.duckLookaheadSeconds = 1, s.duckHoldSeconds = 0.2; },
                  false, 0, 0, {below(1, 0.5, kMusic, -6 - 10), near(5.1, 0.5, kMusic, -6)}, 1.0, noisyOwnSound<true>,
                  true},
        GraphCase{"musicAloneGainAndFadeOut",
                  [](MixSettings &s) {
                      s.musicGainDb = -6;
                      s.fadeOutSeconds = 2;
                  },
                  true, 0, 0,
                  // The limiter's look-ahead holds back the last few milliseconds.
                  {near(1, 1, kMusic, -6), below(kLength - 0.55, 0.5, kMusic, -6 - 15)}},
        GraphCase{"musicAloneDelay", [](MixSettings &s) { s.delaySeconds = 1; }, true, 0, 0,
                  {below(0.1, 0.8, kMusic, -60), near(2, 1, kMusic, 0)}},
        // Until the run has measured the mix, a loudness target leaves it as it is.
        GraphCase{"loudnessTargetMeasuresThePlainMix", [](MixSettings &s) { s.loudnessLufs = -14; }, false, 0, kAlways,
                  {near(1, 1, kOwn, -6), near(1, 1, kMusic, -6)}},
        // +12 dB drives the two tones' sum to twice the ceiling: the limiter holds it there.
        GraphCase{"loudnessGainUnderTheCeiling",
                  [](MixSettings &s) { s.loudnessLufs = -14, s.wholeMixGainDb = 12, s.truePeakDb = -6; }, false, 0,
                  kAlways, {{1, 1, kMusic, kInputDb - 6 + 12 - 8, kInputDb - 6 + 12 - 4}}, 1.0, nullptr, false, -6},
        GraphCase{"musicAloneLoudnessGain",
                  [](MixSettings &s) { s.loudnessLufs = -14, s.wholeMixGainDb = -4; }, true, 0, 0,
                  {near(1, 1, kMusic, -4)}}),
    [](const auto &info) { return std::string(info.param.name); });

// Made at a control rate and brought back up, the ducking's gain still
// covers the music to the video's last sample, however short the video.
TEST(MixGraphs, DuckedMusicLastsToTheLastSample) {
    MixSettings settings;
    settings.duckDb = 12, settings.duckLookaheadSeconds = 0; // no look-ahead to pad the key
    for (const double seconds : {0.005, 0.5}) {
        const std::vector<float> own(std::size_t(seconds * kRate)), music = tone(kMusic, 0.25, seconds);
        const std::vector<float> out = runGraph(mixGraphDescription(settings, seconds), {&own, &music});
        ASSERT_EQ(out.size(), own.size()) << seconds;
        EXPECT_NEAR(toneDb(out, seconds - 0.005, 0.005, kMusic), kInputDb - 6, 1) << seconds;
    }
}

struct ValidationCase {
    const char *name;
    std::function<void(MixSettings &)> set;
    const char *expectedPart; // "" when valid
};
void PrintTo(const ValidationCase &c, std::ostream *os) {
    *os << c.name;
}

class MixValidation : public testing::TestWithParam<ValidationCase> {};

TEST_P(MixValidation, NamesTheOptionAndItsRange) {
    MixSettings settings;
    GetParam().set(settings);
    const std::string error = validateMixSettings(settings);
    if (std::string(GetParam().expectedPart).empty())
        EXPECT_EQ(error, "");
    else
        EXPECT_NE(error.find(GetParam().expectedPart), std::string::npos) << error;
    // The settings file's rule: whatever is out of range goes back to its default.
    const MixSettings reset = withOutOfRangeValuesReset(settings);
    EXPECT_EQ(validateMixSettings(reset), "");
    if (error.empty()) {
        EXPECT_EQ(reset, settings);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, MixValidation,
    testing::Values(
        ValidationCase{"defaults", [](MixSettings &) {}, ""},
        ValidationCase{"edges",
                       [](MixSettings &s) {
                           s.musicGainDb = -60;
                           s.ownGainDb = 20;
                           s.crossfadeSeconds = 30;
                       },
                       ""},
        ValidationCase{"musicGainHigh", [](MixSettings &s) { s.musicGainDb = 20.5; },
                       "--music-gain takes a number from -60 to 20 (dB)"},
        ValidationCase{"ownGainLow", [](MixSettings &s) { s.ownGainDb = -61; }, "--own-gain takes a number from -60"},
        ValidationCase{"negativeFade", [](MixSettings &s) { s.fadeOutSeconds = -1; }, "--fade-out"},
        ValidationCase{"notFinite", [](MixSettings &s) { s.delaySeconds = std::nan(""); }, "--delay"},
        ValidationCase{"duckZero", [](MixSettings &s) { s.duckDb = 0; }, "--duck takes a number from 1 to 40 (dB)"},
        ValidationCase{"loudnessHigh", [](MixSettings &s) { s.musicLoudnessLufs = 3; }, "--music-loudness"},
        ValidationCase{"mixLoudnessLow", [](MixSettings &s) { s.loudnessLufs = -41; },
                       "--loudness takes a number from -40 to -5 (LUFS)"},
        ValidationCase{"truePeakOverFullScale", [](MixSettings &s) { s.loudnessLufs = -16, s.truePeakDb = 0.5; },
                       "--true-peak takes a number from -9 to 0 (dBTP)"},
        ValidationCase{"gainAndLoudness",
                       [](MixSettings &s) {
                           s.musicGainDb = -3;
                           s.musicLoudnessLufs = -30;
                       },
                       "cannot be used together"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(MixValidation, OptionTextsMustBeNumbersInRange) {
    struct Row {
        MixControl control;
        const char *text;
        std::optional<double> expected;
    };
    const Row rows[] = {
        {MixControl::MusicGain, "-6", -6},     {MixControl::MusicGain, "+6", 6},   {MixControl::MusicGain, "2.5", 2.5},
        {MixControl::MusicGain, "abc", {}},    {MixControl::MusicGain, "6dB", {}}, {MixControl::MusicGain, "", {}},
        {MixControl::MusicGain, "1e400", {}},  {MixControl::FadeIn, "nan", {}},    {MixControl::FadeIn, "601", {}},
        {MixControl::Crossfade, "0.25", 0.25}, {MixControl::Duck, "1", 1},         {MixControl::MusicStart, "-0.1", {}},
    };
    for (const Row &row : rows) {
        double value = 0;
        std::string error;
        const bool ok = parseMixControlValue(row.control, row.text, value, error);
        EXPECT_EQ(ok, row.expected.has_value()) << row.text;
        if (row.expected)
            EXPECT_EQ(value, *row.expected);
        else
            EXPECT_NE(error.find(std::string(mixControlInfo(row.control).option) + " takes a number from"),
                      std::string::npos)
                << error;
    }
}

TEST(MixSettings, OnlyMusicControlsMakeASilentVideoReencode) {
    const std::pair<std::function<void(MixSettings &)>, bool> rows[] = {
        {[](MixSettings &) {}, false},
        {[](MixSettings &s) { s.ownGainDb = -6; }, false},
        {[](MixSettings &s) { s.duckDb = 10; }, false},
        {[](MixSettings &s) { s.replaceOwnSound = true; }, false},
        {[](MixSettings &s) { s.musicGainDb = 0; }, false},
        {[](MixSettings &s) { s.musicGainDb = -3; }, true},
        {[](MixSettings &s) { s.fadeOutSeconds = 2; }, true},
        {[](MixSettings &s) { s.loop = false; }, true},
        {[](MixSettings &s) { s.crossfadeSeconds = 1; }, true},
        {[](MixSettings &s) { s.musicStartSeconds = 1; }, true},
        {[](MixSettings &s) { s.musicLoudnessLufs = -30; }, true},
        {[](MixSettings &s) { s.loudnessLufs = -16; }, true},
    };
    int row = 0;
    for (const auto &[set, expected] : rows) {
        MixSettings settings;
        set(settings);
        EXPECT_EQ(settings.changesMusicSound(), expected) << "row " << row;
        EXPECT_EQ(settings.isDefault(), row == 0) << "row " << row;
        ++row;
    }
}

// ---- The music feed ----

// An opened music file with its decoder, as the run holds it.
struct OpenedMusic {
    InputContextPtr input;
    CodecContextPtr decoder;
    int streamIndex = -1;

    explicit OpenedMusic(const std::string &path) {
        AVFormatContext *context = nullptr;
        if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0) {
            ADD_FAILURE() << "cannot open " << path;
            return;
        }
        input.reset(context);
        avformat_find_stream_info(context, nullptr);
        streamIndex = av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        const AVStream *stream = context->streams[streamIndex];
        const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
        decoder.reset(avcodec_alloc_context3(codec));
        avcodec_parameters_to_context(decoder.get(), stream->codecpar);
        decoder->pkt_timebase = stream->time_base;
        EXPECT_GE(avcodec_open2(decoder.get(), codec, nullptr), 0);
    }
};

// The feed's first count samples, left channel, read in encoder-sized chunks.
std::vector<float> feedSamples(const std::string &path, const MixSettings &settings, double seconds,
                               std::int64_t *crossfade = nullptr) {
    OpenedMusic music(path);
    MusicFeed feed(music.input.get(), music.streamIndex, music.decoder.get(), settings);
    AudioFifoPtr fifo(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, 2, 1024));
    const std::size_t wanted = static_cast<std::size_t>(seconds * kRate);
    std::vector<float> left, right(1024);
    std::vector<float> chunk(1024);
    while (left.size() < wanted) {
        const int result = feed.read(fifo.get(), 1024);
        if (result < 0) {
            ADD_FAILURE() << "feed failed: " << ffmpegErrorText(result);
            break;
        }
        void *planes[2] = {chunk.data(), right.data()};
        av_audio_fifo_read(fifo.get(), planes, 1024);
        left.insert(left.end(), chunk.begin(), chunk.end());
    }
    left.resize(std::min(left.size(), wanted));
    if (crossfade)
        *crossfade = feed.crossfadeSamples();
    return left;
}

// The plain loop as the run has always made it: each decoded frame resampled
// as it comes, the file rewound to its start at its end.
std::vector<float> plainLoopSamples(const std::string &path, double seconds) {
    OpenedMusic music(path);
    SwrContext *resampler = nullptr;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    swr_alloc_set_opts2(&resampler, &stereo, AV_SAMPLE_FMT_FLTP, kRate, &music.decoder->ch_layout,
                        music.decoder->sample_fmt, music.decoder->sample_rate, 0, nullptr);
    ResamplerPtr owner(resampler);
    swr_init(resampler);
    const std::size_t wanted = static_cast<std::size_t>(seconds * kRate);
    std::vector<float> left;
    FramePtr frame(av_frame_alloc());
    PacketPtr packet(av_packet_alloc());
    const AVStream *stream = music.input->streams[music.streamIndex];
    while (left.size() < wanted) {
        if (avcodec_receive_frame(music.decoder.get(), frame.get()) >= 0) {
            const int capacity =
                static_cast<int>(av_rescale_rnd(swr_get_delay(resampler, frame->sample_rate) + frame->nb_samples, kRate,
                                                frame->sample_rate, AV_ROUND_UP));
            std::vector<float> l(capacity), r(capacity);
            std::uint8_t *out[2] = {reinterpret_cast<std::uint8_t *>(l.data()),
                                    reinterpret_cast<std::uint8_t *>(r.data())};
            const int produced = swr_convert(
                resampler, out, capacity, const_cast<const std::uint8_t **>(frame->extended_data), frame->nb_samples);
            left.insert(left.end(), l.begin(), l.begin() + std::max(produced, 0));
            av_frame_unref(frame.get());
            continue;
        }
        if (av_read_frame(music.input.get(), packet.get()) == AVERROR_EOF) {
            av_seek_frame(music.input.get(), music.streamIndex,
                          stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0, AVSEEK_FLAG_BACKWARD);
            continue;
        }
        if (packet->stream_index == music.streamIndex)
            avcodec_send_packet(music.decoder.get(), packet.get());
        av_packet_unref(packet.get());
    }
    left.resize(wanted);
    return left;
}

const std::string &feedMedia(const std::string &name) {
    static std::map<std::string, std::string> made;
    auto found = made.find(name);
    if (found != made.end())
        return found->second;
    const std::string path = makeFolder("feed") + "/" + name;
    if (name == "tone-48k.mp3") // resampled, and a length that is no whole number of frames
        makeMedia("-f lavfi -i sine=frequency=1000:sample_rate=48000:duration=1.3 -ac 2 -c:a libmp3lame", path);
    else if (name == "two-tones.wav") // 500 Hz for a second, then 2000 Hz for a second
        makeMedia("-f lavfi -i sine=frequency=500:sample_rate=44100:duration=1 -f lavfi -i "
                  "sine=frequency=2000:sample_rate=44100:duration=1 -filter_complex "
                  "[0][1]concat=v=0:a=1 -ac 2 -c:a pcm_f32le",
                  path);
    else if (name == "unending-tone.wav") // ends a quarter cycle in, at the tone's peak
        makeMedia("-f lavfi -i sine=frequency=1000:sample_rate=44100:duration=1.00025 -ac 2 -c:a pcm_f32le", path);
    return made[name] = path;
}

TEST(MusicFeed, DefaultSettingsGiveThePlainLoopsSamples) {
    const std::string &path = feedMedia("tone-48k.mp3");
    const std::vector<float> fed = feedSamples(path, MixSettings{}, 3.5);
    const std::vector<float> plain = plainLoopSamples(path, 3.5);
    ASSERT_EQ(fed.size(), plain.size());
    EXPECT_TRUE(fed == plain) << "the feed's samples differ from the plain loop's";
}

struct FeedCase {
    const char *name;
    std::function<void(MixSettings &)> set;
    std::vector<Window> windows; // levels in dB of the feed's output
};
void PrintTo(const FeedCase &c, std::ostream *os) {
    *os << c.name;
}

class MusicFeedPasses : public testing::TestWithParam<FeedCase> {};

TEST_P(MusicFeedPasses, PlayTheRightPartOfTheFile) {
    MixSettings settings;
    GetParam().set(settings);
    const std::vector<float> fed = feedSamples(feedMedia("two-tones.wav"), settings, 4);
    for (const Window &w : GetParam().windows) {
        const double level = toneDb(fed, w.start, w.length, w.frequency);
        EXPECT_GE(level, w.minDb) << w.frequency << " Hz at " << w.start << " s";
        EXPECT_LE(level, w.maxDb) << w.frequency << " Hz at " << w.start << " s";
    }
}

// The file's tones: amplitude 1/8, made stereo at -3 dB each side (-21 dB).
Window sounds(double start, double length, double frequency) {
    return {start, length, frequency, -22.5, -19.5};
}
Window absent(double start, double length, double frequency) {
    return {start, length, frequency, -1000, -60};
}

INSTANTIATE_TEST_SUITE_P(
    Table, MusicFeedPasses,
    testing::Values(
        FeedCase{"plainLoop",
                 [](MixSettings &) {},
                 {sounds(0.1, 0.8, 500), sounds(1.1, 0.8, 2000), sounds(2.1, 0.8, 500), absent(2.1, 0.8, 2000)}},
        FeedCase{"musicStartOnEveryPass",
                 [](MixSettings &s) { s.musicStartSeconds = 1; },
                 {sounds(0.1, 0.8, 2000), absent(0.1, 0.8, 500), sounds(1.1, 0.8, 2000), absent(1.1, 0.8, 500),
                  sounds(3.1, 0.8, 2000)}},
        FeedCase{"musicStartMidway",
                 [](MixSettings &s) { s.musicStartSeconds = 0.5; },
                 {sounds(0.05, 0.4, 500), sounds(0.6, 0.8, 2000), sounds(1.55, 0.4, 500), absent(1.55, 0.4, 2000),
                  sounds(2.1, 0.8, 2000)}},
        FeedCase{"noLoopIsSilentAfterTheEnd",
                 [](MixSettings &s) { s.loop = false; },
                 {sounds(0.1, 0.8, 500), sounds(1.1, 0.8, 2000), absent(2.05, 1.9, 500), absent(2.05, 1.9, 2000)}},
        FeedCase{"noLoopFromTheMusicStart",
                 [](MixSettings &s) {
                     s.loop = false;
                     s.musicStartSeconds = 1;
                 },
                 {sounds(0.1, 0.8, 2000), absent(1.05, 2.9, 2000), absent(0.1, 0.8, 500)}},
        FeedCase{"crossfadeShortensEachPass",
                 [](MixSettings &s) { s.crossfadeSeconds = 0.5; },
                 // Passes start every 1.5 s: 500 Hz alone at 0.1 s, 2000 Hz alone at 1.1 s (the seam
                 // runs from 1.5 to 2 s), 500 Hz again at 2.1 s.
                 {sounds(0.1, 0.8, 500), sounds(1.05, 0.4, 2000), absent(1.05, 0.4, 500), sounds(2.05, 0.4, 500),
                  absent(2.05, 0.4, 2000)}}),
    [](const auto &info) { return std::string(info.param.name); });

// Largest second difference: a sine of 1000 Hz at amplitude A has at most
// A * (2 sin(pi f / rate))^2, about A / 50; a jump shows as a large one.
double largestCurvature(const std::vector<float> &s) {
    double largest = 0;
    for (std::size_t i = 2; i < s.size(); ++i)
        largest = std::max(largest, double(std::fabs(s[i] - 2 * s[i - 1] + s[i - 2])));
    return largest;
}

TEST(MusicFeed, CrossfadeLeavesNoClickAtTheSeam) {
    const std::string &path = feedMedia("unending-tone.wav");
    const double amplitude = 0.125;
    const std::vector<float> hard = feedSamples(path, MixSettings{}, 3.5);
    EXPECT_GT(largestCurvature(hard), amplitude / 2) << "the test tone should click at a hard seam";

    MixSettings settings;
    settings.crossfadeSeconds = 0.1;
    std::int64_t crossfade = 0;
    const std::vector<float> blended = feedSamples(path, settings, 3.5, &crossfade);
    EXPECT_EQ(crossfade, 4410);
    EXPECT_LT(largestCurvature(blended), amplitude / 20);
    EXPECT_LT(peakOf(blended), amplitude * 1.5);
}

TEST(MusicFeed, AMusicStartBeyondTheEndFails) {
    const std::string &path = feedMedia("two-tones.wav");
    OpenedMusic music(path);
    MixSettings settings;
    settings.musicStartSeconds = 5;
    MusicFeed feed(music.input.get(), music.streamIndex, music.decoder.get(), settings);
    AudioFifoPtr fifo(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, 2, 1024));
    EXPECT_EQ(feed.read(fifo.get(), 1024), AVERROR_INVALIDDATA);
}

TEST(MusicFeed, AStopEndsTheReadWithExit) {
    OpenedMusic music(feedMedia("two-tones.wav"));
    std::atomic<std::uint8_t> stop{1};
    MusicFeed feed(music.input.get(), music.streamIndex, music.decoder.get(), MixSettings{}, &stop);
    AudioFifoPtr fifo(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, 2, 1024));
    EXPECT_EQ(feed.read(fifo.get(), 1024), AVERROR_EXIT);
}

// ---- Loudness ----

std::optional<double> ffmpegIntegratedLoudness(const std::string &path) {
    const test::CommandResult result =
        runCommand("ffmpeg -hide_banner -nostdin -i " + shellQuote(path) + " -af ebur128 -f null - 2>&1");
    std::smatch match;
    // The summary's "I:" line comes last.
    std::optional<double> value;
    const std::regex line(R"(I:\s+(-?[0-9.]+) LUFS)");
    for (auto it = std::sregex_iterator(result.output.begin(), result.output.end(), line); it != std::sregex_iterator();
         ++it)
        value = std::stod((*it)[1]);
    return value;
}

TEST(Loudness, MatchesTheFfmpegProgramsMeter) {
    const std::string folder = makeFolder("loudness");
    const std::pair<const char *, const char *> files[] = {
        {"quiet-tone.mp3", "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=4 -af volume=0.05 -ac 2 "
                           "-c:a libmp3lame"},
        {"noise.wav", "-f lavfi -i anoisesrc=color=pink:amplitude=0.3:duration=5:sample_rate=48000 -ac 2 "
                      "-c:a pcm_s16le"},
    };
    for (const auto &[name, arguments] : files) {
        const std::string path = folder + "/" + name;
        makeMedia(arguments, path);
        const std::optional<double> reference = ffmpegIntegratedLoudness(path);
        ASSERT_TRUE(reference) << name;
        double measured = 0;
        std::string error;
        ASSERT_EQ(measureIntegratedLoudness(path, measured, &error), 0) << error;
        EXPECT_NEAR(measured, *reference, 0.15) << name; // the program prints one decimal
    }
    double unused = 0;
    std::string error;
    EXPECT_LT(measureIntegratedLoudness(folder + "/missing.mp3", unused, &error), 0);
    EXPECT_NE(error.find("Could not open the music file"), std::string::npos) << error;
}

TEST(Loudness, TheTargetBecomesTheMusicsLevel) {
    EXPECT_DOUBLE_EQ(loudnessGainDb(-20, -30), -10);
    EXPECT_DOUBLE_EQ(loudnessGainDb(-70, -5), 20); // silence cannot be raised past the level range
    EXPECT_DOUBLE_EQ(loudnessGainDb(5, -60), -60);
    MixSettings settings;
    settings.musicLoudnessLufs = -30;
    const MixSettings resolved = withMeasuredLoudness(settings, -14);
    ASSERT_TRUE(resolved.musicGainDb);
    EXPECT_DOUBLE_EQ(*resolved.musicGainDb, -16);
    EXPECT_FALSE(resolved.musicLoudnessLufs);
    EXPECT_TRUE(resolved.levelsSet());
    EXPECT_EQ(validateMixSettings(resolved), "");
}

// The preview's picture, made by the run's feed and graphs: the music as laid
// (a 1 kHz tone) and the own sound (a 440 Hz burst from 2 s to 3.5 s) at
// known times, in dB against the music's full level late in the video.
struct PreviewLevelCase {
    const char *name;
    std::function<void(MixSettings &)> set;
    std::vector<std::tuple<double, double, double>> musicDbAt; // seconds, at least, at most
    const char *video = "burst-own.mp4";
    const char *music = "music-long.mp3";
    double videoSeconds = 6;
};

void PrintTo(const PreviewLevelCase &c, std::ostream *out) {
    *out << c.name;
}

// The run's one mix graph over the same own sound and music feed, the song
// planned by the run's fit step when the settings ask, as 16-bit stereo:
// what the preview's two graphs in a row must give exactly. firstSeam: where
// the plan's first span ends, in seconds of the video (0 without a jump).
std::vector<std::int16_t> oneGraphMix(const MixPreviewInputs &inputs, const MixSettings &asked,
                                      double *firstSeam = nullptr) {
    MixJob job;
    job.request.musicPath = inputs.musicPath;
    job.request.durationSeconds = inputs.videoSeconds;
    job.result.mode = MixMode::MixBoth;
    job.result.appliedMixSettings = asked;
    MixRun run(job);
    EXPECT_EQ(openMusicInput(run), 0) << job.result.errorMessage;
    EXPECT_EQ(fitMusic(run), 0) << job.result.errorMessage;
    EXPECT_EQ(run.plannedMusic != nullptr, asked.fit || asked.loopAtSeams) << "the song is to be planned";
    const MixSettings &settings = job.result.appliedMixSettings;
    run.musicFeed =
        std::make_unique<MusicFeed>(run.musicInput.get(), run.musicStreamIndex, run.musicDecoder.get(), settings);
    if (run.plannedMusic)
        run.musicFeed->playPlanned(run.plannedMusic);
    if (firstSeam && run.plannedMusic && run.plannedMusic->sequence.spans.size() > 1) {
        const MusicSpan &first = run.plannedMusic->sequence.spans.front();
        *firstSeam = settings.delaySeconds + double(first.to - first.from) / kPreviewSampleRate;
    }
    EXPECT_EQ(buildMixGraph(run, mixGraphDescription(settings, inputs.videoSeconds).c_str()), 0);
    std::vector<std::int16_t> mixed;
    FramePtr out(av_frame_alloc());
    const auto drain = [&] {
        while (av_buffersink_get_frame(run.sinkFilter, out.get()) >= 0) {
            for (int i = 0; i < out->nb_samples; ++i)
                for (int c = 0; c < 2; ++c)
                    mixed.push_back(std::int16_t(std::lround(
                        std::clamp(reinterpret_cast<const float *>(out->data[c])[i], -1.0f, 1.0f) * 32767.0f)));
            av_frame_unref(out.get());
        }
    };
    for (std::int64_t at = 0; at < inputs.videoSamples(); at += kMixChunkSamples) {
        const int chunk = int(std::min<std::int64_t>(kMixChunkSamples, inputs.videoSamples() - at));
        FramePtr own, music;
        int result = allocEncoderFrame(run, own, chunk);
        if (result < 0)
            break;
        for (int i = 0; i < chunk; ++i)
            for (int c = 0; c < 2; ++c)
                reinterpret_cast<float *>(own->data[c])[i] =
                    std::size_t(at + i) < inputs.ownSound.size() ? inputs.ownSound[std::size_t(at + i)] / 32768.0f : 0;
        own->pts = at;
        result = readNextMusicFrame(run, run.musicFifo, chunk);
        result = result < 0 ? result : takeFifoFrame(run, run.musicFifo.get(), chunk, at, music);
        result = result < 0 ? result : pushToSource(run, run.firstSource, own.get());
        result = result < 0 ? result : pushToSource(run, run.secondSource, music.get());
        EXPECT_GE(result, 0);
        if (result < 0)
            break;
        drain();
    }
    pushToSource(run, run.firstSource, nullptr);
    pushToSource(run, run.secondSource, nullptr);
    drain();
    mixed.resize(std::size_t(inputs.videoSamples()) * 2);
    return mixed;
}

class MixPreviewLevels : public ::testing::TestWithParam<PreviewLevelCase> {};

TEST_P(MixPreviewLevels, TheMusicIsLaidAsTheSettingsSay) {
    MixPreviewInputs inputs;
    std::string error;
    ASSERT_EQ(analyseMixPreview(test::fixture(GetParam().video), test::fixture(GetParam().music), inputs, error), 0)
        << error;
    ASSERT_TRUE(inputs.hasOwnSound);
    EXPECT_NEAR(inputs.videoSeconds, GetParam().videoSeconds, 0.1);
    const auto stepAt = [](double seconds) { return std::size_t(seconds * kPreviewSampleRate / kPreviewStepSamples); };
    const auto db = [](float level) { return 20 * std::log10(std::max(double(level), 1e-9)); };
    EXPECT_LT(db(inputs.ownLevels.at(stepAt(1))), -60);
    EXPECT_GT(db(inputs.ownLevels.at(stepAt(2.8))), -12);

    MixSettings settings;
    GetParam().set(settings);
    const auto shared = std::make_shared<const MixPreviewInputs>(std::move(inputs));
    MixPreviewRender render(shared, settings);
    // Play a second before the end, pressed before the mix has begun: a pass
    // from there makes it first.
    const std::int64_t point = shared->videoSamples() - kPreviewSampleRate;
    render.playFrom(point);
    render.wait();
    ASSERT_EQ(render.result(&error), 0) << error;
    EXPECT_EQ(render.doneSamples(), shared->videoSamples());
    EXPECT_EQ(render.planWarning(), "");
    const MixPreviewRender::Levels levels = render.levels();
    ASSERT_FALSE(levels.sketch);
    // The sketch the picture shows first says the same, a little less closely.
    const MixPreviewRender::Levels sketch = render.sketchLevels();
    ASSERT_TRUE(sketch.sketch);
    ASSERT_EQ(sketch.music.size(), levels.music.size());
    for (const auto &[made, slack] : {std::pair{&levels, 0.0}, std::pair{&sketch, 2.0}}) {
        const double full = db(made->music.at(stepAt(5.5)));
        EXPECT_GT(full, -30);
        for (const auto &[seconds, least, most] : GetParam().musicDbAt) {
            const double relative = db(made->music.at(stepAt(seconds))) - full;
            EXPECT_GE(relative, least - slack) << seconds << " s, sketch " << made->sketch;
            EXPECT_LE(relative, most + slack) << seconds << " s, sketch " << made->sketch;
        }
    }
    // The mix is the run's own, sample for sample, with the gain its
    // loudness target came to.
    std::vector<std::int16_t> whole(std::size_t(render.doneSamples()) * 2);
    render.readMixed(0, render.doneSamples(), whole.data());
    MixSettings withGain = settings;
    withGain.wholeMixGainDb = levels.gainDb;
    double firstSeam = 0;
    const std::vector<std::int16_t> reference = oneGraphMix(*shared, withGain, &firstSeam);
    // The picture marks where the plan jumps or loops, the sketch alike.
    EXPECT_EQ(levels.seamSeconds, sketch.seamSeconds);
    EXPECT_EQ(levels.seamSeconds.empty() ? 0 : levels.seamSeconds.front(), firstSeam);
    EXPECT_EQ(levels.seamSeconds.empty(), !settings.loopAtSeams);
    ASSERT_EQ(whole.size(), reference.size());
    const auto differ = std::mismatch(whole.begin(), whole.end(), reference.begin());
    EXPECT_TRUE(differ.first == whole.end()) << "first difference at sample " << (differ.first - whole.begin()) / 2;
    // What that pass made is the run's too: exactly where no filter carries
    // a memory, within a few steps of 16 bits where the ducking's envelope
    // or a limiter started late (its warm-up).
    std::vector<std::int16_t> ahead(std::size_t(shared->videoSamples() - point) * 2);
    ASSERT_EQ(render.readAhead(point, shared->videoSamples() - point, ahead.data()), shared->videoSamples() - point);
    const int slack = settings.duckDb || settings.levelsSet() || settings.loudnessLufs ? 4 : 0;
    int furthest = 0;
    for (std::size_t i = 0; i < ahead.size(); ++i)
        furthest = std::max(furthest, std::abs(ahead[i] - reference[std::size_t(point) * 2 + i]));
    EXPECT_LE(furthest, slack);
    // The mix that Play hands on is the one drawn: loud where its level is.
    std::vector<std::int16_t> mixed(2 * 441);
    ASSERT_EQ(render.readMixed(std::int64_t(stepAt(5.5)) * kPreviewStepSamples, 441, mixed.data()), 441);
    double energy = 0;
    for (std::int16_t sample : mixed)
        energy += double(sample) * sample / (32768.0 * 32768.0) / mixed.size();
    EXPECT_NEAR(10 * std::log10(energy), db(levels.mix.at(stepAt(5.5))), 0.5);
    if (settings.loudnessLufs) {
        // What Play hands on measures the target, and the sketch is near it.
        std::unique_ptr<ebur128_state, void (*)(ebur128_state *)> meter(
            ebur128_init(2, kPreviewSampleRate, EBUR128_MODE_I), [](ebur128_state *m) { ebur128_destroy(&m); });
        ebur128_add_frames_short(meter.get(), whole.data(), whole.size() / 2);
        double heard = 0;
        ebur128_loudness_global(meter.get(), &heard);
        EXPECT_NEAR(heard, *settings.loudnessLufs, 0.5);
        EXPECT_NEAR(levels.reachedLufs.value_or(0), *settings.loudnessLufs, 0.5);
        EXPECT_NEAR(sketch.reachedLufs.value_or(0), *settings.loudnessLufs, 1.5);
        EXPECT_NEAR(sketch.measuredLufs.value_or(0), levels.measuredLufs.value_or(0), 1.5);
    }
}

INSTANTIATE_TEST_SUITE_P(Preview, MixPreviewLevels,
                         ::testing::Values(PreviewLevelCase{"FadeInAfterADelay",
                                                            [](MixSettings &s) {
                                                                s.fadeInSeconds = 2;
                                                                s.delaySeconds = 1;
                                                            },
                                                            {{0.5, -200, -40}, {2, -9, -3}, {3.5, -0.5, 0.5}}},
                                           PreviewLevelCase{"DuckingDipsUnderTheBurst",
                                                            [](MixSettings &s) { s.duckDb = 12; },
                                                            {{1, -0.5, 0.5}, {2.8, -13, -10}, {5.5, -0.5, 0.5}}},
                                           PreviewLevelCase{"LoudnessTargetOverDucking",
                                                            [](MixSettings &s) {
                                                                s.duckDb = 12;
                                                                s.loudnessLufs = -16;
                                                            },
                                                            {{1, -0.5, 0.5}, {2.8, -13, -10}, {5.5, -0.5, 0.5}}},
                                           // Time-stretched in its middle to the video's length, as the run plans it.
                                           PreviewLevelCase{"FittedSongFadingOut",
                                                            [](MixSettings &s) {
                                                                s.fit = true;
                                                                s.fadeOutSeconds = 4;
                                                            },
                                                            {{1, 2.5, 5}, {12, -8, -3}},
                                                            "burst-own-14.mp4",
                                                            "song-14.wav",
                                                            14},
                                           // Looped at its own seam after a delay, marked where the run's plan puts it.
                                           PreviewLevelCase{"SongLoopedAtItsSeam",
                                                            [](MixSettings &s) {
                                                                s.loopAtSeams = true;
                                                                s.delaySeconds = 1;
                                                            },
                                                            {{0.5, -200, -40}, {2, -1, 1.5}},
                                                            "burst-own-14.mp4",
                                                            "song-14.wav",
                                                            14}),
                         [](const auto &info) { return std::string(info.param.name); });

// The last two plans are kept: one asked again is there at once (even for a
// render already stopped), an older one is planned anew.
TEST(MixPreviewPlanner, KeepsTheLastTwoPlans) {
    MixPreviewPlanner planner(test::fixture("song-14.wav"), 14, true);
    const std::atomic<std::uint8_t> going{0}, stopped{1};
    std::shared_ptr<const MixPreviewPlan> plan;
    std::string error;
    MixSettings settings;
    settings.loopAtSeams = true;
    for (double start : {0.0, 0.5, 1.0}) {
        settings.musicStartSeconds = start;
        ASSERT_EQ(planner.planFor(settings, going, plan, error), 0) << error;
        EXPECT_TRUE(plan->planned) << start;
    }
    for (double start : {1.0, 0.5}) {
        settings.musicStartSeconds = start;
        EXPECT_EQ(planner.planFor(settings, stopped, plan, error), 0) << start;
    }
    settings.musicStartSeconds = 0;
    EXPECT_EQ(planner.planFor(settings, stopped, plan, error), AVERROR_EXIT);
}

} // namespace
} // namespace melvora
