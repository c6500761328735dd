#pragma once

// One encoder of a codec other than AAC (Opus, MP2) on the caller's thread:
// the mix's 44100 Hz planar float stereo converted to the encoder's own rate
// and format and cut into its frame size. Fast enough that the segmented
// splice of the AAC track is not needed. Engine-internal.

#include "engine/LoopHelpers.h"
#include "engine/SoundTrackEncoder.h"

namespace melvora {

class PlainTrackEncoder : public SoundTrackEncoder {
public:
    // encoder: opened; declaredPriming: the samples the stream tells players
    // to skip, at least the encoder's own priming: silence before the first
    // sample makes up the difference. Packets are stamped so that the first
    // sample after the skip plays at 0, or, with nonNegative, so that the
    // first packet is at 0 (the container subtracts the priming itself).
    PlainTrackEncoder(CodecContextPtr encoder, int declaredPriming, bool nonNegative);

    int submit(FramePtr frame) override;
    void takePackets(std::vector<PacketPtr> &packets) override;
    int finish() override;
    void cancel() override { m_cancelled = true; }
    int error() override { return m_error; }

private:
    int convert(const std::uint8_t *const *planes, int sampleCount);
    int encodeFrames(bool last);
    int receivePackets();
    int failed(int result);

    CodecContextPtr m_encoder;
    ResamplerPtr m_resampler;
    AudioFifoPtr m_fifo; // in the encoder's format
    FramePtr m_converted;
    std::int64_t m_nextPts = 0;
    int m_lead = 0;
    std::int64_t m_stampShift = 0;
    std::vector<PacketPtr> m_ready;
    int m_error = 0;
    bool m_cancelled = false;
};

} // namespace melvora
