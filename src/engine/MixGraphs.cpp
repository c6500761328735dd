#include "engine/MixGraphs.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace melvora {
namespace {

constexpr int kSampleRate = 44100;

// Ducking: a hard compressor keyed on the own sound, blended with the dry
// music so that the reduction levels off at about the asked depth. The key
// is clipped at -30 dBFS, so that loud speech holds the music down no longer
// than quiet speech (the release stays near its 800 ms), then raised by 24 dB
// and followed by its peaks: own sound from about -40 dBFS up ducks nearly
// the full depth, hiss at -60 dBFS barely moves the music.
constexpr const char *kDuckKeyClip = "asoftclip=type=hard:threshold=3/100";
constexpr const char *kDuckThreshold = "1/1000";
constexpr int kDuckKeyGain = 16;
constexpr int kDuckRatio = 20;
constexpr int kDuckAttackMs = 100;
constexpr int kDuckReleaseMs = 800;

// The limiter that keeps plain levels from clipping: -1 dBFS, leaving the
// AAC encoder some headroom. Its look-ahead is compensated so that nothing
// moves against the picture, and it never raises the level by itself.
constexpr const char *kLimiter = "alimiter=limit=891/1000:level=0:latency=1";

// Filter options are read through strtod, which follows the locale's decimal
// point; a ratio of integers reads the same everywhere.
std::string ratioText(double value) {
    return std::to_string(std::llround(value * 1000000)) + "/1000000";
}

std::string joinChain(const std::vector<std::string> &filters) {
    std::string chain;
    for (const std::string &filter : filters) {
        if (!chain.empty())
            chain += ',';
        chain += filter;
    }
    return chain;
}

std::optional<std::string> volumeFilter(std::optional<double> gainDb) {
    if (!gainDb || *gainDb == 0)
        return std::nullopt;
    return "volume=" + ratioText(decibelsToFactor(*gainDb));
}

// Level, fade-in, delay and fade-out of the music, in that order: the
// fade-in belongs to the music's own start, the fade-out to the video's end.
std::vector<std::string> musicFilters(const MixSettings &settings, double videoSeconds) {
    std::vector<std::string> filters;
    if (settings.levelsSet()) {
        if (std::optional<std::string> volume = volumeFilter(settings.musicGainDb))
            filters.push_back(*volume);
    }
    const std::int64_t fadeIn = secondsToSamples(settings.fadeInSeconds);
    if (fadeIn > 0)
        filters.push_back("afade=t=in:ss=0:ns=" + std::to_string(fadeIn));
    const std::int64_t delay = secondsToSamples(settings.delaySeconds);
    if (delay > 0)
        filters.push_back("adelay=delays=" + std::to_string(delay) + "S:all=1");
    const std::int64_t fadeOut = secondsToSamples(settings.fadeOutSeconds);
    const std::int64_t end = secondsToSamples(videoSeconds);
    if (fadeOut > 0 && end > 0) {
        const std::int64_t start = std::max<std::int64_t>(0, end - fadeOut);
        filters.push_back("afade=t=out:ss=" + std::to_string(start) + ":ns=" + std::to_string(end - start));
    }
    return filters;
}

std::string duckFilter(double depthDb) {
    // With the compressed music near silence, the output is the dry share:
    // 1 - mix of the music, i.e. depthDb down.
    const double mix = 1 - decibelsToFactor(-depthDb);
    return "sidechaincompress=threshold=" + std::string(kDuckThreshold) + ":ratio=" + std::to_string(kDuckRatio) +
           ":level_sc=" + std::to_string(kDuckKeyGain) + ":detection=peak" +
           ":attack=" + std::to_string(kDuckAttackMs) + ":release=" + std::to_string(kDuckReleaseMs) +
           ":mix=" + ratioText(mix);
}

} // namespace

std::int64_t secondsToSamples(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0)
        return 0;
    return std::llround(seconds * kSampleRate);
}

double decibelsToFactor(double decibels) {
    return std::pow(10.0, decibels / 20);
}

std::string musicGraphDescription(const MixSettings &settings, double videoSeconds) {
    std::vector<std::string> filters{"aresample=44100", "aformat=sample_fmts=fltp:channel_layouts=stereo"};
    for (std::string &filter : musicFilters(settings, videoSeconds))
        filters.push_back(std::move(filter));
    if (settings.levelsSet())
        filters.emplace_back(kLimiter);
    return joinChain(filters);
}

std::string mixGraphDescription(const MixSettings &settings, double videoSeconds) {
    if (settings.isDefault())
        return "[in0][in1]amix=inputs=2[out]";

    const bool levels = settings.levelsSet();
    const std::vector<std::string> music = musicFilters(settings, videoSeconds);
    const std::string musicChain = music.empty() ? "anull" : joinChain(music);

    if (settings.replaceOwnSound) {
        // The own sound still paces the mix; it is consumed and dropped.
        std::string description = "[in0]anullsink;[in1]" + musicChain;
        if (levels)
            description += std::string(",") + kLimiter;
        return description + "[out]";
    }

    std::string description;
    std::vector<std::string> own;
    if (levels) {
        if (std::optional<std::string> volume = volumeFilter(settings.ownGainDb))
            own.push_back(*volume);
    }
    if (settings.duckDb) {
        own.emplace_back("asplit=2");
        description += "[in0]" + joinChain(own) + "[own][key];";
        description += "[in1]" + musicChain + "[music];";
        description += "[key]" + std::string(kDuckKeyClip) + "[clippedkey];";
        description += "[music][clippedkey]" + duckFilter(*settings.duckDb) + "[bed];";
    } else {
        description += "[in0]" + (own.empty() ? std::string("anull") : joinChain(own)) + "[own];";
        description += "[in1]" + musicChain + "[bed];";
    }
    description += "[own][bed]amix=inputs=2";
    if (levels)
        description += std::string(":normalize=0,") + kLimiter;
    return description + "[out]";
}

} // namespace melvora
