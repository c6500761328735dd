#pragma once

// The music's integrated loudness (EBU R128), measured in one pass over the
// file, and the gain that brings it to a target.

#include "engine/MixSettings.h"

#include <atomic>
#include <cstdint>
#include <string>

struct AVCodecContext;
struct AVFormatContext;

namespace melvora {

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
