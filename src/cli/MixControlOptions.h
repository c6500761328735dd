#pragma once

// The mix controls as command-line options, shared by every command that
// mixes.

#include "engine/MixSettings.h"

#include <CLI/CLI.hpp>

#include <map>
#include <string>

namespace melvora {

struct MixControlOptions {
    std::map<MixControl, std::string> values; // as typed
    bool replace = false;
    bool noLoop = false;
    std::string loop; // "file", "auto" or not given
    bool fit = false;
    std::string duckOn; // "speech", "any" or not given
};

// Adds --music-gain, --own-gain, --replace, --fade-in, --fade-out, --delay,
// --music-start, --no-loop, --loop, --fit, --crossfade, --duck[=DB], --music-loudness,
// --duck-lookahead, --duck-hold and --duck-on.
void addMixControlOptions(CLI::App &command, MixControlOptions &options);

// The settings the options ask for; false, with the message naming the
// option and its range, when a value is not a number or out of range.
bool mixSettingsFromOptions(const MixControlOptions &options, MixSettings &settings, std::string &error);

} // namespace melvora
