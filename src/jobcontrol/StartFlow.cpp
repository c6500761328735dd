#include "jobcontrol/StartFlow.h"
#include "engine/FFmpegHandles.h"
#include "engine/MediaProbe.h"
#include "jobcontrol/OutputNaming.h"

#include <cmath>
#include <cstdio>
#include <string>

#include <sys/stat.h>

namespace melvora {

bool probeAccepts(MixJob &job, const std::string &path, MediaKind kind, std::string *why) {
    // A pipe or a device would be waited on forever: refused before any open.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        if (why)
            *why = S_ISDIR(info.st_mode) ? "it is a folder" : "it is not a regular file (a pipe or a device)";
        return false;
    }
    job.probePath = path;
    const bool video = kind == MediaKind::Video;
    const int result = video ? probeVideo(job) : probeAudio(job);
    if (result == kProbeAccepted)
        return true;
    if (why) {
        if (result == kProbeNotUsable && job.probeResult >= 0)
            *why = std::string("it holds no ") + (video ? "video" : "audio") + " stream";
        else
            *why = ffmpegErrorText(job.probeResult < 0 ? job.probeResult : result);
    }
    return false;
}

double probedVideoSeconds(const MixJob &job) {
    return job.info.videoDuration > 0 ? static_cast<double>(job.info.videoDuration) / 1000000.0 : 0;
}

namespace {

// What the settings ask of the music that it cannot give, found before any
// work rather than by a run that fails once started; empty when it can.
std::string musicUnfitFor(const MixSettings &settings, double musicSeconds) {
    if (!(musicSeconds > 0))
        return {};
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s", musicSeconds);
    if (settings.musicStartSeconds > 0 && settings.musicStartSeconds >= musicSeconds)
        return "--music-start " + std::to_string(std::lround(settings.musicStartSeconds)) +
               " s is at or past the end of the music, which lasts " + seconds;
    // The loudness meter's shortest measure is one 400 ms block.
    constexpr double kShortestMeasurable = 0.4;
    if (settings.musicLoudnessLufs && musicSeconds - settings.musicStartSeconds < kShortestMeasurable)
        return std::string("--music-loudness needs at least 0.4 s of music to measure; the music lasts ") + seconds;
    return {};
}

} // namespace

StartOutcome startMixRun(MixJob &job, const StartRequest &request, const RunLauncher &launcher) {
    StartOutcome outcome;
    const StartInputs &inputs = request.inputs;
    outcome.refusal = checkStartInputs(inputs, &outcome.reason);
    if (outcome.refusal != StartRefusal::None)
        return outcome;

    MixRequest run = request.mix;
    run.videoPath = inputs.videoPath;
    run.musicPath = inputs.musicPath;
    // The run takes its length from the probe of this very video.
    if (request.probedVideoSeconds) {
        run.durationSeconds = *request.probedVideoSeconds;
    } else {
        if (!probeAccepts(job, inputs.videoPath, MediaKind::Video, &outcome.reason)) {
            outcome.step = StartStep::NotAVideo;
            return outcome;
        }
        run.durationSeconds = probedVideoSeconds(job);
        outcome.videoSeconds = run.durationSeconds;
    }
    if (!request.musicProbed && !probeAccepts(job, inputs.musicPath, MediaKind::Music, &outcome.reason)) {
        outcome.step = StartStep::NotMusic;
        return outcome;
    }
    outcome.musicAccepted = true;
    if (run.mixSettings.musicStartSeconds > 0 || run.mixSettings.musicLoudnessLufs) {
        // The music's length, from a probe of its own (the front end's may be of another file by now).
        if (request.musicProbed && !probeAccepts(job, inputs.musicPath, MediaKind::Music, &outcome.reason)) {
            outcome.step = StartStep::NotMusic;
            return outcome;
        }
        outcome.reason = musicUnfitFor(run.mixSettings, static_cast<double>(job.info.audioDuration) / 1000000.0);
        if (!outcome.reason.empty()) {
            outcome.step = StartStep::MusicUnfit;
            return outcome;
        }
    }

    const std::optional<std::string> outputPath =
        claimOutputPath(inputs.outputFolder, inputs.videoPath, outcome.reason, &run.claimedOutput);
    if (!outputPath) {
        outcome.step = StartStep::NoOutputName;
        return outcome;
    }
    run.outputPath = *outputPath;
    outcome.outputPath = *outputPath;

    const bool started = launcher ? launcher(job, run) : launchMixJob(job, run);
    if (!started) {
        // Nothing was written: the claimed name is given back.
        removeIfSameEmptyFile(run.outputPath, run.claimedOutput);
        outcome.reason = job.result.errorMessage;
        outcome.step = StartStep::NotStarted;
        return outcome;
    }
    outcome.step = StartStep::Started;
    return outcome;
}

} // namespace melvora
