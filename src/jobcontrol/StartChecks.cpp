#include "jobcontrol/StartChecks.h"
#include "jobcontrol/OutputFolder.h"

namespace melvora {

StartRefusal checkStartInputs(const StartInputs &inputs, std::string *why) {
    if (inputs.videoPath.empty())
        return StartRefusal::NoVideo;
    if (inputs.musicPath.empty())
        return StartRefusal::NoMusic;
    if (!pathExists(inputs.videoPath))
        return StartRefusal::VideoMissing;
    if (!pathExists(inputs.musicPath))
        return StartRefusal::MusicMissing;
    if (inputs.outputFolder == "\\")
        return StartRefusal::FolderIsSeparator;
    if (!folderExists(inputs.outputFolder))
        return StartRefusal::FolderMissing;
    if (!folderAcceptsNewFile(inputs.outputFolder, why))
        return StartRefusal::FolderNotWritable;
    return StartRefusal::None;
}

bool launchMixJob(MixJob &job, const RunRequest &request) {
    // Waits for a previous worker: the paths and the duration must not
    // change under a running one.
    initMixJob(job);
    job.videoPath = request.videoPath;
    job.musicPath = request.musicPath;
    job.outputPath = request.outputPath;
    job.claimedOutput = request.claimedOutput;
    job.mixSettings = request.mixSettings;
    job.encoderThreads = request.encoderThreads;
    job.fastStart = request.fastStart;
    job.durationSeconds = 0;
    if (request.videoDurationMicroseconds > 0)
        job.durationSeconds = static_cast<double>(request.videoDurationMicroseconds) / 1000000.0;
    return startMixJob(job);
}

bool launchMixJob(MixJob &job, const std::string &videoPath, const std::string &musicPath,
                  const std::string &outputPath, std::int64_t videoDurationMicroseconds) {
    RunRequest request;
    request.videoPath = videoPath;
    request.musicPath = musicPath;
    request.outputPath = outputPath;
    request.videoDurationMicroseconds = videoDurationMicroseconds;
    return launchMixJob(job, request);
}

} // namespace melvora
