#pragma once

#include "engine/AacFrameHeader.h"
#include "engine/LoopHelpers.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace melvora {

// Encodes one AAC sound track on several threads. The frames are cut into
// segments; each segment's encoder first hears the sound before the segment
// (pre-roll, so that its psychoacoustic model and windows have settled after
// the jump) and a little after it (post-roll). The first round of segments,
// one per thread, have fresh encoders; every later segment takes over the
// encoder of the segment one round before it, whose rate control has
// learnt from minutes of sound as a single encoder's would have (a fresh one
// spends more bits for the first minutes). At each seam the stream switches
// from the left encoder to the right one after a frame for which both chose
// the same window, so that the decoder's overlap-add joins them cleanly; when
// no frame of the overlap agrees, the left encoder goes on further. The
// result is one ordinary AAC stream, stamped as one encoder on the whole
// sound stamps it, and the same from run to run for a number of threads.
//
// Frames go in in order, 1024 samples each (the last may be shorter), stamped
// in samples from 0 in the encoder's time base of 1/sample rate. With one
// thread, or a stream shorter than two segments, one encoder sees every frame
// and is flushed at the end: its packets are exactly a single encoder's.
class SegmentedAacEncoder {
public:
    // Opens a fresh encoder configured like the run's; an FFmpeg result.
    using EncoderFactory = std::function<int(CodecContextPtr &encoder)>;

    // Lengths in frames of 1024 samples.
    struct Plan {
        int segmentFrames;
        int prerollFrames;
        int postrollFrames;
    };
    static Plan defaultPlan();
    // The default plan with the segment length adjusted so that a stream of
    // about totalFrames is cut into a multiple of threads segments: the last
    // round of segments then keeps every thread busy.
    static Plan balancedPlan(std::int64_t totalFrames, int threads);

    // One seam, for reports: where it was planned, after which frame the
    // stream switched to the right encoder (pts of that frame's packet), and
    // whether both encoders chose the same window there (false: none did,
    // even with the left encoder's post-roll widened to half a segment, and
    // the stream switched at the planned place).
    struct Seam {
        std::int64_t plannedPts;
        std::int64_t lastLeftPts;
        bool windowsAgreed;
    };

    SegmentedAacEncoder(EncoderFactory factory, int threads, Plan plan = defaultPlan());
    ~SegmentedAacEncoder(); // stops and joins every thread
    SegmentedAacEncoder(const SegmentedAacEncoder &) = delete;
    SegmentedAacEncoder &operator=(const SegmentedAacEncoder &) = delete;

    // Hands over the next frame, waiting while the encoders have enough sound
    // ahead of them. Returns the first error of any encoder instead, once
    // there was one. After cancel() frames are dropped and 0 is returned.
    int submit(FramePtr frame);

    // Moves the packets spliced so far to the end of packets, in order,
    // without waiting.
    void takePackets(std::vector<PacketPtr> &packets);

    // End of the stream: flushes the last encoder and waits for every
    // segment; afterwards takePackets gives the rest. Returns the first error.
    int finish();

    // Stops every thread promptly and waits for them; the packets spliced so
    // far stay available to takePackets, a prefix that decodes on its own.
    void cancel();

    // The first error, or 0.
    int error();

    // The seams decided so far, in order.
    std::vector<Seam> seams();

    // The most frames of sound held at once for the segments in flight.
    std::int64_t peakBufferedFrames();
    // What that can reach, however the threads are scheduled: every segment
    // that may be in flight with its pre- and post-roll, and the sound the
    // mixer runs ahead of the newest encoder.
    static std::int64_t bufferedFramesBound(int threads, Plan plan);

    // Number of threads that run encoders.
    int threadCount() const { return int(m_threads.size()); }

private:
    struct CodedFrame {
        std::int64_t frame; // pts / 1024: -1 for the encoder's priming packet
        AacFrameWindow window;
        PacketPtr packet;
    };
    struct Segment {
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
    enum class Last { Unknown, Yes, No };

    void runWorker();
    int encodeSegment(const std::shared_ptr<Segment> &segment, CodecContextPtr &encoder);
    void closeHandedOnEncoders();
    std::shared_ptr<Segment> segmentToResume() const;
    bool workLeft() const;
    // Hands the segment's new packets to the splice and drops the frames fed
    // to make them, under the lock.
    void publish(Segment &segment, std::vector<CodedFrame> &coded, std::vector<FramePtr> &fed);
    Last lastness(std::int64_t segmentIndex) const;
    std::int64_t decisionPoint(std::int64_t segmentIndex) const;
    std::int64_t firstFedOf(std::int64_t segmentIndex) const;
    bool mayDispatch() const;
    bool needsFrames(std::int64_t ahead) const;
    bool abandoned(const Segment &segment) const;
    std::int64_t nominalStart(std::int64_t segmentIndex) const;
    std::int64_t feedLimit(const Segment &segment) const;
    void releaseFrames();
    void splice();
    void emit(CodedFrame &coded);
    void fail(int result);
    void stopThreads();

    const EncoderFactory m_factory;
    const Plan m_plan;
    const bool m_single;
    const int m_backSearch; // how far into the right encoder's pre-roll a seam may move

    int m_threadLimit = 1;
    std::mutex m_mutex;
    std::mutex m_joinMutex;
    std::condition_variable m_workersChanged;
    std::condition_variable m_producerChanged; // submit() and finish() wait on it
    bool m_producerWaiting = false;
    bool m_filling = false; // the producer runs until every encoder has enough ahead
    bool m_closing = false;
    // Sound still needed by a segment in flight or to come: frames
    // m_storeBase .. m_submitted-1.
    std::deque<FramePtr> m_store;
    std::int64_t m_storeBase = 0;
    std::int64_t m_submitted = 0;
    std::int64_t m_peakBuffered = 0;
    std::int64_t m_wakeWorkersAt = INT64_MAX; // submit() wakes the workers once this many frames are in
    bool m_shortFrameSeen = false;
    bool m_finished = false;
    bool m_cancelled = false;
    int m_error = 0;

    std::map<std::int64_t, std::shared_ptr<Segment>> m_segments; // dispatched, not yet spliced or still running
    std::int64_t m_nextSegment = 0;
    int m_running = 0;
    std::int64_t m_outputSegment = 0;  // the segment whose packets are being spliced
    std::int64_t m_outputFrom = -1;    // its first frame after its left seam
    bool m_complete = false;
    std::int64_t m_nextFrame = -1; // the frame the output needs next: it never skips one
    std::vector<PacketPtr> m_ready;
    // Encoders of spliced segments, by segment, until they go on with the
    // segment one round of threads later.
    std::map<std::int64_t, CodecContextPtr> m_handedOn;
    std::vector<Seam> m_seams;

    std::vector<std::thread> m_threads;
};

// Opens a fresh AAC encoder with the settings of an opened one (bit rate,
// sample format and rate, channel layout, time base, compliance, flags).
int openAacEncoderLike(const AVCodecContext *model, CodecContextPtr &encoder);

} // namespace melvora
