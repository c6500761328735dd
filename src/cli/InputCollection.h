#pragma once

#include "cli/ProgressDisplay.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace melvora {

enum class VideoState { Pending, Running, Finished, Stopped, Failed, Refused, NotStarted };

// One video of a run and what became of it.
struct Video {
    std::string path;
    std::optional<double> probedSeconds; // its length, when the collection probed it
    double durationSeconds = 0;          // the collection's, then the run's
    VideoState state = VideoState::Pending;
    std::string outputPath;
    std::string reason; // why it failed or was refused
    int percent = -1;   // the last one reported
    SpeedMeter speed;
};

// The videos of batch's INPUTs: a named file always takes part (refused when
// it is missing or no video), a folder gives only its files that probe as
// videos, in name order, then with recursive those of its sub-folders. A file
// named twice takes part once. A stop signal ends the search: the named files
// from then on are taken unexamined, the folders' no further.
std::vector<Video> collectVideos(const std::vector<std::string> &inputs, bool recursive);

} // namespace melvora
