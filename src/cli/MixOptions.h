#pragma once

#include "jobcontrol/StartFlow.h"

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
};

// Declares the shared options on a command (mix, batch).
void addMixOptions(CLI::App &command, MixOptions &options);

// Puts the options into one video's start request.
void applyMixOptions(const MixOptions &options, StartRequest &request);

// Threads for each of parallelVideos runs sharing totalThreads, at least one.
int threadsPerVideo(int totalThreads, int parallelVideos);

} // namespace melvora
