#pragma once

// The mix settings in setting.ini, section [MIX].

#include "engine/MixSettings.h"

#include <string>

namespace melvora {

class MixSettingsStore {
public:
    // What the settings file holds; anything missing, unreadable or out of
    // range gives that control's default, so a missing section is the plain mix.
    static MixSettings load();
    // Writes every key; an unset level, ducking or loudness is written empty.
    // False (with the reason in error) when the file could not be written.
    static bool save(const MixSettings &settings, std::string *error = nullptr);
};

} // namespace melvora
