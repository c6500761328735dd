#include "cli/MixOptions.h"

#include <CLI/CLI.hpp>

#include <algorithm>

namespace melvora {

void addMixOptions(CLI::App &command, MixOptions &options) {
    // No shared option exists yet besides the thread share that batch sets
    // itself; the mix controls and --threads are declared here.
    (void)command;
    (void)options;
}

void applyMixOptions(const MixOptions &options, StartRequest &request) {
    // The start request has no field for the options yet; encoderThreads
    // is handed on here once the engine takes a thread count.
    (void)options;
    (void)request;
}

int threadsPerVideo(int totalThreads, int parallelVideos) {
    return std::max(1, totalThreads / std::max(1, parallelVideos));
}

} // namespace melvora
