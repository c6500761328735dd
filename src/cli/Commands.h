#pragma once

#include "cli/MixOptions.h"

#include <string>
#include <vector>

namespace melvora {

// What a mix or a batch is asked to do.
struct BatchSettings {
    std::vector<std::string> inputs; // video files and folders; mix: its one video
    std::string musicPath;
    std::string outputFolder; // empty: each video's own folder
    int parallelVideos = 1;
    bool recursive = false; // descend into the sub-folders of folder inputs
    bool json = false;      // JSON events on stdout instead of text
    MixOptions options;     // taken by every video
};

// Lays the music under the one video of the inputs, as a batch of one
// reported as mix reports it: its messages on stderr, the output's path as
// the last line on stdout. Exit code 0 finished, 1 failed, 2 refused, 130
// stopped (the output finalised).
int runMix(const BatchSettings &settings);

// Lays the music under every video of the inputs, parallelVideos at a time.
// A stop signal stops the running videos (their outputs finalised) and
// starts no other. Exit code 0 all finished, 1 some failed or were refused,
// 2 usage or nothing to do, 130 stopped.
int runBatch(const BatchSettings &settings);

// Examines the file as a video (or as music) and prints what was found as
// one line of JSON; exit code 0 when it was accepted, else 1.
int runProbe(const std::string &path, bool audio);

} // namespace melvora
