#pragma once

// The filter-graph descriptions that carry out the mix settings. Pure text:
// the graph building parses them between the sources and the sink.
//
// Both graphs expect sources whose frames carry pts in samples (time base
// 1/44100) counted from 0, the first sample of the new sound track: the
// fades are placed by those pts.

#include "engine/MixSettings.h"

#include <cstdint>
#include <string>

namespace melvora {

// The music alone (a silent video, re-encoded music), between "in" and
// "out". The default settings give
// "aresample=44100,aformat=sample_fmts=fltp:channel_layouts=stereo".
// videoSeconds is the length of the video from where the new sound starts;
// the fade-out ends there (no fade-out when it is not positive).
// sampleRate is the graph's rate: a preview's sketch runs the same
// description at a fraction of the run's.
std::string musicGraphDescription(const MixSettings &settings, double videoSeconds, int sampleRate = 44100);

// The video's own sound ("in0") and the music ("in1") mixed into "out".
// The default settings give "[in0][in1]amix=inputs=2[out]".
std::string mixGraphDescription(const MixSettings &settings, double videoSeconds, int sampleRate = 44100);

// The music as the mix lays it (delay, fades, ducking by the own sound
// "in0"), from "in1" into "out" before it meets the own sound and before the
// limiter; the mix preview draws it.
std::string musicBedGraphDescription(const MixSettings &settings, double videoSeconds, int sampleRate = 44100);

// Samples at 44100 Hz per step of the ducking's control rate (1050 Hz). A
// graph started later makes the same steps as one started at 0 when it
// starts on a multiple of this.
inline constexpr int kDuckControlStep = 42;

// With ducking: the mix into "out" and, split from the same ducked music,
// the music as laid (musicBedGraphDescription's) into "laid", one graph that
// makes the ducking's envelope once for both. Empty without ducking (or with
// the music alone), where the two graphs share nothing costly.
std::string mixAndLaidGraphDescription(const MixSettings &settings, double videoSeconds, int sampleRate = 44100);

// Where the limiter of a whole-mix loudness target holds the peaks, in dB:
// under the true-peak ceiling by what resampling and encoding add to them.
double wholeMixLimitDb(const MixSettings &settings);

// Sample count at 44100 Hz of a length in seconds, rounded to the nearest.
std::int64_t secondsToSamples(double seconds);

// Linear factor of a level in dB.
double decibelsToFactor(double decibels);

} // namespace melvora
