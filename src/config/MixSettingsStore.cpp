#include "config/MixSettingsStore.h"

#include "config/IniFile.h"
#include "config/SettingKeys.h"
#include "config/Settings.h"

#include <array>
#include <optional>
#include <utility>

namespace melvora {
namespace {

using namespace settingkeys;

constexpr std::array<std::pair<MixControl, IniKey>, 13> kNumberKeys{{
    {MixControl::MusicGain, mixMusicGain},
    {MixControl::OwnGain, mixOwnGain},
    {MixControl::FadeIn, mixFadeIn},
    {MixControl::FadeOut, mixFadeOut},
    {MixControl::Delay, mixDelay},
    {MixControl::MusicStart, mixMusicStart},
    {MixControl::Crossfade, mixCrossfade},
    {MixControl::Duck, mixDuck},
    {MixControl::MusicLoudness, mixMusicLoudness},
    {MixControl::DuckLookahead, mixDuckLookahead},
    {MixControl::DuckHold, mixDuckHold},
    {MixControl::Loudness, mixLoudness},
    {MixControl::TruePeak, mixTruePeak},
}};

} // namespace

MixSettings MixSettingsStore::load() {
    MixSettings settings;
    const std::optional<IniDocument> document = IniFile::read(Settings::filePath());
    if (!document)
        return settings;
    auto text = [&document](const IniKey &key) { return document->value(key.section, key.key).value_or(""); };
    for (const auto &[control, key] : kNumberKeys) {
        if (const std::optional<double> value = parseMixNumber(text(key)))
            settings.setValue(control, value);
    }
    settings.replaceOwnSound = text(mixReplace) == "1";
    settings.loop = text(mixLoop) != "0";
    settings.loopAtSeams = text(mixLoop) == "2";
    settings.fit = text(mixFit) == "1";
    settings.duckKey = text(mixDuckOn) == "any" ? DuckKey::Any : DuckKey::Speech;
    return withOutOfRangeValuesReset(settings);
}

bool MixSettingsStore::save(const MixSettings &settings, std::string *error) {
    for (const auto &[control, key] : kNumberKeys) {
        const std::optional<double> value = settings.value(control);
        if (!Settings::writeString(key, value ? formatMixNumber(*value) : std::string(), error))
            return false;
    }
    return Settings::writeString(mixReplace, settings.replaceOwnSound ? "1" : "0", error) &&
           Settings::writeString(mixLoop, !settings.loop ? "0" : settings.loopAtSeams ? "2" : "1", error) &&
           Settings::writeString(mixFit, settings.fit ? "1" : "0", error) &&
           Settings::writeString(mixDuckOn, settings.duckKey == DuckKey::Any ? "any" : "speech", error);
}

} // namespace melvora
