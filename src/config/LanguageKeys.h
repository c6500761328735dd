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
inline constexpr IniKey fit{section, "fit"};               // check: fit the song to the video's length
inline constexpr IniKey loopSeams{section, "loopseams"};   // check beside loop: at the song's own loop points
inline constexpr IniKey reset{section, "reset"};           // button
inline constexpr IniKey ok{section, "ok"};                 // button
inline constexpr IniKey cancel{section, "cancel"};         // button
inline constexpr IniKey outOfRange{section, "outofrange"}; // %1: the control's label, %2: its range
// The line beside the main window's button: a few words per setting that differs from the plain
// mix; %1 is the value with its unit.
inline constexpr IniKey summaryMusic{section, "summarymusic"};
inline constexpr IniKey summaryOwn{section, "summaryown"};
inline constexpr IniKey summaryReplace{section, "summaryreplace"};
inline constexpr IniKey summaryFadeIn{section, "summaryfadein"};
inline constexpr IniKey summaryFadeOut{section, "summaryfadeout"};
inline constexpr IniKey summaryDelay{section, "summarydelay"};
inline constexpr IniKey summaryMusicStart{section, "summarymusicstart"};
inline constexpr IniKey summaryNoLoop{section, "summarynoloop"};
inline constexpr IniKey summaryCrossfade{section, "summarycrossfade"};
inline constexpr IniKey summaryDuck{section, "summaryduck"};
// The ducking's timing and key, and the whole mix's loudness.
inline constexpr IniKey duckLookahead{section, "ducklookahead"}; // seconds before the voice
inline constexpr IniKey duckHold{section, "duckhold"};           // seconds of pause
inline constexpr IniKey duckOn{section, "duckon"};               // label of the key's choice
inline constexpr IniKey duckOnSpeech{section, "duckonspeech"};
inline constexpr IniKey duckOnAny{section, "duckonany"};
inline constexpr IniKey wholeLoudness{section, "wholeloudness"}; // group: a loudness target for everything
inline constexpr IniKey presetWeb{section, "presetweb"};         // the presets' names; the value follows them
inline constexpr IniKey presetPodcast{section, "presetpodcast"};
inline constexpr IniKey presetBroadcast{section, "presetbroadcast"};
inline constexpr IniKey presetOther{section, "presetother"};
inline constexpr IniKey truePeak{section, "truepeak"}; // the ceiling's label
inline constexpr IniKey summaryLoudness{section, "summaryloudness"};
inline constexpr IniKey summaryFit{section, "summaryfit"};
inline constexpr IniKey summaryLoopSeams{section, "summaryloopseams"};

inline constexpr std::array catalogue{button,         title,          levels,        musicLevel,
                                      ownLevel,       loudness,       replace,       fadeIn,
                                      fadeOut,        delay,          musicStart,    loop,
                                      crossfade,      duck,           duckDepth,     reset,
                                      ok,             cancel,         outOfRange,    summaryMusic,
                                      summaryOwn,     summaryReplace, summaryFadeIn, summaryFadeOut,
                                      summaryDelay,   summaryMusicStart, summaryNoLoop, summaryCrossfade,
                                      summaryDuck,    duckLookahead,  duckHold,      duckOn,
                                      duckOnSpeech,   duckOnAny,      wholeLoudness, presetWeb,
                                      presetPodcast,  presetBroadcast, presetOther,  truePeak,
                                      summaryLoudness, fit,           loopSeams,     summaryFit,
                                      summaryLoopSeams};
} // namespace mix

