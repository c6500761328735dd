#pragma once

// The encoder of the new sound track, as the loop sees it: 44100 Hz planar
// float stereo frames in, stamped in samples from 0, packets out in order.
// Engine-internal.

#include "engine/FFmpegHandles.h"

#include <vector>

namespace melvora {

class SoundTrackEncoder {
public:
    virtual ~SoundTrackEncoder() = default;
    // Hands over the next frame, waiting while the encoder has enough
    // sound ahead of it. Returns the first error of the encoding instead,
    // once there was one. After cancel() frames are dropped and 0 is returned.
    virtual int submit(FramePtr frame) = 0;
    // Moves the packets ready so far to the end of packets, in order, without
    // waiting.
    virtual void takePackets(std::vector<PacketPtr> &packets) = 0;
    // End of the sound: lets out what the encoder still holds; afterwards
    // takePackets gives the rest. Returns the first error.
    virtual int finish() = 0;
    // Stops promptly; what is ready stays available, a prefix that decodes
    // on its own.
    virtual void cancel() = 0;
    // The first error, or 0.
    virtual int error() = 0;
};

} // namespace melvora
