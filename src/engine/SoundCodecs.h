#pragma once

// The codec of the new sound track: AAC wherever the container takes it,
// else the one the container is made for. Engine-internal.

#include "engine/LoopHelpers.h"

namespace melvora {

enum class SoundCodec {
    Aac,  // 128 kbit/s, 44100 Hz stereo: every container that takes it
    Opus, // 128 kbit/s, 48000 Hz stereo: WebM and Ogg
    Mp2,  // 128 kbit/s, 44100 Hz stereo: MPEG program streams (.mpg, .vob)
};

// A new encoder of the codec as every run encodes with it.
int openSoundEncoder(SoundCodec codec, CodecContextPtr &encoder);

// The first codec, in the order above, whose stream the container's
// muxer takes; none when it takes none of them.
std::optional<SoundCodec> soundCodecFor(const AVOutputFormat *format);

const char *soundCodecName(SoundCodec codec);

// The encoder's priming as the stream declares it: Opus's rounded up to a
// whole millisecond (Matroska's clock) so that every container, and every
// player that rounds the codec delay to that clock, skips exactly the
// priming plus the silence laid before the first sample. Written into the
// stream's parameters and its Opus header.
int declarePriming(const AVCodecContext *encoder, AVCodecParameters *stream);

} // namespace melvora
