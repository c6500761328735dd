#pragma once

#include <cstdint>

namespace melvora {

// The window an AAC-LC encoder chose for one raw frame (no ADTS header), read
// from the ics_info at the start of its first channel element. Two encoders'
// streams can be joined after a frame for which both chose the same window:
// the decoder's overlap-add then meets the window halves each encoder used.
struct AacFrameWindow {
    bool known = false;        // a channel element whose ics_info could be read
    bool sharedByPair = false; // a single channel, or a channel pair with a common window
    int windowSequence = 0;    // 0 long, 1 long start, 2 eight short, 3 long stop
    int windowShape = 0;       // 0 sine, 1 Kaiser-Bessel derived
};

// Reads the window of a raw AAC frame, skipping fill elements before the
// first channel element. Returns an unknown window for anything else.
AacFrameWindow readAacFrameWindow(const std::uint8_t *data, int size);

// True when a stream may switch from one encoder to another after frames
// carrying these windows: both fully known and the same.
bool windowsJoin(const AacFrameWindow &left, const AacFrameWindow &right);

} // namespace melvora
