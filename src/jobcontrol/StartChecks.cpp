#include "jobcontrol/StartChecks.h"
#include "jobcontrol/OutputFolder.h"

namespace melvora {

StartRefusal checkStartInputs(const StartInputs &inputs) {
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
    if (!folderAcceptsNewFile(inputs.outputFolder))
        return StartRefusal::FolderNotWritable;
    return StartRefusal::None;
}

bool launchMixJob(MixJob &job, const std::string &videoPath, const std::string &musicPath,
                  const std::string &outputPath, std::int64_t videoDurationMicroseconds) {
    // The paths and the duration must not change under a running worker.
    joinMixJob(job);
    job.videoPath = videoPath;
    job.musicPath = musicPath;
    job.outputPath = outputPath;
    job.durationSeconds = 0;
    if (videoDurationMicroseconds > 0)
        job.durationSeconds = static_cast<double>(videoDurationMicroseconds) / 1000000.0;
    job.segmentIndex = -1;
    job.stopRequested = 0;
    job.progressPercent = 0;
    return startMixJob(job);
}

} // namespace melvora
