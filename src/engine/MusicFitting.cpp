// The step after opening the video (before the loudness passes and the graph) that fits the
// song to the video or finds its own loop: the music is decoded whole by
// the music feed, analysed and planned; what the jumps leave over is taken up
// by time-stretching stretches of the plan in memory, so that the song's
// start, end and seams stay its own samples and the graph gets no tempo
// filter; the feed then plays the plan from memory. When no plan can be made
// the run goes on as without, and says so.

#include "engine/ClockText.h"
#include "engine/LoopHelpers.h"
#include "engine/MixGraphs.h"
#include "engine/MixSteps.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

extern "C" {
#include <libavfilter/buffersink.h>
}

namespace melvora {
namespace {

// Songs longer than this are not held in memory (about 480 MB of samples).
constexpr double kLongestSongSeconds = 20 * 60;
// A fit that finds no jump fades the music out over this much at least.
constexpr double kFallbackFadeSeconds = 3;
// The tempo filter hears this much of the plan on both sides of a stretch,
// so that its own start and end fall outside what is kept.
constexpr double kStretchContextSeconds = 1;
// The stretched samples take over from the song's own, and give back to
// them, over this many samples (the two are nearly in phase there).
constexpr std::int64_t kStretchJoinSamples = 1024;
constexpr int kStretchBlock = 4096;

// [from, to) of the plan's own output, without its stretches.
void renderPlan(const PlannedMusic &planned, std::int64_t from, std::int64_t to, std::vector<float> (&out)[2]) {
    SpanPlayer player(planned.left, planned.right, planned.sequence);
    std::vector<float> scratch[2] = {std::vector<float>(kStretchBlock), std::vector<float>(kStretchBlock)};
    for (std::int64_t at = 0; at < from;) {
        const std::int64_t n =
            player.render(scratch[0].data(), scratch[1].data(), std::min<std::int64_t>(kStretchBlock, from - at));
        if (n == 0)
            break;
        at += n;
    }
    for (std::vector<float> &plane : out)
        plane.resize(std::size_t(std::max<std::int64_t>(0, to - from)));
    const std::int64_t n = player.render(out[0].data(), out[1].data(), std::int64_t(out[0].size()));
    for (std::vector<float> &plane : out)
        plane.resize(std::size_t(n));
}

// How far (within kAlignSamples) b's samples from bAt best match a's from
// aAt over count samples, both channels summed.
constexpr std::int64_t kAlignSamples = 256;
std::int64_t bestLag(const std::vector<float> (&a)[2], std::int64_t aAt, const std::vector<float> (&b)[2],
                     std::int64_t bAt, std::int64_t count) {
    std::int64_t best = 0;
    double bestScore = -2;
    for (std::int64_t lag = -kAlignSamples; lag <= kAlignSamples; ++lag) {
        if (bAt + lag < 0 || bAt + lag + count > std::int64_t(b[0].size()) || aAt < 0 ||
            aAt + count > std::int64_t(a[0].size()))
            continue;
        double product = 0, aEnergy = 0, bEnergy = 0;
        for (std::int64_t k = 0; k < count; ++k) {
            const double x = a[0][std::size_t(aAt + k)] + a[1][std::size_t(aAt + k)];
            const double y = b[0][std::size_t(bAt + lag + k)] + b[1][std::size_t(bAt + lag + k)];
            product += x * y, aEnergy += x * x, bEnergy += y * y;
        }
        const double score = aEnergy > 0 && bEnergy > 0 ? product / std::sqrt(aEnergy * bEnergy) : -1;
        if (score > bestScore + 1e-9) {
            bestScore = score;
            best = lag;
        }
    }
    return best;
}

int appendSinkFrames(AVFilterContext *sink, AVFrame *frame, std::vector<float> (&into)[2]) {
    for (;;) {
        const int result = av_buffersink_get_frame(sink, frame);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return 0;
        if (result < 0)
            return result;
        for (int c = 0; c < 2; ++c) {
            const auto *plane = reinterpret_cast<const float *>(frame->extended_data[c]);
            into[c].insert(into[c].end(), plane, plane + frame->nb_samples);
        }
        av_frame_unref(frame);
    }
}

// One stretch of the plan through FFmpeg's atempo filter (the pitch
// kept), cut to its new length and joined to the plan's own samples at both
// ends. Runs beside the other pieces: its graph and its error text are its
// own job's, only the stop flag is the run's.
int stretchPiece(const std::atomic<std::uint8_t> &stopRequested, const PlannedMusic &planned,
                 const SequenceStretch &stretch, ReplacedStretch &piece, MixJob &own) {
    MixRun graph(own);
    const std::int64_t context = secondsToSamples(kStretchContextSeconds);
    const std::int64_t from = std::max<std::int64_t>(0, stretch.from - context);
    const std::int64_t to = std::min(planned.sequence.playedLength(), stretch.to + context);
    std::vector<float> in[2];
    renderPlan(planned, from, to, in);
    const double tempo = double(stretch.to - stretch.from) / double(stretch.length);
    // atempo overlaps pieces of the waveform itself where they match, so the
    // level and the spectrum stay the song's; the phase vocoder of the
    // rubberband filter was measured 1 to 2 dB quieter at these small
    // changes (a step at each join) and ten times as costly.
    char description[64];
    std::snprintf(description, sizeof description, "atempo=%.9f", tempo);
    int result = buildSingleInputGraph(graph, description);
    if (result < 0)
        return result;
    FramePtr frame(av_frame_alloc()), out(av_frame_alloc());
    if (!frame || !out)
        return fail(graph, "Out of memory", AVERROR(ENOMEM));
    std::vector<float> stretched[2];
    const auto count = std::int64_t(in[0].size());
    for (std::int64_t at = 0; result >= 0 && at < count; at += kStretchBlock) {
        if (stopRequested.load())
            return AVERROR_EXIT;
        const int n = int(std::min<std::int64_t>(kStretchBlock, count - at));
        frame->nb_samples = n;
        frame->format = kOutputSampleFormat;
        frame->sample_rate = kOutputSampleRate;
        frame->ch_layout = stereoLayout();
        frame->pts = at;
        result = av_frame_get_buffer(frame.get(), 0);
        if (result < 0)
            break;
        for (int c = 0; c < 2; ++c)
            std::copy_n(in[c].begin() + at, n, reinterpret_cast<float *>(frame->extended_data[c]));
        result = pushToSource(graph, graph.firstSource, frame.get());
        if (result >= 0)
            result = appendSinkFrames(graph.sinkFilter, out.get(), stretched);
    }
    if (result >= 0)
        result = pushToSource(graph, graph.firstSource, nullptr);
    if (result >= 0)
        result = appendSinkFrames(graph.sinkFilter, out.get(), stretched);
    // The filter maps its input's time onto its output's by the tempo, give
    // or take some of its hops: each end is lined up with the plan's own
    // sound before the two are joined, and the end's offset is taken up
    // gradually over the samples before its join.
    const std::int64_t before = stretch.from - from, after = stretch.to - from;
    const std::int64_t join = std::min(kStretchJoinSamples, stretch.length / 4);
    const std::int64_t start = std::llround(double(before) / tempo) +
                               bestLag(in, before, stretched, std::llround(double(before) / tempo), join);
    const std::int64_t tailFrom = start + stretch.length - join;
    const std::int64_t endLag = bestLag(in, after - join, stretched, tailFrom, join);
    const std::int64_t warp = std::min(2 * join, stretch.length / 4);
    if (result >= 0 && (start - warp < 0 || std::int64_t(stretched[0].size()) < tailFrom + join + kAlignSamples + 1))
        result = AVERROR_BUG;
    if (result < 0)
        return fail(graph, "Could not time-stretch the music", result);

    piece.from = stretch.from;
    piece.to = stretch.to;
    for (int c = 0; c < 2; ++c) {
        std::vector<float> &samples = c == 0 ? piece.left : piece.right;
        const std::vector<float> &source = stretched[c];
        samples.assign(source.begin() + start, source.begin() + start + stretch.length);
        for (std::int64_t k = 0; k < warp; ++k) {
            const double at = double(tailFrom - warp + k) + double(endLag) * (double(k) + 0.5) / double(warp);
            const auto below = std::size_t(std::floor(at));
            const auto fraction = float(at - std::floor(at));
            samples[std::size_t(stretch.length - join - warp + k)] =
                source[below] * (1 - fraction) + source[below + 1] * fraction;
        }
        for (std::int64_t k = 0; k < join; ++k) {
            const auto w = float((double(k) + 0.5) / double(join));
            float &head = samples[std::size_t(k)];
            head = in[c][std::size_t(before + k)] * (1 - w) + head * w;
            float &tail = samples[std::size_t(stretch.length - join + k)];
            tail = source[std::size_t(tailFrom + endLag + k)] * (1 - w) + in[c][std::size_t(after - join + k)] * w;
        }
    }
    return 0;
}

// The pieces are independent: each on a thread of its own, as many at a
// time as there are cores; the first failure in the plan's order is told.
int stretchPieces(MixRun &run, const std::vector<SequenceStretch> &stretches, PlannedMusic &planned) {
    const std::size_t pieces = stretches.size();
    planned.stretched.resize(pieces);
    std::vector<int> results(pieces, 0);
    std::vector<MixJob> jobs(pieces);
    std::atomic<std::size_t> next{0};
    const auto stretchSome = [&] {
        for (std::size_t k; (k = next.fetch_add(1)) < pieces;)
            results[k] = stretchPiece(run.job.stopRequested, planned, stretches[k], planned.stretched[k], jobs[k]);
    };
    const std::size_t threads = std::min<std::size_t>(pieces, std::max(1u, std::thread::hardware_concurrency()));
    std::vector<std::thread> helpers(threads > 0 ? threads - 1 : 0); // this thread is one of them
    for (std::thread &helper : helpers)
        helper = std::thread(stretchSome);
    stretchSome();
    for (std::thread &helper : helpers)
        helper.join();
    for (std::size_t k = 0; k < pieces; ++k) {
        if (results[k] < 0) {
            if (results[k] != AVERROR_EXIT && run.result.errorMessage.empty())
                run.result.errorMessage = jobs[k].result.errorMessage;
            return results[k];
        }
    }
    return 0;
}

// The decoder goes back to the file's start for the plain feed.
int rewindForPlainFeed(MixRun &run) {
    avcodec_flush_buffers(run.musicDecoder.get());
    return seekToStreamStart(run.musicInput.get(), run.musicStreamIndex, std::nullopt);
}

int fallBack(MixRun &run, const std::string &why) {
    MixSettings &settings = run.result.appliedMixSettings;
    if (settings.fit)
        warn(run, "fit: " + why + "; the music fades out at the end instead");
    else
        warn(run, "loop: " + why + "; the music loops from its end to its start instead");
    dropMusicPlan(settings);
    const int result = rewindForPlainFeed(run);
    return result < 0 ? fail(run, "Could not go back to the music's start", result) : 0;
}

MusicFitReport reportOf(const FitPlan &plan, MusicFitReport::Kind kind, double musicStart) {
    MusicFitReport report;
    report.kind = kind;
    for (const FitJump &jump : plan.jumps)
        report.jumps.push_back({musicStart + double(jump.from) / kOutputSampleRate,
                                musicStart + double(jump.to) / kOutputSampleRate});
    report.tempoPercent = (plan.tempo - 1) * 100;
    return report;
}

} // namespace

void dropMusicPlan(MixSettings &settings) {
    if (settings.fit)
        settings.fadeOutSeconds = std::max(settings.fadeOutSeconds, kFallbackFadeSeconds);
    settings.fit = false;
    settings.loopAtSeams = false;
}

int fitMusic(MixRun &run) {
    MixSettings &settings = run.result.appliedMixSettings;
    const bool looping = settings.loop && settings.loopAtSeams && !settings.fit;
    if (run.mode == MixMode::CopyMusic || (!settings.fit && !looping)) {
        settings.loopAtSeams = settings.loopAtSeams && looping;
        return 0;
    }
    const double span = run.request.durationSeconds - settings.delaySeconds;
    if (settings.fit && !(span > 0))
        return fallBack(run, "the video's length is not known, or the delay covers it");

    using Clock = std::chrono::steady_clock;
    const auto secondsSince = [](Clock::time_point from) {
        return std::chrono::duration<double>(Clock::now() - from).count();
    };
    auto started = Clock::now();
    MixSettings onePass;
    onePass.musicStartSeconds = settings.musicStartSeconds;
    onePass.loop = false;
    auto planned = std::make_shared<PlannedMusic>();
    {
        MusicFeed reader(run.musicInput.get(), run.musicStreamIndex, run.musicDecoder.get(), onePass,
                         &run.job.stopRequested);
        const int result =
            reader.readPass(planned->left, planned->right, secondsToSamples(kLongestSongSeconds));
        if (result == AVERROR_EXIT)
            return result;
        if (result == AVERROR(E2BIG))
            return fallBack(run, "the music is longer than " + clockText(kLongestSongSeconds) + " to analyse");
        if (result < 0)
            return fail(run, "Could not read the music", result);
    }
    const double decodeSeconds = secondsSince(started);
    started = Clock::now();
    std::vector<float> mono(planned->left.size());
    for (std::size_t i = 0; i < mono.size(); ++i)
        mono[i] = 0.5f * (planned->left[i] + planned->right[i]);
    const MusicAnalysis analysis = analyseMusic(mono.data(), mono.size(), kOutputSampleRate, &run.job.stopRequested);
    mono = {};

    FitPlan plan;
    if (settings.fit)
        plan = planFit(analysis, secondsToSamples(span), {}, &run.job.stopRequested);
    else
        plan = planLoop(analysis);
    if (run.job.stopRequested.load())
        return AVERROR_EXIT;
    if (!plan.found && !settings.fit)
        return fallBack(run, "no place in the music to loop at unheard");
    if (!plan.found && !plan.placesToJump)
        return fallBack(run, "no place in the music where a jump would go unheard");
    if (!plan.found) {
        char reason[120];
        std::snprintf(reason, sizeof reason,
                      "no jumps where the music repeats itself make it this long, with at most a %.1f %% tempo "
                      "change",
                      100 * FitLimits{}.largestTempoChange);
        return fallBack(run, reason);
    }
    alignJumps(plan, planned->left, planned->right, settings.fit ? secondsToSamples(span) : 0,
               kOutputSampleRate);
    planned->sequence = plan.sequence;
    const double analysisSeconds = secondsSince(started);
    started = Clock::now();
    const int stretched = stretchPieces(run, plan.stretches, *planned);
    if (stretched < 0)
        return stretched;
    run.result.fit = reportOf(plan, settings.fit ? MusicFitReport::Kind::Fitted : MusicFitReport::Kind::Looped,
                              settings.musicStartSeconds);
    run.result.fit.decodeSeconds = decodeSeconds;
    run.result.fit.analysisSeconds = analysisSeconds;
    run.result.fit.stretchSeconds = secondsSince(started);
    run.plannedMusic = std::move(planned);
    return 0;
}

} // namespace melvora
