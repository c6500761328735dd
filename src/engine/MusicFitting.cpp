// The step after opening the video (before the loudness passes and the graph) that fits the
// song to the video or finds its own loop: the music is decoded whole by
// the music feed, analysed and planned; the feed then plays the plan from
// memory. When no plan can be made the run goes on as without, and says so.

#include "engine/ClockText.h"
#include "engine/LoopHelpers.h"
#include "engine/MixGraphs.h"
#include "engine/MixSteps.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace melvora {
namespace {

// Songs longer than this are not held in memory (about 480 MB of samples).
constexpr double kLongestSongSeconds = 20 * 60;
// A fit that finds no jump fades the music out over this much at least.
constexpr double kFallbackFadeSeconds = 3;

// The decoder goes back to the file's start for the plain feed.
int rewindForPlainFeed(MixRun &run) {
    avcodec_flush_buffers(run.musicDecoder.get());
    return seekToStreamStart(run.musicInput.get(), run.musicStreamIndex, std::nullopt);
}

int fallBack(MixRun &run, const std::string &why) {
    MixSettings &settings = run.result.appliedMixSettings;
    if (settings.fit) {
        settings.fit = false;
        settings.fadeOutSeconds = std::max(settings.fadeOutSeconds, kFallbackFadeSeconds);
        warn(run, "fit: " + why + "; the music fades out at the end instead");
    } else {
        warn(run, "loop: " + why + "; the music loops from its end to its start instead");
    }
    settings.loopAtSeams = false;
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

    const auto started = std::chrono::steady_clock::now();
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
    std::vector<float> mono(planned->left.size());
    for (std::size_t i = 0; i < mono.size(); ++i)
        mono[i] = 0.5f * (planned->left[i] + planned->right[i]);
    const MusicAnalysis analysis = analyseMusic(mono.data(), mono.size(), kOutputSampleRate);
    mono = {};

    FitPlan plan;
    if (settings.fit)
        plan = planFit(analysis, secondsToSamples(span));
    else
        plan = planLoop(analysis);
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (!plan.found)
        return fallBack(run, settings.fit ? "no place in the music where a jump would go unheard"
                                          : "no place in the music to loop at unheard");
    run.result.fit = reportOf(plan, settings.fit ? MusicFitReport::Kind::Fitted : MusicFitReport::Kind::Looped,
                              settings.musicStartSeconds);
    run.result.fit.analysisSeconds = took;
    run.musicTempo = settings.fit ? plan.tempo : 1;
    planned->sequence = plan.sequence;
    run.plannedMusic = std::move(planned);
    return 0;
}

} // namespace melvora
