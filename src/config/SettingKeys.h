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

// How the music is mixed (MixSettings); a key that is missing, empty, not a number or out of
// range gives the default, which is the plain mix.
inline constexpr std::string_view mixSection = "MIX";
inline constexpr IniKey mixMusicGain{mixSection, "musicgain"};         // dB; empty: amix's equal levels
inline constexpr IniKey mixOwnGain{mixSection, "owngain"};             // dB; empty: amix's equal levels
inline constexpr IniKey mixReplace{mixSection, "replace"};             // "1": the music alone
inline constexpr IniKey mixFadeIn{mixSection, "fadein"};               // seconds
inline constexpr IniKey mixFadeOut{mixSection, "fadeout"};             // seconds
inline constexpr IniKey mixDelay{mixSection, "delay"};                 // seconds
inline constexpr IniKey mixMusicStart{mixSection, "musicstart"};       // seconds
inline constexpr IniKey mixLoop{mixSection, "loop"};                   // "0": one pass, then silence; "2": at the song's own seams
inline constexpr IniKey mixFit{mixSection, "fit"};                     // "1": the song fitted to the video
inline constexpr IniKey mixCrossfade{mixSection, "crossfade"};         // seconds
inline constexpr IniKey mixDuck{mixSection, "duck"};                   // dB; empty: no ducking
inline constexpr IniKey mixMusicLoudness{mixSection, "musicloudness"}; // LUFS; empty: no target
inline constexpr IniKey mixDuckLookahead{mixSection, "ducklookahead"}; // seconds the music is down before the voice
inline constexpr IniKey mixDuckHold{mixSection, "duckhold"};           // seconds of pause that keep it down
inline constexpr IniKey mixDuckOn{mixSection, "duckon"};               // "any": any sound ducks; else speech
inline constexpr IniKey mixLoudness{mixSection, "loudness"};           // LUFS of the whole mix; empty: no target
inline constexpr IniKey mixTruePeak{mixSection, "truepeak"};           // dBTP ceiling with a loudness target

// How the output file is written.
inline constexpr std::string_view outputSection = "OUTPUT";
inline constexpr IniKey outputFastStart{outputSection, "faststart"}; // "1": MP4/MOV index before the data

} // namespace melvora::settingkeys
