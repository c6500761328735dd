#pragma once

// The music's integrated loudness (EBU R128), measured in one pass over the
// file, and the gain that brings it to a target; the meter that measures the
// mix as well.

#include "engine/MixSettings.h"

#include <atomic>
#include <cstdint>
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

} // namespace melvora
