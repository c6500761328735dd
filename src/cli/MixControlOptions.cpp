#include "cli/MixControlOptions.h"

#include <vector>

namespace melvora {
namespace {

struct OptionText {
    MixControl control;
    const char *description;
};

// In the order of mixControls().
constexpr OptionText kDescriptions[] = {
    {MixControl::MusicGain, "The music's level"},
    {MixControl::OwnGain, "The level of the video's own sound"},
    {MixControl::FadeIn, "Fade the music in over its first S seconds"},
    {MixControl::FadeOut, "Fade the music out over the last S seconds, ending with the video"},
    {MixControl::Delay, "The music begins S seconds into the video"},
    {MixControl::MusicStart, "Take the music from S seconds into its file (every loop pass starts there)"},
    {MixControl::Crossfade, "Overlap consecutive passes of the music by S seconds, with an equal-power crossfade"},
    {MixControl::Duck, "Lower the music by DB while the video's own sound is on"},
    {MixControl::MusicLoudness, "Measure the music (EBU R128) and set its level so that it sits at LUFS"},
    {MixControl::DuckLookahead, "With --duck: the music starts going down S seconds before the voice and is down "
                                "half-way there; the sound stays in step with the picture"},
    {MixControl::DuckHold, "With --duck: pauses shorter than S seconds keep the music down; after the voice it "
                           "stays down S seconds, then comes back over 0.8 s"},
    {MixControl::Loudness, "Bring the whole new sound track to LUFS (EBU R128): the mix is measured in a pass "
                           "that writes nothing, then made with one gain and a true-peak limiter; -14 suits video "
                           "sites, -16 podcasts, -23 broadcast"},
    {MixControl::TruePeak, "With --loudness: the ceiling for every peak, between the samples too, held by a "
                           "look-ahead limiter (default -1)"},
};

// An option that takes one of a few words, shown as "a|b".
void addChoiceOption(CLI::App &command, const std::string &name, std::string &value, const std::string &description,
                     const std::vector<std::string> &choices, const std::string &group) {
    std::string shown;
    for (const std::string &choice : choices)
        shown += (shown.empty() ? "" : "|") + choice;
    command.add_option(name, value, description)->check(CLI::IsMember(choices))->option_text(shown)->group(group);
}

std::string rangeText(const MixControlInfo &info) {
    return formatMixNumber(info.minimum) + " to " + formatMixNumber(info.maximum) + " " + std::string(info.unit);
}

} // namespace

void addMixControlOptions(CLI::App &command, MixControlOptions &options) {
    const std::string group = "Mix controls (the defaults give the plain mix)";
    for (const OptionText &text : kDescriptions) {
        const MixControlInfo &info = mixControlInfo(text.control);
        std::string &value = options.values[text.control];
        std::string description = std::string(text.description) + " (" + rangeText(info) + ")";
        if (text.control == MixControl::Duck) {
            description += "; --duck alone lowers it by " + formatMixNumber(info.defaultValue) + " dB";
            // --duck alone reads as the usual depth, so that only a value typed empty is empty.
            command.add_option(std::string(info.option), value, description)
                ->expected(0, 1)
                ->default_str(formatMixNumber(info.defaultValue))
                ->option_text("[TEXT]")
                ->group(group);
            continue;
        }
        command.add_option(std::string(info.option), value, description)->group(group);
        if (text.control == MixControl::OwnGain)
            command.add_flag("--replace", options.replace,
                             "Drop the video's own sound: the music alone (other sound tracks are still copied; the "
                             "own level and ducking then have nothing to act on)")
                ->group(group);
        if (text.control == MixControl::MusicStart) {
            command.add_flag("--no-loop", options.noLoop, "Play the music once, then silence")->group(group);
            addChoiceOption(command, "--loop", options.loop,
                            "How music shorter than the video repeats: file (the default; from the file's end to "
                            "its start) or auto (between the song's own best loop points, found on its beats, "
                            "with a one-beat crossfade)",
                            {"file", "auto"}, group);
            command
                .add_flag("--fit", options.fit,
                          "Fit the song to the video: it starts on its start and ends on its ending exactly with "
                          "the video, lengthened or shortened by a few jumps on beats where the music repeats "
                          "itself, the rest by a tempo change of at most 1.5 % (pitch kept) in its middle only; "
                          "where no such jumps make the length, it fades out at the end, with a warning")
                ->group(group);
        }
    }
    addChoiceOption(command, "--duck-on", options.duckOn,
                    "With --duck: what lowers the music: speech (the default; the voice band above its own "
                    "steady noise, so a constant hum or hiss leaves the music alone) or any (any sound above "
                    "about -50 dBFS)",
                    {"speech", "any"}, group);
}

bool mixSettingsFromOptions(const MixControlOptions &options, MixSettings &settings, std::string &error) {
    settings = MixSettings{};
    settings.replaceOwnSound = options.replace;
    settings.loop = !options.noLoop;
    settings.loopAtSeams = options.loop == "auto";
    settings.fit = options.fit;
    if (options.noLoop && !options.loop.empty()) {
        error = "--no-loop and --loop cannot be used together";
        return false;
    }
    for (const auto &[control, text] : options.values) {
        if (text.empty())
            continue; // not given; a value typed empty was refused with the command line
        double value = 0;
        if (!parseMixControlValue(control, text, value, error))
            return false;
        settings.setValue(control, value);
    }
    if (!options.duckOn.empty())
        settings.duckKey = options.duckOn == "any" ? DuckKey::Any : DuckKey::Speech;
    auto given = [&options](MixControl control) {
        const auto found = options.values.find(control);
        return found != options.values.end() && !found->second.empty();
    };
    // Without --duck they would be dropped without a word.
    if (!settings.duckDb &&
        (given(MixControl::DuckLookahead) || given(MixControl::DuckHold) || !options.duckOn.empty())) {
        error = "--duck-lookahead, --duck-hold and --duck-on shape the ducking: they need --duck";
        return false;
    }
    if (!settings.loudnessLufs && given(MixControl::TruePeak)) {
        error = "--true-peak is the ceiling of --loudness: it needs --loudness";
        return false;
    }
    error = validateMixSettings(settings);
    return error.empty();
}

} // namespace melvora
