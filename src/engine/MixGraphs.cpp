#include "engine/MixGraphs.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace melvora {
namespace {

constexpr int kSampleRate = 44100;

// A length in samples at the graph's rate.
std::int64_t samplesAt(double seconds, int rate) {
    if (!std::isfinite(seconds) || seconds <= 0)
        return 0;
    return std::llround(seconds * rate);
}

// Ducking: the own sound, heard ahead by the look-ahead, drives an envelope
// that the music is multiplied by, so the hold and the return take the same
// time at any depth. It runs at a control rate of 1050 Hz: the square of a
// mono key comes down to it through the resampler, whose anti-alias filter
// lets nothing through that the rate cannot carry (where taking every 42nd
// sample would), one aeval expression makes the gain there, and the
// resampler brings that back to 44100 Hz band-limited, so that no step of
// the control rate is heard, and moves no sample in time either way. So
// the expression, the costly part, is evaluated once every 42 samples. Its
// stored values persist from step to step, its per-sample factors and
// counts taken 42 samples at a time:
//   0  the key's energy, smoothed over 10 ms;
//   1  its running noise floor: it drops at once (at most 200 dB/s) into
//      every dip and creeps up at 10 dB/s, so steady hum or hiss becomes the
//      floor while speech, which dips between words, stays far above it. It
//      starts at full scale, to learn noise that is there from the first
//      sample as it drops, and never sinks more than 10 dB under the level
//      below which nothing ducks, so that even noise coming up suddenly
//      after digital silence is learnt within about two seconds;
//   2  the steps still to hold since the key was last on;
//   3  how far the music is down, 0 to 1: a ramp over the attack down, over
//      the release up, shaped by a raised cosine so that neither has a corner;
//   5  set once the first step is through.
// Measured and dropped: afftdn's noise tracking left a steady 50 Hz hum and
// its harmonics as they were and took only 4 dB off white noise at -39 dBFS;
// sidechaincompress ties its hold and return to the depth and does not hold
// a level flat through pauses.
// A sketch at a lower rate, whose picture has a step of 10 ms, takes the
// envelope at 105 Hz: the expression is as costly at any rate of the sound.
constexpr int kSketchDuckControlStep = 420;
// Silence after the key's end: it carries the gain past the music's last
// sample and out of the resampler's reach around the end, and gives even a
// key of a few samples the length the resampler needs to answer at all.
constexpr int kDuckTailSamples = 2048;
constexpr int kDuckSmoothingSamples = 441;
constexpr int kDuckFloorFall = 958;   // per-sample factor 1 - 1/958: 200 dB/s
constexpr int kDuckFloorRise = 19150; // per-sample factor 1 + 1/19150: 10 dB/s
constexpr int kDuckOverFloor = 10;    // speech is 10 dB of energy above the floor
// Key energy (the two channels summed) below which nothing ducks: -45 dBFS,
// i.e. about -51 dBFS of a sound alike on both channels. Hiss at -60 dBFS
// never ducks, a voice at -40 dBFS always does.
constexpr int kDuckKeyQuietness = 31623;
constexpr double kDuckReleaseSeconds = 0.8;
// The attack takes half the look-ahead, so the dip is complete well before
// the voice; without look-ahead it still takes 10 ms, so as not to click.
constexpr double kDuckShortestAttackSeconds = 0.01;
// The speech band: the lows of hum, rumble and handling noise and the highs
// of hiss are left out before the floor is measured; two passes of each
// filter for 24 dB per octave.
constexpr const char *kSpeechBand = "highpass=f=200,highpass=f=200,lowpass=f=4000,lowpass=f=4000";
// At a sketch's low rate the band's top is what the rate can carry.
std::string sketchSpeechBand(int rate) {
    const std::string top = std::to_string(std::min(4000, rate * 2 / 5));
    return "highpass=f=200,highpass=f=200,lowpass=f=" + top + ",lowpass=f=" + top;
}

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

// What ends the chain: with a loudness target, the whole mix's gain and a
// limiter at the true-peak ceiling, run at four times the rate so that it
// also catches the peaks that fall between the samples (at the plain rate
// they came out 0.3 dB over); until the run has measured the mix, nothing,
// so that the measurement hears the mix as it is. Otherwise the limiter of
// plain levels, when they are set.
// The way back down to 44100 Hz rings a little over what the limiter let
// through (0.1 dB on limited noise); the limit sits that much lower. The
// lossy encoder's noise then rides on the limited peaks: at 128 kbit/s it
// raised them up to 0.7 dB on hard-limited music and speech, so the limit
// leaves room for that too.
constexpr double kResamplingRingDb = 0.15;
constexpr double kEncoderPeakRiseDb = 0.8;
// A first encoder frame that starts at full level comes out with a spike
// (one 128 kbit/s AAC frame gave +2 dB over its input): the chain fades in
// over that one frame, which no listener hears as a fade.
constexpr int kLeadInFadeSamples = 1024;

std::string chainEnd(const MixSettings &settings, int rate) {
    if (settings.loudnessLufs) {
        if (!settings.wholeMixGainDb)
            return {};
        std::vector<std::string> filters;
        if (std::optional<std::string> volume = volumeFilter(settings.wholeMixGainDb))
            filters.push_back(*volume);
        filters.push_back("aresample=" + std::to_string(4 * rate));
        filters.push_back("alimiter=limit=" + ratioText(decibelsToFactor(wholeMixLimitDb(settings))) +
                          ":level=0:latency=1");
        filters.push_back("aresample=" + std::to_string(rate));
        const std::int64_t fadeSamples = std::max<std::int64_t>(1, std::int64_t(kLeadInFadeSamples) * rate / kSampleRate);
        filters.push_back("afade=t=in:ss=0:ns=" + std::to_string(fadeSamples));
        return joinChain(filters);
    }
    return settings.levelsSet() ? kLimiter : "";
}

// Level, fade-in, delay and fade-out of the music, in that order: the
// fade-in belongs to the music's own start, the fade-out to the video's end.
std::vector<std::string> musicFilters(const MixSettings &settings, double videoSeconds, int rate) {
    std::vector<std::string> filters;
    if (settings.levelsSet()) {
        if (std::optional<std::string> volume = volumeFilter(settings.musicGainDb))
            filters.push_back(*volume);
    }
    const std::int64_t fadeIn = samplesAt(settings.fadeInSeconds, rate);
    if (fadeIn > 0)
        filters.push_back("afade=t=in:ss=0:ns=" + std::to_string(fadeIn));
    const std::int64_t delay = samplesAt(settings.delaySeconds, rate);
    if (delay > 0)
        filters.push_back("adelay=delays=" + std::to_string(delay) + "S:all=1");
    const std::int64_t fadeOut = samplesAt(settings.fadeOutSeconds, rate);
    const std::int64_t end = samplesAt(videoSeconds, rate);
    if (fadeOut > 0 && end > 0) {
        const std::int64_t start = std::max<std::int64_t>(0, end - fadeOut);
        filters.push_back("afade=t=out:ss=" + std::to_string(start) + ":ns=" + std::to_string(end - start));
    }
    return filters;
}

// Counted at 44100 Hz whatever the graph's rate: the expression runs at the
// control rate, controlStep samples of 44100 Hz a step.
std::string duckEnvelope(const MixSettings &settings, int controlStep) {
    const std::int64_t lookahead = secondsToSamples(settings.duckLookaheadSeconds);
    // The key runs ahead by the look-ahead, so the hold counts from the
    // voice's end only after that much more.
    const std::int64_t hold = lookahead + secondsToSamples(settings.duckHoldSeconds);
    const std::int64_t attack =
        std::max(secondsToSamples(settings.duckLookaheadSeconds / 2), secondsToSamples(kDuckShortestAttackSeconds));
    const std::int64_t release = secondsToSamples(kDuckReleaseSeconds);
    const auto number = [](std::int64_t n) { return std::to_string(n); };
    const std::string step = number(controlStep);
    // A per-sample factor, as one step of the control rate takes it.
    const auto perStep = [&](const std::string &factor) { return "pow(" + factor + "," + step + ")"; };
    const std::string energy = "ld(0)", floor = "ld(1)";
    const std::string smoothed =
        energy + "+(val(0)-" + energy + ")*(1-" + perStep("1-1/" + number(kDuckSmoothingSamples)) + ")";
    const std::string dropped = "max(" + energy + "," + floor + "*" + perStep("1-1/" + number(kDuckFloorFall)) + ")";
    const std::string crept = floor + "*" + perStep("1+1/" + number(kDuckFloorRise));
    const std::string lowest = "1/" + number(10 * kDuckKeyQuietness);
    const std::string nextFloor =
        "if(ld(5),max(if(lt(" + energy + "," + floor + ")," + dropped + "," + crept + ")," + lowest + "),1)";
    std::string on = "gt(" + energy + ",1/" + number(kDuckKeyQuietness) + ")";
    if (settings.duckKey == DuckKey::Speech)
        on += "*gt(" + energy + "," + floor + "*" + number(kDuckOverFloor) + ")";
    const std::int64_t holdSteps = (hold + controlStep / 2) / controlStep;
    const std::string held = "if(" + on + "," + number(holdSteps) + ",max(ld(2)-1,0))";
    const std::string down =
        "if(ld(2),min(ld(3)+" + step + "/" + number(attack) + ",1),max(ld(3)-" + step + "/" + number(release) + ",0))";
    return "st(0," + smoothed + ");st(1," + nextFloor + ");st(5,1);st(2," + held + ");st(3," + down + ");pow(" +
           ratioText(decibelsToFactor(-*settings.duckDb)) + ",(1-cos(PI*ld(3)))/2)";
}

// The key, from the own sound, to the music's gain as a stereo signal. The
// key is advanced rather than the mix delayed: its first look-ahead samples
// are dropped and silence follows its end, so nothing in the mix moves
// against the picture. Its energy goes down to the control rate and the
// gain comes back up, both through the resampler, which keeps every sample
// where it was; the silence after the key's end carries the gain past the
// music's last sample, where the multiplication stops with the music.
std::string duckGainChain(const MixSettings &settings, int rate) {
    std::vector<std::string> filters;
    const std::int64_t lookahead = samplesAt(settings.duckLookaheadSeconds, rate);
    if (lookahead > 0) {
        filters.push_back("atrim=start_sample=" + std::to_string(lookahead));
        filters.emplace_back("asetpts=PTS-STARTPTS");
    }
    filters.push_back("apad=pad_len=" + std::to_string(lookahead + kDuckTailSamples * rate / kSampleRate));
    filters.emplace_back("pan=mono|c0=c0+c1");
    if (settings.duckKey == DuckKey::Speech)
        filters.emplace_back(rate == kSampleRate ? kSpeechBand : sketchSpeechBand(rate));
    // The square of the key: its energy.
    filters.emplace_back("asplit=2[duckkey][duckcopy];[duckkey][duckcopy]amultiply");
    const int controlStep = rate == kSampleRate ? kDuckControlStep : kSketchDuckControlStep;
    filters.push_back("aresample=" + std::to_string(kSampleRate / controlStep));
    // Quoted: the expression's commas and semicolons are its own.
    filters.push_back("aeval='exprs=" + duckEnvelope(settings, controlStep) + "'");
    filters.push_back("aresample=" + std::to_string(rate));
    filters.emplace_back("pan=stereo|c0=c0|c1=c0");
    return joinChain(filters);
}

} // namespace

