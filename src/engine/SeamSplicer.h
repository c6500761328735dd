#pragma once

// The splice of a sound track encoded in segments by several AAC encoders:
// the packets each segment's encoder gave, and the choice of the frame after
// which the stream switches from one encoder to the next. Engine-internal:
// this header brings in FFmpeg. Not thread-safe: the encoder calls it under
// its lock.

#include "engine/AacFrameHeader.h"
#include "engine/LoopHelpers.h"
#include "engine/SegmentPlan.h"

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace melvora {

enum class Lastness { Unknown, Yes, No };

struct CodedFrame {
    std::int64_t frame; // pts / 1024: -1 for the encoder's priming packet
    AacFrameWindow window;
    PacketPtr packet;
};

// One segment's encoding, shared by the thread that encodes it and the
// splice.
struct EncodedSegment {
    std::int64_t index = 0;
    std::int64_t firstFed = 0;
    std::int64_t nextFeed = 0;
    std::int64_t keepFrom = -1;  // packets of earlier frames are never used
    std::int64_t producedTo = -2; // last frame whose packet came out
    std::int64_t feedTo = 0;      // the end of its post-roll, unless it is the last
    std::deque<CodedFrame> coded; // kept packets not yet spliced
    CodecContextPtr encoder;      // while parked at the end of its post-roll
    bool parked = false;          // waits for its seam to be decided
    bool resume = false;          // its seam asked for more post-roll
    bool done = false;            // its encoder is gone
};
using SegmentMap = std::map<std::int64_t, std::shared_ptr<EncodedSegment>>;

// One seam, for reports: where it was planned, after which frame the stream
// switched to the right encoder (pts of that frame's packet), and whether
// both encoders chose the same window there (false: none did, even with the
// left encoder's post-roll widened to half a segment, and the stream
// switched at the planned place).
struct SpliceSeam {
    std::int64_t plannedPts;
    std::int64_t lastLeftPts;
    bool windowsAgreed;
};

class SeamSplicer {
public:
    explicit SeamSplicer(const SegmentPlan &plan) : m_plan(plan.normalized()) {}

    // What one splice did.
    struct Step {
        bool seamDecided = false; // a segment left: room for one more in flight
        bool widened = false;     // a left encoder must go on for another post-roll
    };
    // Moves to the output every packet that no seam can take back any more,
    // and decides each seam as soon as both of its encoders have passed it.
    // A decided segment leaves segments, its encoder going to handedOn.
    // Returns 0, or AVERROR_BUG for a hole in the stream that no stop made.
    int splice(SegmentMap &segments, const std::function<Lastness(std::int64_t)> &lastness,
               std::map<std::int64_t, CodecContextPtr> &handedOn, bool cancelled, Step &step);

    // Moves the spliced packets to the end of packets.
    void takeReady(std::vector<PacketPtr> &packets);
    std::size_t readyCount() const { return m_ready.size(); }
    // The last segment is spliced, or a stop ended the stream.
    bool complete() const { return m_complete; }
    // The segment whose packets are being spliced.
    std::int64_t outputSegment() const { return m_outputSegment; }
    const std::vector<SpliceSeam> &seams() const { return m_seams; }

private:
    int emit(CodedFrame &coded, bool cancelled);

    const SegmentPlan m_plan;
    std::int64_t m_outputSegment = 0;
    std::int64_t m_outputFrom = -1; // its first frame after its left seam
    std::int64_t m_nextFrame = -1;  // the frame the output needs next: it never skips one
    bool m_complete = false;
    std::vector<PacketPtr> m_ready;
    std::vector<SpliceSeam> m_seams;
};

} // namespace melvora
