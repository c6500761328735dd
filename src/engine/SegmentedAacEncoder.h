#pragma once

#include "engine/SeamSplicer.h"
#include "engine/SoundTrackEncoder.h"

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
class SegmentedAacEncoder : public SoundTrackEncoder {
public:
    // Opens a fresh encoder configured like the run's; an FFmpeg result.
    using EncoderFactory = std::function<int(CodecContextPtr &encoder)>;
    using Plan = SegmentPlan;
    using Seam = SpliceSeam;

    // The mixer is woken when an encoder has fewer than kWakeAheadFrames
    // ahead of it, and then runs until every encoder has kFillAheadFrames
    // ahead: waking it for every frame would cost a context switch per frame
    // on each core.
    static constexpr std::int64_t kFillAheadFrames = 128;
    static constexpr std::int64_t kWakeAheadFrames = 24;

    SegmentedAacEncoder(EncoderFactory factory, int threads, Plan plan = Plan::defaultPlan());
    ~SegmentedAacEncoder() override; // stops and joins every thread
    SegmentedAacEncoder(const SegmentedAacEncoder &) = delete;
    SegmentedAacEncoder &operator=(const SegmentedAacEncoder &) = delete;

    int submit(FramePtr frame) override;
    void takePackets(std::vector<PacketPtr> &packets) override;
    // Flushes the last encoder and waits for every segment.
    int finish() override;
    // Stops every thread promptly and waits for them.
    void cancel() override;
    int error() override;

    // The seams decided so far, in order.
    std::vector<Seam> seams();
    // The most frames of sound held at once for the segments in flight;
    // never more than plan.bufferedFramesBound(threads, kFillAheadFrames).
    std::int64_t peakBufferedFrames();
    // Number of threads that run encoders.
    int threadCount() const { return int(m_threads.size()); }

private:
    void runWorker();
    int encodeSegment(const std::shared_ptr<EncodedSegment> &segment, CodecContextPtr &encoder);
    void closeHandedOnEncoders();
    std::shared_ptr<EncodedSegment> segmentToResume() const;
    bool workLeft() const;
    // Hands the segment's new packets to the splice and drops the frames fed
    // to make them, under the lock.
    void publish(EncodedSegment &segment, std::vector<CodedFrame> &coded, std::vector<FramePtr> &fed);
    Lastness lastness(std::int64_t segmentIndex) const;
    bool mayDispatch() const;
    bool needsFrames(std::int64_t ahead) const;
    bool abandoned(const EncodedSegment &segment) const;
    std::int64_t feedLimit(const EncodedSegment &segment) const;
    void releaseFrames();
    void splice();
    void fail(int result);
    void stopThreads();

    const EncoderFactory m_factory;
    const Plan m_plan;
    const bool m_single;

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

    SegmentMap m_segments; // dispatched, not yet spliced or still running
    std::int64_t m_nextSegment = 0;
    int m_running = 0;
    SeamSplicer m_splicer;
    // Encoders of spliced segments, by segment, until they go on with the
    // segment one round of threads later.
    std::map<std::int64_t, CodecContextPtr> m_handedOn;

    std::vector<std::thread> m_threads;

    static constexpr std::int64_t kNever = INT64_MAX;
};

} // namespace melvora
