#pragma once

// How the new sound track is mixed: the music's and the video's own level,
// fades, delay, where in the music file to start, looping, ducking and a
// loudness target. A plain value with no FFmpeg in it, so the window, the
// command line and the settings file can all carry it. The default value
// gives exactly the mix the program has always made.

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace melvora {

// The numeric controls, one per command-line option and settings key.
enum class MixControl {
    MusicGain,
    OwnGain,
    FadeIn,
    FadeOut,
    Delay,
    MusicStart,
    Crossfade,
    Duck,
    MusicLoudness,
    DuckLookahead,
    DuckHold,
    Loudness,
    TruePeak,
};

// What the ducking listens to in the own sound.
enum class DuckKey {
    Speech, // the speech band, above its own running noise floor: steady hum or hiss leaves the music alone
    Any,    // any sound above a fixed level
};

struct MixControlInfo {
    MixControl control;
    std::string_view option; // command-line option, e.g. "--music-gain"
    std::string_view unit;   // "dB", "s" or "LUFS"
    double minimum;
    double maximum;
    double defaultValue; // for an optional control: its value once switched on
};

// Every numeric control, in the order of the options table.
std::span<const MixControlInfo> mixControls();
const MixControlInfo &mixControlInfo(MixControl control);

struct MixSettings {
    // Levels in dB. Unset, amix divides both inputs by their number, as it
    // always has; once either is set the levels are plain and a limiter keeps
    // the sum from clipping.
    std::optional<double> musicGainDb;
    std::optional<double> ownGainDb;
    bool replaceOwnSound = false; // the music alone; the video's other sound tracks are still copied
    double fadeInSeconds = 0;     // from the music's start
    double fadeOutSeconds = 0;    // ending exactly at the video's end
    double delaySeconds = 0;      // the music begins this far into the video
    double musicStartSeconds = 0; // taken from this far into the music file, on every pass
    bool loop = true;             // false: one pass, then silence
    // With loop: the music repeats between the song's own best loop points
    // instead of from the file's end to its start.
    bool loopAtSeams = false;
    // The song lasts exactly as long as its span in the video: lengthened or
    // shortened by jumps on beats where it repeats itself, the rest by tempo.
    bool fit = false;
    double crossfadeSeconds = 0;  // overlap of consecutive passes, equal-power
    std::optional<double> duckDb; // lower the music by this while the own sound is on
    // With ducking: the music is down this long before the voice starts,
    // pauses shorter than the hold keep it down, and the key says what it
    // listens to.
    double duckLookaheadSeconds = 0.25;
    double duckHoldSeconds = 0.6;
    DuckKey duckKey = DuckKey::Speech;
    // Integrated loudness (EBU R128) the music is brought to; the run
    // measures the music and turns this into musicGainDb.
    std::optional<double> musicLoudnessLufs;
    // Integrated loudness (EBU R128) of the whole new sound track: the run
    // measures the mix first and sets one gain for all of it, with a
    // look-ahead limiter holding the true peak at the ceiling.
    std::optional<double> loudnessLufs;
    double truePeakDb = -1; // dBTP; counts only with a loudness target
    // The gain the run found for the loudness target; never stored or typed.
    std::optional<double> wholeMixGainDb;
    // How much lower still the limit sits where an earlier encoding's peaks
    // came out over the ceiling (dB); never stored or typed.
    double encoderPeakRoomDb = 0;

    // The ducking's timing and key count only with ducking on, the ceiling
    // only with a loudness target.
    bool isDefault() const;
    // Plain levels plus limiter instead of amix's equal division.
    bool levelsSet() const { return musicGainDb || ownGainDb || musicLoudnessLufs; }
    // True when the music itself sounds different from a plain loop of the
    // file: copied packets cannot do that, so a silent video re-encodes.
    bool changesMusicSound() const;

    // The value of a numeric control; an unset optional control reads as
    // nothing.
    std::optional<double> value(MixControl control) const;
    void setValue(MixControl control, std::optional<double> value);

    friend bool operator==(const MixSettings &, const MixSettings &) = default;
};

// "" when every value lies in its range and the combination makes sense;
// otherwise one sentence naming the option and its range, for the command
// line to print before it exits with code 2.
std::string validateMixSettings(const MixSettings &settings);

// Reads one option's text as a number in its range. On failure, error names
// the option and its range.
bool parseMixControlValue(MixControl control, std::string_view text, double &value, std::string &error);

// A number written the shortest way that reads back exactly, with '.' as the
// decimal point whatever the locale.
std::string formatMixNumber(double value);
// Parses a whole text as a finite number ('.' decimal point, no locale);
// nothing when it is not one.
std::optional<double> parseMixNumber(std::string_view text);

// Every value outside its range goes back to its default, so a hand-edited
// settings file cannot break a run.
MixSettings withOutOfRangeValuesReset(MixSettings settings);

} // namespace melvora
