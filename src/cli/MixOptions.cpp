#include "cli/MixOptions.h"

#include <CLI/CLI.hpp>

#include <algorithm>

namespace melvora {

void addMixOptions(CLI::App &command, MixOptions &options) { addMixControlOptions(command, options.controls); }

bool resolveMixOptions(MixOptions &options, std::string &error) {
    return mixSettingsFromOptions(options.controls, options.settings, error);
}

void applyMixOptions(const MixOptions &options, StartRequest &request) { request.mixSettings = options.settings; }

int threadsPerVideo(int totalThreads, int parallelVideos) {
    return std::max(1, totalThreads / std::max(1, parallelVideos));
}

} // namespace melvora
