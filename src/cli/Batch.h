#pragma once

#include "cli/MixOptions.h"

#include <atomic>
#include <string>
#include <vector>

namespace melvora {

struct BatchSettings {
    std::vector<std::string> inputs; // video files and folders
    std::string musicPath;
    std::string outputFolder; // empty: each video's own folder
    int parallelVideos = 1;
    bool recursive = false;   // descend into the sub-folders of folder inputs
    bool json = false;        // JSON events on stdout instead of text
    MixOptions options;       // taken by every video
};

// Lays the music under every video of the inputs, parallelVideos at a time.
// A non-zero stopSignal stops the running videos (their outputs finalised)
// and starts no other. Returns the exit code: 0 all finished, 1 some failed
// or were refused, 2 usage or nothing to do, 130 stopped.
int runBatch(const BatchSettings &settings, const std::atomic<int> &stopSignal);

} // namespace melvora
