#include "engine/SegmentedAacEncoder.h"

#include <algorithm>
#include <limits>
#include <new>
#include <system_error>

namespace melvora {
namespace {

constexpr int kFrameSamples = 1024;

} // namespace

SegmentedAacEncoder::SegmentedAacEncoder(EncoderFactory factory, int threads, Plan plan)
    : m_factory(std::move(factory)), m_plan(plan.normalized()), m_single(plan.singleEncoder(threads)),
      m_splicer(plan) {
    m_threadLimit = m_single ? 1 : threads;
    try {
        for (int i = 0; i < m_threadLimit; ++i)
            m_threads.emplace_back([this] { runWorker(); });
    } catch (const std::system_error &) {
        // Fewer threads still encode everything; none at all cannot.
        std::lock_guard lock(m_mutex);
        m_threadLimit = int(m_threads.size());
        if (m_threads.empty())
            m_error = AVERROR(EAGAIN);
    }
}

SegmentedAacEncoder::~SegmentedAacEncoder() { cancel(); }

Lastness SegmentedAacEncoder::lastness(std::int64_t segmentIndex) const {
    if (m_single)
        return Lastness::Yes;
    if (m_submitted >= m_plan.decisionPoint(segmentIndex))
        return Lastness::No;
    return m_finished ? Lastness::Yes : Lastness::Unknown;
}

bool SegmentedAacEncoder::abandoned(const EncodedSegment &segment) const {
    return segment.index > 0 && lastness(segment.index - 1) == Lastness::Yes;
}

std::int64_t SegmentedAacEncoder::feedLimit(const EncodedSegment &segment) const {
    if (lastness(segment.index) == Lastness::No)
        return segment.feedTo;
    return kNever; // until the stream ends, or until it is known that more follows
}

bool SegmentedAacEncoder::mayDispatch() const {
    if (m_cancelled || m_closing || m_error < 0 || m_running >= m_threadLimit)
        return false;
    if (m_nextSegment > 0 && (m_single || lastness(m_nextSegment - 1) == Lastness::Yes))
        return false;
    // At most one segment per thread between the oldest unspliced one and
    // the newest, so that the sound kept for them stays bounded.
    // Two at least, because a seam waits for the segment after it.
    return m_nextSegment < m_splicer.outputSegment() + std::max(2, m_threadLimit);
}

bool SegmentedAacEncoder::needsFrames(std::int64_t ahead) const {
    if (m_finished || m_shortFrameSeen)
        return false;
    // A segment about to start wants the sound from its pre-roll on.
    if (mayDispatch() && m_submitted < m_plan.firstFed(m_nextSegment) + ahead)
        return true;
    for (const auto &[index, segment] : m_segments) {
        if (segment->done || segment->parked || abandoned(*segment))
            continue;
        if (segment->nextFeed + ahead > m_submitted)
            return true;
        // Past its own end but not knowing whether more follows: the answer
        // lies in the sound just after it.
        if (lastness(index) == Lastness::Unknown && segment->nextFeed >= segment->feedTo &&
            m_submitted < m_plan.decisionPoint(index))
            return true;
    }
    return false;
}

void SegmentedAacEncoder::releaseFrames() {
    std::int64_t needed = m_submitted;
    if (!m_single && (m_nextSegment == 0 || lastness(m_nextSegment - 1) != Lastness::Yes))
        needed = std::min(needed, m_plan.firstFed(m_nextSegment));
    for (const auto &[index, segment] : m_segments)
        if (!segment->done && !abandoned(*segment))
            needed = std::min(needed, segment->nextFeed);
    while (m_storeBase < needed && !m_store.empty()) {
        m_store.pop_front();
        ++m_storeBase;
    }
}

int SegmentedAacEncoder::submit(FramePtr frame) {
    if (!frame)
        return AVERROR(EINVAL);
    std::unique_lock lock(m_mutex);
    if (m_cancelled)
        return 0; // stopped: the frame is dropped
    if (m_error < 0)
        return m_error;
    if (m_finished || m_shortFrameSeen || frame->nb_samples <= 0 || frame->nb_samples > kFrameSamples)
        return AVERROR(EINVAL); // only the last frame may be short
    const std::int64_t expectedPts = m_submitted * kFrameSamples;
    if (frame->pts == AV_NOPTS_VALUE)
        frame->pts = expectedPts;
    if (frame->pts != expectedPts)
        return AVERROR(EINVAL);

    if (!m_filling || !needsFrames(kFillAheadFrames)) {
        m_filling = false;
        m_producerWaiting = true;
        m_producerChanged.wait(lock, [this] { return m_cancelled || m_error < 0 || needsFrames(kWakeAheadFrames); });
        m_producerWaiting = false;
        m_filling = true;
    }
    if (m_cancelled)
        return 0;
    if (m_error < 0)
        return m_error;
    const bool shortFrame = frame->nb_samples < kFrameSamples;
    try {
        m_store.push_back(std::move(frame));
    } catch (const std::bad_alloc &) {
        fail(AVERROR(ENOMEM));
        return m_error;
    }
    ++m_submitted;
    m_peakBuffered = std::max<std::int64_t>(m_peakBuffered, std::int64_t(m_store.size()));
    m_shortFrameSeen = shortFrame;
    splice(); // more sound may have decided a seam
    // Workers that wait for sound said how much they need: waking them for
    // every frame before that would only put them back to sleep.
    const bool wakeWorkers = m_submitted >= m_wakeWorkersAt;
    if (wakeWorkers)
        m_wakeWorkersAt = kNever;
    lock.unlock();
    if (wakeWorkers)
        m_workersChanged.notify_all();
    return 0;
}

void SegmentedAacEncoder::takePackets(std::vector<PacketPtr> &packets) {
    std::lock_guard lock(m_mutex);
    m_splicer.takeReady(packets);
}

int SegmentedAacEncoder::finish() {
    {
        std::unique_lock lock(m_mutex);
        m_finished = true;
        splice();
        m_workersChanged.notify_all();
        m_producerChanged.wait(lock, [this] { return m_splicer.complete() || m_error < 0 || m_cancelled; });
        m_closing = true;
    }
    m_workersChanged.notify_all();
    stopThreads();
    std::lock_guard lock(m_mutex);
    closeHandedOnEncoders(); // the threads are gone: nobody else touches them
    return m_error;
}

void SegmentedAacEncoder::cancel() {
    {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
    }
    m_workersChanged.notify_all();
    m_producerChanged.notify_all();
    stopThreads();
}

int SegmentedAacEncoder::error() {
    std::lock_guard lock(m_mutex);
    return m_error;
}

std::int64_t SegmentedAacEncoder::peakBufferedFrames() {
    std::lock_guard lock(m_mutex);
    return m_peakBuffered;
}

std::vector<SegmentedAacEncoder::Seam> SegmentedAacEncoder::seams() {
    std::lock_guard lock(m_mutex);
    return m_splicer.seams();
}

void SegmentedAacEncoder::stopThreads() {
    std::lock_guard lock(m_joinMutex); // cancel() and finish() may meet here
    for (std::thread &thread : m_threads)
        if (thread.joinable())
            thread.join();
}

void SegmentedAacEncoder::fail(int result) {
    if (m_error == 0)
        m_error = result;
    m_workersChanged.notify_all();
    m_producerChanged.notify_all();
}

// Closes the encoders no segment went on with: flushed first, so that none
// closes with sound left in it.
void SegmentedAacEncoder::closeHandedOnEncoders() {
    for (auto &[index, encoder] : m_handedOn) {
        if (avcodec_send_frame(encoder.get(), nullptr) >= 0) {
            PacketPtr packet(av_packet_alloc());
            while (packet && avcodec_receive_packet(encoder.get(), packet.get()) >= 0)
                av_packet_unref(packet.get()); // past the post-roll: not needed
        }
        encoder.reset();
    }
    m_handedOn.clear();
}

std::shared_ptr<EncodedSegment> SegmentedAacEncoder::segmentToResume() const {
    for (const auto &[index, segment] : m_segments)
        if (segment->resume)
            return segment;
    return nullptr;
}

bool SegmentedAacEncoder::workLeft() const {
    if (m_nextSegment == 0 || (!m_single && lastness(m_nextSegment - 1) != Lastness::Yes))
        return true; // segments still to come
    for (const auto &[index, segment] : m_segments)
        if (segment->parked || segment->resume)
            return true; // a seam may still ask for more post-roll
    return false;
}

void SegmentedAacEncoder::runWorker() {
    for (;;) {
        std::shared_ptr<EncodedSegment> segment;
        CodecContextPtr encoder;
        {
            std::unique_lock lock(m_mutex);
            m_workersChanged.wait(lock, [&] {
                return m_cancelled || m_closing || m_error < 0 || segmentToResume() || mayDispatch() || !workLeft();
            });
            if (m_cancelled || m_error < 0)
                return; // the encoders still held are closed with the object
            if ((segment = segmentToResume())) {
                segment->resume = false;
                encoder = std::move(segment->encoder);
                ++m_running;
            } else if (mayDispatch()) {
                try {
                    segment = std::make_shared<EncodedSegment>();
                    segment->index = m_nextSegment;
                    const std::int64_t start = m_plan.nominalStart(segment->index);
                    segment->firstFed = m_plan.firstFed(segment->index);
                    segment->nextFeed = segment->firstFed;
                    segment->keepFrom = segment->index == 0 ? -1 : start - m_plan.backSearch();
                    segment->feedTo = start + m_plan.segmentFrames + m_plan.postrollFrames;
                    m_segments[segment->index] = segment;
                } catch (const std::bad_alloc &) {
                    fail(AVERROR(ENOMEM));
                    return;
                }
                // The encoder of the segment one round earlier goes on with
                // this one (the first round's are fresh): by the segment,
                // not by whichever thread is free, so that every run of the
                // same sound on as many threads gives the same stream.
                const std::int64_t lineage = segment->index - m_threadLimit;
                for (auto handed = m_handedOn.begin(); handed != m_handedOn.end() && handed->first <= lineage;) {
                    if (handed->first == lineage)
                        encoder = std::move(handed->second);
                    handed = m_handedOn.erase(handed); // an older one has no segment left: closed here
                }
                ++m_nextSegment;
                ++m_running;
            } else {
                return; // closing, or no work left
            }
        }
        m_producerChanged.notify_all(); // the segment wants its sound

        int result;
        try {
            result = encodeSegment(segment, encoder);
        } catch (const std::bad_alloc &) {
            result = AVERROR(ENOMEM);
        }

        {
            std::lock_guard lock(m_mutex);
            --m_running;
            if (result < 0)
                fail(result);
            if (encoder && result >= 0 && !m_cancelled && !abandoned(*segment)) {
                // At the end of its post-roll, not knowing yet whether its
                // seam needs more: the encoder waits with the segment.
                segment->encoder = std::move(encoder);
                segment->parked = true;
            } else {
                segment->done = true;
            }
            if (abandoned(*segment))
                m_segments.erase(segment->index);
            releaseFrames();
            splice();
        }
        encoder.reset();
        m_workersChanged.notify_all();
        m_producerChanged.notify_all();
    }
}

void SegmentedAacEncoder::splice() {
    SeamSplicer::Step step;
    const int result = m_splicer.splice(
        m_segments, [this](std::int64_t index) { return lastness(index); }, m_handedOn, m_cancelled, step);
    if (result < 0)
        fail(result);
    if (step.seamDecided || step.widened)
        m_workersChanged.notify_all();
    if (step.seamDecided)
        m_producerChanged.notify_all(); // room for one more segment in flight
}

} // namespace melvora