double wholeMixLimitDb(const MixSettings &settings) {
    return settings.truePeakDb - kResamplingRingDb - kEncoderPeakRiseDb - settings.encoderPeakRoomDb;
}

std::int64_t secondsToSamples(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0)
        return 0;
    return std::llround(seconds * kSampleRate);
}

double decibelsToFactor(double decibels) {
    return std::pow(10.0, decibels / 20);
}

std::string musicGraphDescription(const MixSettings &settings, double videoSeconds, int sampleRate) {
    std::vector<std::string> filters{"aresample=" + std::to_string(sampleRate),
                                     "aformat=sample_fmts=fltp:channel_layouts=stereo"};
    for (std::string &filter : musicFilters(settings, videoSeconds, sampleRate))
        filters.push_back(std::move(filter));
    if (std::string end = chainEnd(settings, sampleRate); !end.empty())
        filters.push_back(std::move(end));
    return joinChain(filters);
}

namespace {

std::vector<std::string> ownFilters(const MixSettings &settings) {
    std::vector<std::string> own;
    if (settings.levelsSet()) {
        if (std::optional<std::string> volume = volumeFilter(settings.ownGainDb))
            own.push_back(*volume);
    }
    return own;
}

// The own sound's chain to [own] and the music's, ducked when asked, to
// [bed]: everything of the mix before the two meet.
std::string ownAndBedChains(const MixSettings &settings, double videoSeconds, int rate) {
    const std::vector<std::string> music = musicFilters(settings, videoSeconds, rate);
    const std::string musicChain = music.empty() ? "anull" : joinChain(music);
    std::string description;
    std::vector<std::string> own = ownFilters(settings);
    if (settings.duckDb) {
        own.emplace_back("asplit=2");
        description += "[in0]" + joinChain(own) + "[own][key];";
        description += "[in1]" + musicChain + "[music];";
        description += "[key]" + duckGainChain(settings, rate) + "[duckgain];";
        description += "[music][duckgain]amultiply[bed];";
    } else {
        description += "[in0]" + (own.empty() ? std::string("anull") : joinChain(own)) + "[own];";
        description += "[in1]" + musicChain + "[bed];";
    }
    return description;
}

// Where [own] and the music as laid meet.
std::string mixJoint(const MixSettings &settings, int rate, const std::string &bed = "bed") {
    std::string description = "[own][" + bed + "]amix=inputs=2";
    if (settings.levelsSet())
        description += ":normalize=0";
    if (const std::string end = chainEnd(settings, rate); !end.empty())
        description += "," + end;
    return description + "[out]";
}

std::string replacingDescription(const MixSettings &settings, double videoSeconds, int rate) {
    // The own sound still paces the mix; it is consumed and dropped.
    const std::vector<std::string> music = musicFilters(settings, videoSeconds, rate);
    std::string description = "[in0]anullsink;[in1]" + (music.empty() ? std::string("anull") : joinChain(music));
    if (const std::string end = chainEnd(settings, rate); !end.empty())
        description += "," + end;
    return description + "[out]";
}

} // namespace

std::string mixGraphDescription(const MixSettings &settings, double videoSeconds, int sampleRate) {
    if (settings.isDefault())
        return "[in0][in1]amix=inputs=2[out]";
    if (settings.replaceOwnSound)
        return replacingDescription(settings, videoSeconds, sampleRate);
    return ownAndBedChains(settings, videoSeconds, sampleRate) + mixJoint(settings, sampleRate);
}

std::string mixAndLaidGraphDescription(const MixSettings &settings, double videoSeconds, int sampleRate) {
    if (!settings.duckDb || settings.replaceOwnSound || settings.isDefault())
        return {};
    return ownAndBedChains(settings, videoSeconds, sampleRate) + "[bed]asplit=2[mixedbed][laid];" +
           mixJoint(settings, sampleRate, "mixedbed");
}

std::string musicBedGraphDescription(const MixSettings &settings, double videoSeconds, int sampleRate) {
    if (settings.isDefault())
        return "[in0]anullsink;[in1]anull[out]";
    if (settings.replaceOwnSound)
        return replacingDescription(settings, videoSeconds, sampleRate);
    return ownAndBedChains(settings, videoSeconds, sampleRate) + "[own]anullsink;[bed]anull[out]";
}

} // namespace melvora
