#pragma once

#include "engine/MixJob.h"

#include <cstdint>
#include <string>

namespace melvora {

// Why a start was refused, in the order the checks run. Each front end
// shows its own text for each reason.
enum class StartRefusal {
    None,
    NoVideo,            // the video path is empty
    NoMusic,            // the music path is empty
    VideoMissing,       // the video file does not exist
    MusicMissing,       // the music file does not exist
    FolderIsSeparator,  // the folder text is a lone separator: refused silently
    FolderMissing,      // the output folder does not exist
    FolderNotWritable,  // the write test failed in the output folder
};

struct StartInputs {
    std::string videoPath;
    std::string musicPath;
    std::string outputFolder;
};

// The checks of a start, stopping at the first failure; why, when given,
// gets the system's reason where there is one (an unwritable folder).
StartRefusal checkStartInputs(const StartInputs &inputs, std::string *why = nullptr);

// Prepares the job (initMixJob), gives it the request and starts its
// worker, waiting first for a previous worker to end. False when no worker
// could be started.
bool launchMixJob(MixJob &job, const MixRequest &request);

// The same for an output name nobody claimed for the run, with the plain mix.
bool launchMixJob(MixJob &job, const std::string &videoPath, const std::string &musicPath,
                  const std::string &outputPath, double durationSeconds);

} // namespace melvora
