#include "engine/SegmentPlan.h"

#include <algorithm>

namespace melvora {

SegmentPlan SegmentPlan::defaultPlan() {
    // Measured (bench/SegmentedEncodeTiming.cpp, 2 cores): the rate
    // control's long memory goes on with the encoder handed from one round
    // to the next, so the pre-roll only has to settle the windows and the
    // psychoacoustic model after the jump; with 8, 16 or 32 frames the
    // spliced sound is as faithful as one encoder's. The encoders agreed on
    // the window at every planned seam of rich music, so 4 frames of
    // post-roll suffice (a seam that needs more widens it), and the extra
    // work stays near 2.5 %. The sound held for the segments in flight
    // (about one segment, 8 MB at 20 s) keeps the peak memory within 1.2
    // times the ffmpeg program's.
    return SegmentPlan{862, 16, 4};
}

SegmentPlan SegmentPlan::balanced(std::int64_t totalFrames, int threads) {
    SegmentPlan plan = defaultPlan();
    if (threads <= 1 || totalFrames < 2 * std::int64_t(plan.segmentFrames))
        return plan;
    // The nearest multiple of the threads to the number of default segments
    // (a tie goes up, to the shorter segments).
    const std::int64_t nominal = (totalFrames + plan.segmentFrames / 2) / plan.segmentFrames;
    const std::int64_t rounds = std::max<std::int64_t>(1, (2 * nominal + threads) / (2 * std::int64_t(threads)));
    const std::int64_t segments = rounds * threads;
    plan.segmentFrames = int((totalFrames + segments - 1) / segments);
    return plan;
}

SegmentPlan SegmentPlan::normalized() const {
    SegmentPlan plan = *this;
    plan.prerollFrames = std::max(0, plan.prerollFrames);
    plan.postrollFrames = std::max(2, plan.postrollFrames);
    return plan;
}

bool SegmentPlan::singleEncoder(int threads) const {
    return threads <= 1 || segmentFrames < 2 * normalized().postrollFrames;
}

std::int64_t SegmentPlan::firstFed(std::int64_t segment) const {
    return segment == 0 ? 0 : std::max<std::int64_t>(0, nominalStart(segment) - prerollFrames);
}

std::int64_t SegmentPlan::decisionPoint(std::int64_t segment) const {
    const std::int64_t tail = segment == 0 ? segmentFrames : 2 * postrollFrames;
    return nominalStart(segment + 1) + tail;
}

std::int64_t SegmentPlan::bufferedFramesBound(int threads, std::int64_t fillAhead) const {
    const SegmentPlan plan = normalized();
    if (plan.singleEncoder(threads))
        return fillAhead + 1;
    const std::int64_t inFlight = std::max(2, threads);
    return inFlight * plan.segmentFrames + plan.prerollFrames + plan.postrollFrames + fillAhead + 1;
}

} // namespace melvora
