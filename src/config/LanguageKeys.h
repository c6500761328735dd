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

// The mix settings: the main window's button and its dialog. A text missing from the file
// falls back to the English one the window carries.
namespace mix {
inline constexpr std::string_view section = "MIX";
inline constexpr IniKey button{section, "button"};         // main window: opens the dialog
inline constexpr IniKey title{section, "title"};           // dialog caption
inline constexpr IniKey levels{section, "levels"};         // check: set the levels by hand
inline constexpr IniKey musicLevel{section, "musiclevel"}; // slider label
inline constexpr IniKey ownLevel{section, "ownlevel"};     // slider label
inline constexpr IniKey loudness{section, "loudness"};     // check: bring the music to a loudness
inline constexpr IniKey replace{section, "replace"};       // check: drop the video's own sound
inline constexpr IniKey fadeIn{section, "fadein"};         // seconds
inline constexpr IniKey fadeOut{section, "fadeout"};       // seconds
inline constexpr IniKey delay{section, "delay"};           // seconds
inline constexpr IniKey musicStart{section, "musicstart"}; // seconds
inline constexpr IniKey loop{section, "loop"};             // check: repeat the music
inline constexpr IniKey crossfade{section, "crossfade"};   // seconds
inline constexpr IniKey duck{section, "duck"};             // check: lower the music under the own sound
inline constexpr IniKey duckDepth{section, "duckdepth"};   // slider label
inline constexpr IniKey reset{section, "reset"};           // button
inline constexpr IniKey ok{section, "ok"};                 // button
inline constexpr IniKey cancel{section, "cancel"};         // button

inline constexpr std::array catalogue{button,    title,  levels,    musicLevel, ownLevel,   loudness,
                                      replace,   fadeIn, fadeOut,   delay,      musicStart, loop,
                                      crossfade, duck,   duckDepth, reset,      ok,         cancel};
} // namespace mix

} // namespace melvora::languagekeys
