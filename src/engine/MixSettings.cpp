#include "engine/MixSettings.h"

#include <array>
#include <charconv>
#include <cmath>
#include <system_error>

namespace melvora {
namespace {

constexpr std::array<MixControlInfo, 13> kControls{{
    {MixControl::MusicGain, "--music-gain", "dB", -60, 20, 0},
    {MixControl::OwnGain, "--own-gain", "dB", -60, 20, 0},
    {MixControl::FadeIn, "--fade-in", "s", 0, 600, 0},
    {MixControl::FadeOut, "--fade-out", "s", 0, 600, 0},
    {MixControl::Delay, "--delay", "s", 0, 3600, 0},
    {MixControl::MusicStart, "--music-start", "s", 0, 3600, 0},
    {MixControl::Crossfade, "--crossfade", "s", 0, 30, 0},
    {MixControl::Duck, "--duck", "dB", 1, 40, 10},
    {MixControl::MusicLoudness, "--music-loudness", "LUFS", -60, 0, -30},
    {MixControl::DuckLookahead, "--duck-lookahead", "s", 0, 2, 0.25},
    {MixControl::DuckHold, "--duck-hold", "s", 0, 5, 0.6},
    {MixControl::Loudness, "--loudness", "LUFS", -40, -5, -14},
    {MixControl::TruePeak, "--true-peak", "dBTP", -9, 0, -1},
}};

bool inRange(const MixControlInfo &info, double value) {
    return std::isfinite(value) && value >= info.minimum && value <= info.maximum;
}

std::string rangeError(const MixControlInfo &info) {
    return std::string(info.option) + " takes a number from " + formatMixNumber(info.minimum) + " to " +
           formatMixNumber(info.maximum) + " (" + std::string(info.unit) + ")";
}

} // namespace

std::span<const MixControlInfo> mixControls() {
    return kControls;
}

const MixControlInfo &mixControlInfo(MixControl control) {
    for (const MixControlInfo &info : kControls) {
        if (info.control == control)
            return info;
    }
    return kControls.front(); // unreachable: every control has a row
}

bool MixSettings::isDefault() const {
    MixSettings plain = *this;
    if (!plain.duckDb) {
        const MixSettings defaults;
        plain.duckLookaheadSeconds = defaults.duckLookaheadSeconds;
        plain.duckHoldSeconds = defaults.duckHoldSeconds;
        plain.duckKey = defaults.duckKey;
    }
    if (!plain.loudnessLufs)
        plain.truePeakDb = MixSettings{}.truePeakDb;
    return plain == MixSettings{};
}

bool MixSettings::changesMusicSound() const {
    // The own-sound controls (own level, replace, ducking) have nothing to
    // act on in a silent video; a gain of exactly 0 dB leaves the music as it is.
    return (musicGainDb && *musicGainDb != 0) || musicLoudnessLufs || loudnessLufs || fadeInSeconds > 0 ||
           fadeOutSeconds > 0 || delaySeconds > 0 || musicStartSeconds > 0 || !loop || crossfadeSeconds > 0 || fit ||
           loopAtSeams;
}

std::optional<double> MixSettings::value(MixControl control) const {
    switch (control) {
    case MixControl::MusicGain:
        return musicGainDb;
    case MixControl::OwnGain:
        return ownGainDb;
    case MixControl::FadeIn:
        return fadeInSeconds;
    case MixControl::FadeOut:
        return fadeOutSeconds;
    case MixControl::Delay:
        return delaySeconds;
    case MixControl::MusicStart:
        return musicStartSeconds;
    case MixControl::Crossfade:
        return crossfadeSeconds;
    case MixControl::Duck:
        return duckDb;
    case MixControl::MusicLoudness:
        return musicLoudnessLufs;
    case MixControl::DuckLookahead:
        return duckLookaheadSeconds;
    case MixControl::DuckHold:
        return duckHoldSeconds;
    case MixControl::Loudness:
        return loudnessLufs;
    case MixControl::TruePeak:
        return truePeakDb;
    }
    return std::nullopt;
}

void MixSettings::setValue(MixControl control, std::optional<double> value) {
    const double plain = value.value_or(mixControlInfo(control).defaultValue);
    switch (control) {
    case MixControl::MusicGain:
        musicGainDb = value;
        break;
    case MixControl::OwnGain:
        ownGainDb = value;
        break;
    case MixControl::FadeIn:
        fadeInSeconds = plain;
        break;
    case MixControl::FadeOut:
        fadeOutSeconds = plain;
        break;
    case MixControl::Delay:
        delaySeconds = plain;
        break;
    case MixControl::MusicStart:
        musicStartSeconds = plain;
        break;
    case MixControl::Crossfade:
        crossfadeSeconds = plain;
        break;
    case MixControl::Duck:
        duckDb = value;
        break;
    case MixControl::MusicLoudness:
        musicLoudnessLufs = value;
        break;
    case MixControl::DuckLookahead:
        duckLookaheadSeconds = plain;
        break;
    case MixControl::DuckHold:
        duckHoldSeconds = plain;
        break;
    case MixControl::Loudness:
        loudnessLufs = value;
        break;
    case MixControl::TruePeak:
        truePeakDb = plain;
        break;
    }
}

std::string validateMixSettings(const MixSettings &settings) {
    for (const MixControlInfo &info : kControls) {
        const std::optional<double> value = settings.value(info.control);
        if (value && !inRange(info, *value))
            return rangeError(info);
    }
    if (settings.musicGainDb && settings.musicLoudnessLufs)
        return "--music-gain and --music-loudness cannot be used together: the loudness target sets the music's "
               "level";
    return {};
}

bool parseMixControlValue(MixControl control, std::string_view text, double &value, std::string &error) {
    const MixControlInfo &info = mixControlInfo(control);
    const std::optional<double> parsed = parseMixNumber(text);
    if (!parsed || !inRange(info, *parsed)) {
        error = rangeError(info) + ", not \"" + std::string(text) + "\"";
        return false;
    }
    value = *parsed;
    return true;
}

std::string formatMixNumber(double value) {
    if (value == 0)
        value = 0; // no "-0"
    char text[64];
    const std::to_chars_result written = std::to_chars(text, text + sizeof text, value);
    return written.ec == std::errc() ? std::string(text, written.ptr) : std::string("0");
}

std::optional<double> parseMixNumber(std::string_view text) {
    // from_chars takes no leading '+'; people type one for gains.
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    double value = 0;
    const std::from_chars_result read = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || read.ec != std::errc() || read.ptr != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

MixSettings withOutOfRangeValuesReset(MixSettings settings) {
    for (const MixControlInfo &info : kControls) {
        const std::optional<double> value = settings.value(info.control);
        if (value && !inRange(info, *value))
            settings.setValue(info.control, std::nullopt);
    }
    // The loudness target decides the music's level; a stored gain beside it is stale.
    if (settings.musicLoudnessLufs)
        settings.musicGainDb.reset();
    return settings;
}

} // namespace melvora
