#include "cli/MixOptions.h"

#include <CLI/CLI.hpp>

#include <algorithm>

namespace melvora {

void addMixOptions(CLI::App &command, MixOptions &options) {
    command
        .add_option("--threads", options.encoderThreads,
                    "Encode the sound on N threads at once (default: one per core; 1 keeps the single encoder)")
        ->check(CLI::Range(1, 256));
    command.add_flag("--faststart", options.fastStart,
                     "MP4, MOV and 3GP outputs get their index before the data, so that they play while they "
                     "download (the output is written once more at the end)");
    command.add_flag("--allow-short", options.allowShortVideo,
                     "Keep the output of a video that ends well before the length its header gives (cut short or "
                     "still being written), with a warning; without it such a run fails and leaves nothing");
    addMixControlOptions(command, options.controls);
}

bool resolveMixOptions(MixOptions &options, std::string &error) {
    return mixSettingsFromOptions(options.controls, options.settings, error);
}

void applyMixOptions(const MixOptions &options, StartRequest &request) {
    request.mix.mixSettings = options.settings;
    request.mix.encoderThreads = options.encoderThreads;
    request.mix.fastStart = options.fastStart;
    request.mix.allowShortVideo = options.allowShortVideo;
}

int threadsPerVideo(int totalThreads, int parallelVideos) {
    return std::max(1, totalThreads / std::max(1, parallelVideos));
}

} // namespace melvora
