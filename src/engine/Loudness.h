#pragma once

// The music's integrated loudness (EBU R128), measured in one pass over the
// file, and the gain that brings it to a target; the meter that measures the
// mix as well.

#include "engine/MixSettings.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;

namespace melvora {

enum class PeakMeasure { None, Sample, True };

// Integrated loudness (and, when asked, the highest sample or the true peak,
// 4x oversampled) of the frames added, whatever their format: each is
// converted at its own rate and channel count.
class LoudnessMeter {
public:
    explicit LoudnessMeter(PeakMeasure peaks = PeakMeasure::None);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter &) = delete;
    LoudnessMeter &operator=(const LoudnessMeter &) = delete;

    int add(const AVFrame *frame);
    // None when no sound was measured; silence measures -70 LUFS.
    std::optional<double> integrated() const;
    // The highest peak of any channel, as asked, in dBFS (dBTP for True).
    double peakDb() const;

private:
    struct State; // the meter and its converter
    std::unique_ptr<State> m_state;
};

// Opens the file as the run opens its music (a local file only, the last
// decodable sound stream) and measures it. Returns 0 or an FFmpeg error;
// error, when given, then says which step failed. Silence measures -70 LUFS.
int measureIntegratedLoudness(const std::string &path, double &lufs, std::string *error = nullptr,
                              const std::atomic<std::uint8_t> *stopFlag = nullptr);

// Measures an input that is already open, from where it stands to its end,
// then rewinds it to its start and empties the decoder, so that the run can
// read it from the beginning.
int measureIntegratedLoudness(AVFormatContext *input, int streamIndex, AVCodecContext *decoder, double &lufs,
                              const std::atomic<std::uint8_t> *stopFlag = nullptr);

// The gain in dB that brings music measured at measuredLufs to targetLufs,
// kept within the music-level range.
double loudnessGainDb(double measuredLufs, double targetLufs);

// The settings with the loudness target turned into the music's level.
MixSettings withMeasuredLoudness(MixSettings settings, double measuredLufs);

// What the search for a loudness target's gain found.
struct WholeMixGain {
    int passes = 0;             // passes over the whole mix it took
    double measuredLufs = -70;  // the mix as it is
    bool silent = false;        // nothing to raise: the gain is 0
    std::optional<double> gain; // dB; unset only when the first pass failed
};

// One pass over the whole mix: with no gain the mix as it is, else with the
// gain and the limiter that chainEnd puts at its end. The meter hears it;
// index counts the passes from 0. Returns 0 or an FFmpeg error.
using WholeMixPass = std::function<int(std::optional<double> gainDb, LoudnessMeter &meter, int index)>;

// The one gain that brings the whole mix to the settings' loudness target,
// as a run finds it: a first pass measures the mix as it is; where that gain
// drives peaks into the limiter, which takes loudness off them, further
// passes measure the limited mix and correct the gain (by the secant through
// the last two, since the limiter takes more the more it is driven), until
// it lands within a tenth of a LU or three passes are done. The gain found
// last may be one no pass measured.
int searchWholeMixGain(const MixSettings &settings, const WholeMixPass &pass, WholeMixGain &found);

} // namespace melvora
