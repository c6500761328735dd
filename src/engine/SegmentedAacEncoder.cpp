#include "engine/SegmentedAacEncoder.h"

#include <algorithm>
#include <limits>
#include <new>
#include <system_error>

namespace melvora {
namespace {

constexpr int kFrameSamples = 1024;
constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
// The mixer is woken when an encoder has fewer frames than this ahead of
// it, and then runs until every encoder has the larger figure ahead: waking
// it for every frame would cost a context switch per frame on each core.
constexpr std::int64_t kWakeAheadFrames = 24;
constexpr std::int64_t kFillAheadFrames = 128;
// Frames a worker takes from the store under one lock.
constexpr std::int64_t kFeedBatchFrames = 8;

// Frame index of a packet: the encoder's priming packet (pts -1024) is -1.
std::int64_t frameOfPacket(const AVPacket *packet) {
    const std::int64_t pts = packet->pts;
    return pts >= 0 ? pts / kFrameSamples : -((-pts + kFrameSamples - 1) / kFrameSamples);
}

// At least two frames of post-roll; a seam that needs more widens it.
SegmentedAacEncoder::Plan normalized(SegmentedAacEncoder::Plan plan) {
    plan.prerollFrames = std::max(0, plan.prerollFrames);
    plan.postrollFrames = std::max(2, plan.postrollFrames);
    return plan;
}

} // namespace

SegmentedAacEncoder::Plan SegmentedAacEncoder::defaultPlan() {
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
    return Plan{862, 16, 4};
}

SegmentedAacEncoder::Plan SegmentedAacEncoder::balancedPlan(std::int64_t totalFrames, int threads) {
    Plan plan = defaultPlan();
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

SegmentedAacEncoder::SegmentedAacEncoder(EncoderFactory factory, int threads, Plan plan)
    : m_factory(std::move(factory)), m_plan(normalized(plan)),
      m_single(threads <= 1 || plan.segmentFrames <= 0 || plan.segmentFrames < 2 * normalized(plan).postrollFrames),
      m_backSearch(std::max(0, plan.prerollFrames / 2)) {
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

std::int64_t SegmentedAacEncoder::nominalStart(std::int64_t segmentIndex) const {
    return segmentIndex * std::int64_t(m_plan.segmentFrames);
}

// The first segment is the last one when the stream ends within two
// segments: a short stream is one encoder's. A later one is the last when
// the stream ends before a little more than its post-roll: a short tail
// joins it. Learning that takes only sound just past the segment's end.
std::int64_t SegmentedAacEncoder::decisionPoint(std::int64_t segmentIndex) const {
    const std::int64_t tail = segmentIndex == 0 ? m_plan.segmentFrames : 2 * m_plan.postrollFrames;
    return nominalStart(segmentIndex + 1) + tail;
}

std::int64_t SegmentedAacEncoder::firstFedOf(std::int64_t segmentIndex) const {
    return segmentIndex == 0 ? 0 : std::max<std::int64_t>(0, nominalStart(segmentIndex) - m_plan.prerollFrames);
}

SegmentedAacEncoder::Last SegmentedAacEncoder::lastness(std::int64_t segmentIndex) const {
    if (m_single)
        return Last::Yes;
    if (m_submitted >= decisionPoint(segmentIndex))
        return Last::No;
    return m_finished ? Last::Yes : Last::Unknown;
}

bool SegmentedAacEncoder::abandoned(const Segment &segment) const {
    return segment.index > 0 && lastness(segment.index - 1) == Last::Yes;
}

std::int64_t SegmentedAacEncoder::feedLimit(const Segment &segment) const {
    if (lastness(segment.index) == Last::No)
        return segment.feedTo;
    return kNever; // until the stream ends, or until it is known that more follows
}

bool SegmentedAacEncoder::mayDispatch() const {
    if (m_cancelled || m_closing || m_error < 0 || m_running >= m_threadLimit)
        return false;
    if (m_nextSegment > 0 && (m_single || lastness(m_nextSegment - 1) == Last::Yes))
        return false;
    // At most one segment per thread between the oldest unspliced one and
    // the newest, so that the sound kept for them stays bounded.
    // Two at least, because a seam waits for the segment after it.
    return m_nextSegment < m_outputSegment + std::max(2, m_threadLimit);
}

bool SegmentedAacEncoder::needsFrames(std::int64_t ahead) const {
    if (m_finished || m_shortFrameSeen)
        return false;
    // A segment about to start wants the sound from its pre-roll on.
    if (mayDispatch() && m_submitted < firstFedOf(m_nextSegment) + ahead)
        return true;
    for (const auto &[index, segment] : m_segments) {
        if (segment->done || segment->parked || abandoned(*segment))
            continue;
        if (segment->nextFeed + ahead > m_submitted)
            return true;
        // Past its own end but not knowing whether more follows: the answer
        // lies in the sound just after it.
        if (lastness(index) == Last::Unknown && segment->nextFeed >= segment->feedTo &&
            m_submitted < decisionPoint(index))
            return true;
    }
    return false;
}

void SegmentedAacEncoder::releaseFrames() {
    std::int64_t needed = m_submitted;
    if (!m_single && (m_nextSegment == 0 || lastness(m_nextSegment - 1) != Last::Yes))
        needed = std::min(needed, firstFedOf(m_nextSegment));
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
    for (PacketPtr &packet : m_ready)
        packets.push_back(std::move(packet));
    m_ready.clear();
}

int SegmentedAacEncoder::finish() {
    {
        std::unique_lock lock(m_mutex);
        m_finished = true;
        splice();
        m_workersChanged.notify_all();
        m_producerChanged.wait(lock, [this] { return m_complete || m_error < 0 || m_cancelled; });
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

std::int64_t SegmentedAacEncoder::bufferedFramesBound(int threads, Plan plan) {
    plan = normalized(plan);
    if (threads <= 1 || plan.segmentFrames < 2 * plan.postrollFrames)
        return kFillAheadFrames + 1;
    // mayDispatch keeps at most this many segments between the oldest one
    // not yet spliced and the newest; the mixer fills up to kFillAheadFrames
    // past the newest one's next frame.
    const std::int64_t inFlight = std::max(2, threads);
    return inFlight * plan.segmentFrames + plan.prerollFrames + plan.postrollFrames + kFillAheadFrames + 1;
}

std::vector<SegmentedAacEncoder::Seam> SegmentedAacEncoder::seams() {
    std::lock_guard lock(m_mutex);
    return m_seams;
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

std::shared_ptr<SegmentedAacEncoder::Segment> SegmentedAacEncoder::segmentToResume() const {
    for (const auto &[index, segment] : m_segments)
        if (segment->resume)
            return segment;
    return nullptr;
}

bool SegmentedAacEncoder::workLeft() const {
    if (m_nextSegment == 0 || (!m_single && lastness(m_nextSegment - 1) != Last::Yes))
        return true; // segments still to come
    for (const auto &[index, segment] : m_segments)
        if (segment->parked || segment->resume)
            return true; // a seam may still ask for more post-roll
    return false;
}

void SegmentedAacEncoder::runWorker() {
    for (;;) {
        std::shared_ptr<Segment> segment;
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
                    segment = std::make_shared<Segment>();
                    segment->index = m_nextSegment;
                    const std::int64_t start = nominalStart(segment->index);
                    segment->firstFed = firstFedOf(segment->index);
                    segment->nextFeed = segment->firstFed;
                    segment->keepFrom = segment->index == 0 ? -1 : start - m_backSearch;
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

// Feeds the segment's frames to its encoder (a fresh one, or the one it
// parked), from where it stopped to the end of its post-roll, or to the end
// of the stream (then flushing) when it is the last. Leaves the encoder in
// place when it stopped at its post-roll, and releases it otherwise.
int SegmentedAacEncoder::encodeSegment(const std::shared_ptr<Segment> &segment, CodecContextPtr &encoder) {
    int result = 0;
    if (!encoder) {
        result = m_factory(encoder);
        if (result < 0)
            return result;
        if (!encoder)
            return AVERROR(EINVAL);
    }

    std::vector<CodedFrame> coded;
    const auto receiveAll = [&]() {
        for (;;) {
            PacketPtr packet(av_packet_alloc());
            if (!packet)
                return AVERROR(ENOMEM);
            const int received = avcodec_receive_packet(encoder.get(), packet.get());
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
                return 0;
            if (received < 0)
                return received;
            CodedFrame frame{frameOfPacket(packet.get()), readAacFrameWindow(packet->data, packet->size),
                             std::move(packet)};
            coded.push_back(std::move(frame));
        }
    };

    // Copies of the store's frames, sharing their buffers. They are dropped
    // only under the lock, so that whichever thread lets a buffer go last
    // does so after the encoder here has read it, by an order that every
    // thread (and the thread checker) sees, not only the buffer's own count.
    std::vector<FramePtr> batch;
    batch.reserve(kFeedBatchFrames);
    for (std::int64_t index = segment->nextFeed;;) {
        {
            std::unique_lock lock(m_mutex);
            // At the end of its post-roll a segment waits to learn whether
            // it is the last (the sound just after it tells) rather than
            // encode more on the chance.
            const auto mayFeed = [&](std::int64_t frame) {
                return frame < m_submitted && (frame < segment->feedTo || lastness(segment->index) == Last::Yes);
            };
            const auto mustPark = [&] { return index >= feedLimit(*segment); };
            const auto streamEnded = [&] { return m_finished && index >= m_submitted; };
            m_workersChanged.wait(lock, [&] {
                if (m_cancelled || m_error < 0 || abandoned(*segment) || mayFeed(index) || mustPark() ||
                    streamEnded())
                    return true;
                // Waiting for the next frame, or past the post-roll for the
                // sound that tells whether this segment is the last.
                const bool pastPostroll = index >= segment->feedTo && lastness(segment->index) != Last::Yes;
                m_wakeWorkersAt = std::min(m_wakeWorkersAt, pastPostroll ? decisionPoint(segment->index) : index + 1);
                return false;
            });
            if (m_cancelled || m_error < 0 || abandoned(*segment)) {
                encoder.reset();
                return 0;
            }
            if (mustPark())
                return 0;
            if (streamEnded())
                break; // this segment is the last
            const std::int64_t limit = feedLimit(*segment);
            for (std::int64_t frame = index; std::int64_t(batch.size()) < kFeedBatchFrames && frame < limit &&
                                             mayFeed(frame);
                 ++frame) {
                batch.emplace_back(av_frame_clone(m_store[std::size_t(frame - m_storeBase)].get()));
                if (!batch.back()) {
                    batch.clear();
                    return AVERROR(ENOMEM);
                }
            }
            index += std::int64_t(batch.size());
            segment->nextFeed = index;
            releaseFrames();
            if (m_producerWaiting && needsFrames(kWakeAheadFrames))
                m_producerChanged.notify_all();
        }
        for (const FramePtr &frame : batch) {
            result = avcodec_send_frame(encoder.get(), frame.get());
            if (result >= 0)
                result = receiveAll();
            if (result < 0)
                break;
        }
        if (result < 0) {
            std::lock_guard lock(m_mutex);
            batch.clear();
            return result;
        }
        publish(*segment, coded, batch);
    }
    result = avcodec_send_frame(encoder.get(), nullptr);
    if (result < 0)
        return result;
    result = receiveAll();
    if (result < 0)
        return result;
    publish(*segment, coded, batch);
    encoder.reset();
    return 0;
}

void SegmentedAacEncoder::publish(Segment &segment, std::vector<CodedFrame> &coded, std::vector<FramePtr> &fed) {
    if (coded.empty() && fed.empty())
        return;
    bool progressed = false;
    {
        std::lock_guard lock(m_mutex);
        fed.clear();
        for (CodedFrame &frame : coded) {
            segment.producedTo = frame.frame;
            if (frame.frame >= segment.keepFrom)
                segment.coded.push_back(std::move(frame));
        }
        const std::size_t before = m_ready.size();
        splice();
        progressed = m_ready.size() != before || m_complete;
    }
    coded.clear();
    if (progressed)
        m_producerChanged.notify_all(); // finish() may be waiting
}

void SegmentedAacEncoder::emit(CodedFrame &coded) {
    if (coded.frame < m_outputFrom || m_complete)
        return;
    if (coded.frame != m_nextFrame) {
        // A segment cut short by a stop leaves a hole after it: the stream
        // ends before the hole, so what was spliced still plays on its own.
        // Anything else leaving one would be a fault, and fails the stream.
        if (!m_cancelled)
            fail(AVERROR_BUG);
        m_complete = true;
        return;
    }
    try {
        m_ready.push_back(std::move(coded.packet));
        ++m_nextFrame;
    } catch (const std::bad_alloc &) {
        fail(AVERROR(ENOMEM)); // a gap would go unnoticed: the stream fails instead
    }
}

// Moves to the output every packet that no seam can take back any more, and
// decides each seam as soon as both of its encoders have passed it.
void SegmentedAacEncoder::splice() {
    for (;;) {
        const auto found = m_segments.find(m_outputSegment);
        if (found == m_segments.end() || m_complete)
            return;
        Segment &left = *found->second;
        const Last last = lastness(left.index);
        const std::int64_t boundary = nominalStart(left.index + 1);
        const std::int64_t settled = last == Last::Yes ? kNever : boundary - m_backSearch;
        while (!left.coded.empty() && left.coded.front().frame < settled) {
            emit(left.coded.front());
            left.coded.pop_front();
        }
        if (last == Last::Yes) {
            m_complete = left.done;
            return;
        }
        if (last == Last::Unknown)
            return;
        const auto next = m_segments.find(left.index + 1);
        if (next == m_segments.end())
            return;
        Segment &right = *next->second;
        // The left encoder stops after its post-roll; the seam may lie as
        // late as its last packet, with the right encoder's next one after it.
        if (!(left.parked || left.done) || left.resume || (right.producedTo <= left.producedTo && !right.done))
            return;
        const std::int64_t overlapEnd = std::min(left.producedTo, right.producedTo - 1);

        // Both deques hold consecutive frames from the settled point on.
        const auto windowAt = [](const std::deque<CodedFrame> &frames, std::int64_t frame) -> const AacFrameWindow * {
            if (frames.empty() || frame < frames.front().frame)
                return nullptr;
            const std::size_t offset = std::size_t(frame - frames.front().frame);
            return offset < frames.size() && frames[offset].frame == frame ? &frames[offset].window : nullptr;
        };
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
        for (std::int64_t frame = boundary - 2; frame >= boundary - m_backSearch && !agreed; --frame)
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
            m_workersChanged.notify_all();
            return;
        }
        while (!left.coded.empty() && left.coded.front().frame <= lastLeft) {
            emit(left.coded.front());
            left.coded.pop_front();
        }
        m_seams.push_back(Seam{boundary * kFrameSamples, lastLeft * kFrameSamples, agreed});
        m_outputFrom = lastLeft + 1;
        ++m_outputSegment;
        if (left.encoder) {
            try {
                m_handedOn[left.index] = std::move(left.encoder);
            } catch (const std::bad_alloc &) {
                left.encoder.reset(); // closed at once, unflushed; the next one starts fresh
            }
        }
        left.parked = false;
        left.done = true;
        m_segments.erase(found); // its worker holds its own reference while it runs
        // Room for one more segment in flight.
        m_workersChanged.notify_all();
        m_producerChanged.notify_all();
    }
}

int openAacEncoderLike(const AVCodecContext *model, CodecContextPtr &encoder) {
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec)
        return AVERROR_ENCODER_NOT_FOUND;
    CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context)
        return AVERROR(ENOMEM);
    context->bit_rate = model->bit_rate;
    context->sample_fmt = model->sample_fmt;
    context->sample_rate = model->sample_rate;
    int result = av_channel_layout_copy(&context->ch_layout, &model->ch_layout);
    if (result < 0)
        return result;
    context->strict_std_compliance = model->strict_std_compliance;
    context->time_base = model->time_base;
    context->flags = model->flags;
    context->flags2 = model->flags2;
    context->profile = model->profile;
    result = avcodec_open2(context.get(), codec, nullptr);
    if (result < 0)
        return result;
    encoder = std::move(context);
    return 0;
}

} // namespace melvora
