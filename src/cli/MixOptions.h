#pragma once

#include "cli/MixControlOptions.h"
#include "jobcontrol/StartFlow.h"

#include <string>

namespace CLI {
class App;
}

namespace melvora {

// The options every run takes, the same for `mix` and for each video of a
// `batch`. The mix controls' options and --threads belong here: declared on
// both commands by addMixOptions, handed to each run by applyMixOptions.
struct MixOptions {
    // Encoder threads for one video; 0 leaves the choice to the encoder.
    // batch shares the machine's threads out over its parallel videos.
    int encoderThreads = 0;
    bool fastStart = false;
    bool allowShortVideo = false;
    MixControlOptions controls; // as typed
    MixSettings settings;       // what they ask for, once resolved
};

// Declares the shared options on a command (mix, batch).
void addMixOptions(CLI::App &command, MixOptions &options);

// Turns the typed controls into settings; false, with the message naming the
// option and its range, when one is refused (before any work).
bool resolveMixOptions(MixOptions &options, std::string &error);

// Puts the options into one video's start request.
void applyMixOptions(const MixOptions &options, StartRequest &request);

// Threads for each of parallelVideos runs sharing totalThreads, at least one.
int threadsPerVideo(int totalThreads, int parallelVideos);

} // namespace melvora
