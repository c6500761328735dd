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

bool launchMixJob(MixJob &job, const MixRequest &request) {
    // Waits for a previous worker: the request must not change under a
    // running one.
    initMixJob(job);
    job.request = request;
    if (!(job.request.durationSeconds > 0))
        job.request.durationSeconds = 0; // unknown
    return startMixJob(job);
}

bool launchMixJob(MixJob &job, const std::string &videoPath, const std::string &musicPath,
                  const std::string &outputPath, double durationSeconds) {
    MixRequest request;
    request.videoPath = videoPath;
    request.musicPath = musicPath;
    request.outputPath = outputPath;
    request.durationSeconds = durationSeconds;
    return launchMixJob(job, request);
}

} // namespace melvora
