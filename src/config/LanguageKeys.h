#pragma once

#include "config/IniKey.h"

#include <array>

// Every text of a language file that the program shows.
namespace melvora::languagekeys {

inline constexpr IniKey applicationName{"APPLICATION", "name"};       // title, first part; progress caption
inline constexpr IniKey applicationVersion{"APPLICATION", "version"}; // title, second part
inline constexpr IniKey applicationUrl{"APPLICATION", "url"};         // address of the web link
inline constexpr IniKey linkText{"JIEMIAN", "zysybrj"};               // text of the web link
inline constexpr IniKey mediaFilterName{"JIEMIAN", "symtwj"};         // first open-file filter
inline constexpr IniKey allFilesFilterName{"JIEMIAN", "sywj"};        // second open-file filter ("*.*")
inline constexpr IniKey currentFileLabel{"JIEMIAN", "dqwj"};          // progress dialog label
inline constexpr IniKey stopButton{"JIEMIAN", "tz"};                  // progress dialog stop button and tip
inline constexpr IniKey sameAsSource{"JIEMIAN", "ywjyy"};             // first entry of hidden preset lists
inline constexpr IniKey invalidDropBefore{"TISHI", "wj"};             // dropped non-video: before the name
inline constexpr IniKey invalidDropAfter{"TISHI", "wx"};              // dropped non-video: after the name
inline constexpr IniKey missingOutputFolder{"TISHI", "mlbcz"};        // output folder does not exist
inline constexpr IniKey progressSuffix{"TISHI", "wjwc"};              // word after the percentage
inline constexpr IniKey jobSucceeded{"TISHI", "hbcg"};                // job finished
inline constexpr IniKey jobFailed{"TISHI", "hbsb"};                   // job failed
inline constexpr IniKey startButtonTip{"HINT", "hbcygwj"};            // tooltip of the start button

inline constexpr std::array catalogue{
    applicationName,  applicationVersion, applicationUrl, linkText,          mediaFilterName,  allFilesFilterName,
    currentFileLabel, stopButton,         sameAsSource,   invalidDropBefore, invalidDropAfter, missingOutputFolder,
    progressSuffix,   jobSucceeded,       jobFailed,      startButtonTip,
};

} // namespace melvora::languagekeys
