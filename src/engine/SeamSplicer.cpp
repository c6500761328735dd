#include "engine/SeamSplicer.h"

#include <new>

namespace melvora {
namespace {

constexpr std::int64_t kFrameSamples = 1024;
constexpr std::int64_t kNever = INT64_MAX;

// The window of a segment's packet for a frame, when it has one.
const AacFrameWindow *windowAt(const std::deque<CodedFrame> &frames, std::int64_t frame) {
    if (frames.empty() || frame < frames.front().frame)
        return nullptr;
    const std::size_t offset = std::size_t(frame - frames.front().frame);
    return offset < frames.size() && frames[offset].frame == frame ? &frames[offset].window : nullptr;
}

} // namespace

void SeamSplicer::takeReady(std::vector<PacketPtr> &packets) {
    for (PacketPtr &packet : m_ready)
        packets.push_back(std::move(packet));
    m_ready.clear();
}

int SeamSplicer::emit(CodedFrame &coded, bool cancelled) {
    if (coded.frame < m_outputFrom || m_complete)
        return 0;
    if (coded.frame != m_nextFrame) {
        // A segment cut short by a stop leaves a hole after it: the stream
        // ends before the hole, so what was spliced still plays on its own.
        // Anything else leaving one would be a fault, and fails the stream.
        m_complete = true;
        return cancelled ? 0 : AVERROR_BUG;
    }
    try {
        m_ready.push_back(std::move(coded.packet));
        ++m_nextFrame;
    } catch (const std::bad_alloc &) {
        return AVERROR(ENOMEM); // a gap would go unnoticed: the stream fails instead
    }
    return 0;
}

int SeamSplicer::splice(SegmentMap &segments, const std::function<Lastness(std::int64_t)> &lastness,
                        std::map<std::int64_t, CodecContextPtr> &handedOn, bool cancelled, Step &step) {
    const auto emitFront = [&](std::deque<CodedFrame> &coded) {
        const int result = emit(coded.front(), cancelled);
        coded.pop_front();
        return result;
    };
    for (;;) {
        const auto found = segments.find(m_outputSegment);
        if (found == segments.end() || m_complete)
            return 0;
        EncodedSegment &left = *found->second;
        const Lastness last = lastness(left.index);
        const std::int64_t boundary = m_plan.nominalStart(left.index + 1);
        const std::int64_t settled = last == Lastness::Yes ? kNever : boundary - m_plan.backSearch();
        while (!left.coded.empty() && left.coded.front().frame < settled)
            if (const int result = emitFront(left.coded); result < 0)
                return result;
        if (last == Lastness::Yes) {
            m_complete = left.done;
            return 0;
        }
        if (last == Lastness::Unknown)
            return 0;
        const auto next = segments.find(left.index + 1);
        if (next == segments.end())
            return 0;
        EncodedSegment &right = *next->second;
        // The left encoder stops after its post-roll; the seam may lie as
        // late as its last packet, with the right encoder's next one after it.
        if (!(left.parked || left.done) || left.resume || (right.producedTo <= left.producedTo && !right.done))
            return 0;
        const std::int64_t overlapEnd = std::min(left.producedTo, right.producedTo - 1);

        // Both deques hold consecutive frames from the settled point on.
        const auto agree = [&](std::int64_t frame) {
            const AacFrameWindow *a = windowAt(left.coded, frame);
            const AacFrameWindow *b = windowAt(right.coded, frame);
            return a && b && windowsJoin(*a, *b);
        };
        // The planned place first, then later into the left encoder's
        // post-roll, then earlier into the right encoder's settled pre-roll.
        std::int64_t lastLeft = boundary - 1;
        bool agreed = false;
        for (std::int64_t frame = boundary - 1; frame <= overlapEnd && !agreed; ++frame)
            if (agree(frame)) {
                lastLeft = frame;
                agreed = true;
            }
        for (std::int64_t frame = boundary - 2; frame >= boundary - m_plan.backSearch() && !agreed; --frame)
            if (agree(frame)) {
                lastLeft = frame;
                agreed = true;
            }

        if (!agreed && left.parked && left.feedTo < boundary + m_plan.segmentFrames / 2) {
            // No agreeing frame in the overlap: the left encoder goes on
            // into the right segment for another post-roll.
            left.feedTo += m_plan.postrollFrames;
            left.parked = false;
            left.resume = true;
            step.widened = true;
            return 0;
        }
        while (!left.coded.empty() && left.coded.front().frame <= lastLeft)
            if (const int result = emitFront(left.coded); result < 0)
                return result;
        m_seams.push_back(SpliceSeam{boundary * kFrameSamples, lastLeft * kFrameSamples, agreed});
        m_outputFrom = lastLeft + 1;
        ++m_outputSegment;
        if (left.encoder) {
            try {
                handedOn[left.index] = std::move(left.encoder);
            } catch (const std::bad_alloc &) {
                left.encoder.reset(); // closed at once, unflushed; the next one starts fresh
            }
        }
        left.parked = false;
        left.done = true;
        segments.erase(found); // its worker holds its own reference while it runs
        step.seamDecided = true;
    }
}

} // namespace melvora
