#pragma once

// What fitting or looping the music did, for both front ends. No FFmpeg.

#include <string>
#include <vector>

namespace melvora {

struct MusicFitReport {
    enum class Kind {
        None,   // neither asked for, or nothing to do
        Fitted, // the song was fitted to the video (maybe without a jump)
        Looped, // the song loops at its own seam
    };
    struct Jump {
        double fromSeconds = 0; // in the music file
        double toSeconds = 0;
    };
    Kind kind = Kind::None;
    std::vector<Jump> jumps;
    double tempoPercent = 0; // +0.8: played 0.8 % faster
    // How long the step took, in three parts: reading the song whole (which
    // the run then plays from memory instead of decoding it during the mix),
    // the analysis (beats, features and the plan) and the time-stretching.
    double decodeSeconds = 0;
    double analysisSeconds = 0;
    double stretchSeconds = 0;
};

// One line: "fit: 2 jumps, 1:12→1:48 and 2:30→2:34, tempo +0.8 %",
// "fit: no jump, tempo -0.3 %", "loop: 3:10→0:12"; "" for None.
std::string musicFitText(const MusicFitReport &report);

} // namespace melvora
