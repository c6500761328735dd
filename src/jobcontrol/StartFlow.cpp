#include "jobcontrol/StartFlow.h"
#include "engine/MediaProbe.h"
#include "jobcontrol/OutputNaming.h"

namespace melvora {

bool probeAccepts(MixJob &job, const std::string &path, MediaKind kind, bool musicStartMustNotBeNegative,
                  std::string *why) {
    job.probePath = path;
    const bool video = kind == MediaKind::Video;
    const int result = video ? probeVideo(job) : probeAudio(job);
    const bool startMatters = video || musicStartMustNotBeNegative;
    if (result == kProbeAccepted && (!startMatters || job.info.startTime >= 0))
        return true;
    if (why) {
        if (result == kProbeAccepted)
            *why = "its start time is negative";
        else if (result == kProbeNotUsable && job.probeResult >= 0)
            *why = std::string("it holds no ") + (video ? "video" : "audio") + " stream";
        else
            *why = ffmpegErrorText(job.probeResult < 0 ? job.probeResult : result);
    }
    return false;
}

StartOutcome startMixRun(MixJob &job, const StartRequest &request, const RunLauncher &launcher) {
    StartOutcome outcome;
    const StartInputs &inputs = request.inputs;
    outcome.refusal = checkStartInputs(inputs, &outcome.reason);
    if (outcome.refusal != StartRefusal::None)
        return outcome;

    // The run takes its length from the probe of this very video.
    std::int64_t videoDuration = 0;
    if (request.probedVideoDuration) {
        videoDuration = *request.probedVideoDuration;
    } else {
        if (!probeAccepts(job, inputs.videoPath, MediaKind::Video, false, &outcome.reason)) {
            outcome.step = StartStep::NotAVideo;
            return outcome;
        }
        videoDuration = job.info.videoDuration;
        outcome.videoDuration = videoDuration;
    }
    if (!request.musicProbed &&
        !probeAccepts(job, inputs.musicPath, MediaKind::Music, request.musicStartMustNotBeNegative,
                      &outcome.reason)) {
        outcome.step = StartStep::NotMusic;
        return outcome;
    }
    outcome.musicAccepted = true;

    RunRequest run{inputs.videoPath, inputs.musicPath, {}, {}, videoDuration, request.mixSettings,
                   request.encoderThreads, request.fastStart};
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
        outcome.reason = job.errorMessage;
        outcome.step = StartStep::NotStarted;
        return outcome;
    }
    outcome.step = StartStep::Started;
    return outcome;
}

} // namespace melvora
