#pragma once

#include <cstdint>

namespace melvora {

// How a sound track is cut for several AAC encoders at once, in frames of
// 1024 samples: segments of segmentFrames, each encoder first hearing
// prerollFrames before its segment and going on postrollFrames after it.
// Pure arithmetic, shared by the encoder and its tests.
struct SegmentPlan {
    int segmentFrames = 0;
    int prerollFrames = 0;
    int postrollFrames = 0;

    static SegmentPlan defaultPlan();
    // The default plan with the segment length adjusted so that a stream of
    // about totalFrames is cut into a multiple of threads segments: the last
    // round of segments then keeps every thread busy.
    static SegmentPlan balanced(std::int64_t totalFrames, int threads);

    // At least two frames of post-roll; a seam that needs more widens it.
    SegmentPlan normalized() const;
    // With one thread, or segments too short for their post-roll, one
    // encoder does it all.
    bool singleEncoder(int threads) const;

    std::int64_t nominalStart(std::int64_t segment) const { return segment * std::int64_t(segmentFrames); }
    // The first frame a segment's encoder is fed: the end of the segment
    // before, less the pre-roll.
    std::int64_t firstFed(std::int64_t segment) const;
    // The frames up to which the stream must have come to know whether a
    // segment is the last: the first is the last when the stream ends within
    // two segments, a later one when it ends before a little more than its
    // post-roll (a short tail joins it).
    std::int64_t decisionPoint(std::int64_t segment) const;
    // How far into the right encoder's pre-roll a seam may move back.
    int backSearch() const { return prerollFrames > 0 ? prerollFrames / 2 : 0; }

    // The most frames of sound held at once, however the threads are
    // scheduled: every segment that may be in flight (one per thread, two at
    // least) with its pre- and post-roll, and fillAhead frames the producer
    // runs ahead of the newest encoder.
    std::int64_t bufferedFramesBound(int threads, std::int64_t fillAhead) const;
};

} // namespace melvora
