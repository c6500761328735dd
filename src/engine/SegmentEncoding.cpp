// The part of the segmented encoder that runs on its threads: a segment's
// frames through its encoder, and its packets handed to the splice.

#include "engine/SegmentedAacEncoder.h"

#include <algorithm>
#include <limits>
#include <new>
#include <system_error>

namespace melvora {
namespace {

constexpr int kFrameSamples = 1024;
// Frames a worker takes from the store under one lock.
constexpr std::int64_t kFeedBatchFrames = 8;

// Frame index of a packet: the encoder's priming packet (pts -1024) is -1.
std::int64_t frameOfPacket(const AVPacket *packet) {
    const std::int64_t pts = packet->pts;
    return pts >= 0 ? pts / kFrameSamples : -((-pts + kFrameSamples - 1) / kFrameSamples);
}

} // namespace

// Feeds the segment's frames to its encoder (a fresh one, or the one it
// parked), from where it stopped to the end of its post-roll, or to the end
// of the stream (then flushing) when it is the last. Leaves the encoder in
// place when it stopped at its post-roll, and releases it otherwise.
int SegmentedAacEncoder::encodeSegment(const std::shared_ptr<EncodedSegment> &segment, CodecContextPtr &encoder) {
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
                return frame < m_submitted && (frame < segment->feedTo || lastness(segment->index) == Lastness::Yes);
            };
            const auto mustPark = [&] { return index >= feedLimit(*segment); };
            const auto streamEnded = [&] { return m_finished && index >= m_submitted; };
            m_workersChanged.wait(lock, [&] {
                if (m_cancelled || m_error < 0 || abandoned(*segment) || mayFeed(index) || mustPark() ||
                    streamEnded())
                    return true;
                // Waiting for the next frame, or past the post-roll for the
                // sound that tells whether this segment is the last.
                const bool pastPostroll = index >= segment->feedTo && lastness(segment->index) != Lastness::Yes;
                m_wakeWorkersAt = std::min(m_wakeWorkersAt, pastPostroll ? m_plan.decisionPoint(segment->index) : index + 1);
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

void SegmentedAacEncoder::publish(EncodedSegment &segment, std::vector<CodedFrame> &coded, std::vector<FramePtr> &fed) {
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
        const std::size_t before = m_splicer.readyCount();
        splice();
        progressed = m_splicer.readyCount() != before || m_splicer.complete();
    }
    coded.clear();
    if (progressed)
        m_producerChanged.notify_all(); // finish() may be waiting
}

} // namespace melvora