// The mix dialog's preview: its button, its window and what that says. In the [MIX] section,
// with English texts the window carries.
namespace mixpreview {
inline constexpr std::string_view section = mix::section;
inline constexpr IniKey button{section, "preview"};                // button in the mix dialog
inline constexpr IniKey title{section, "previewtitle"};            // the preview's caption
inline constexpr IniKey play{section, "previewplay"};              // button
inline constexpr IniKey stop{section, "previewstop"};              // button
inline constexpr IniKey noFiles{section, "previewnofiles"};        // no video or music chosen
inline constexpr IniKey reading{section, "previewreading"};        // while the sound is read
inline constexpr IniKey making{section, "previewmaking"};          // while the mix is made; %1: percent
inline constexpr IniKey hint{section, "previewhint"};              // once the picture is complete
inline constexpr IniKey failed{section, "previewfailed"};          // %1: the reason
inline constexpr IniKey noOutput{section, "previewnooutput"};      // no sound output to play on
inline constexpr IniKey waiting{section, "previewwaiting"};        // play waits for the mix to get there
inline constexpr IniKey ownSound{section, "previewown"};           // legend
inline constexpr IniKey music{section, "previewmusic"};            // legend
inline constexpr IniKey loudness{section, "previewloudness"};      // legend
// With a loudness target: %1 what the mix with its gain measures, %2 the target, %3 the mix as it is, %4 the gain
inline constexpr IniKey target{section, "previewtarget"};
inline constexpr IniKey planning{section, "previewplanning"}; // while the song's plan (--fit, loop auto) is made
inline constexpr IniKey seams{section, "previewseams"};       // legend: where the song jumps or loops
inline constexpr IniKey noPlan{section, "previewnoplan"};     // no plan found; %1: the run's warning

inline constexpr std::array catalogue{button,   title,   play,     stop,  noFiles,  reading, making,   hint,  failed,
                                      noOutput, waiting, ownSound, music, loudness, target,  planning, seams, noPlan};
} // namespace mixpreview

// The window's fixed texts in the user's language: the main window's frames, buttons, hints and
// pictures, the progress dialog's check box and the refusals. A text missing from the file gives
// the window's own text (the fixed Chinese texts for those the window always had, English for
// the language chooser, the time left and the stop report), so a file without the section shows
// the window exactly as it always was.
namespace captions {
inline constexpr std::string_view section = "CAPTIONS";
inline constexpr IniKey videoGroup{section, "videogroup"};               // frame of the video row
inline constexpr IniKey addVideo{section, "addvideo"};                   // button 1288
inline constexpr IniKey musicGroup{section, "musicgroup"};               // frame of the music row
inline constexpr IniKey addMusic{section, "addmusic"};                   // button 1289
inline constexpr IniKey step1{section, "step1"};                         // the three step hints
inline constexpr IniKey step2{section, "step2"};
inline constexpr IniKey step3{section, "step3"};
inline constexpr IniKey outputFolder{section, "outputfolder"};           // label 1276
inline constexpr IniKey start{section, "start"};                         // picture of 1099
inline constexpr IniKey browse{section, "browse"};                       // picture of 1076
inline constexpr IniKey openFolder{section, "openfolder"};               // picture of 1286
inline constexpr IniKey openWhenDone{section, "openwhendone"};           // progress dialog, 1148
inline constexpr IniKey noVideo{section, "novideo"};                     // refusals
inline constexpr IniKey noMusic{section, "nomusic"};
inline constexpr IniKey videoMissing{section, "videomissing"};
inline constexpr IniKey musicMissing{section, "musicmissing"};
inline constexpr IniKey notAVideo{section, "notavideo"};
inline constexpr IniKey notMusic{section, "notmusic"};
inline constexpr IniKey outputNotCreated{section, "outputnotcreated"};
inline constexpr IniKey folderInvalid{section, "folderinvalid"};
inline constexpr IniKey folderNotWritable{section, "foldernotwritable"};
inline constexpr IniKey folderPicker{section, "folderpicker"};           // title of the folder picker
inline constexpr IniKey language{section, "language"};                   // label of the language chooser
inline constexpr IniKey timeLeft{section, "timeleft"};                   // progress dialog; %1: the time
inline constexpr IniKey stopped{section, "stopped"};                     // after a stop; %1: the length

inline constexpr std::array catalogue{videoGroup,   addVideo,     musicGroup,       addMusic,      step1,
                                      step2,        step3,        outputFolder,     start,         browse,
                                      openFolder,   openWhenDone, noVideo,          noMusic,       videoMissing,
                                      musicMissing, notAVideo,    notMusic,         outputNotCreated,
                                      folderInvalid, folderNotWritable, folderPicker, language,   timeLeft,
                                      stopped};
} // namespace captions

} // namespace melvora::languagekeys
