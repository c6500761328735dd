#pragma once

#include "config/IniKey.h"

#include <string_view>

// The keys of setting.ini.
namespace melvora::settingkeys {

// Name of the language file inside the languages folder, such as "english.ini"; default "".
inline constexpr IniKey languageFile{"LANGUAGE", "file"};
// Last output folder chosen with Browse; default "".
inline constexpr IniKey outputFolder{"PATH", "name"};
// "1" opens the output folder after a successful job; any other text does not.
inline constexpr IniKey openFolderWhenDone{"DIR", "open"};
inline constexpr std::string_view openFolderWhenDoneDefault = "1";

// Selections of the hidden preset lists (see JoinPresets).
inline constexpr std::string_view joinSection = "JOIN";

} // namespace melvora::settingkeys
