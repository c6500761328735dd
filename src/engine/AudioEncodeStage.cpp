#include "engine/AudioEncodeStage.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace melvora {

AudioEncodeStage::AudioEncodeStage(AVCodecContext *encoder, std::size_t capacity)
    : m_encoder(encoder), m_capacity(capacity), m_thread([this] { run(); }) {}

AudioEncodeStage::~AudioEncodeStage() {
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

int AudioEncodeStage::submit(FramePtr frame) {
    std::unique_lock lock(m_mutex);
    if (m_frames.size() >= m_capacity) {
        // A full queue waits until half of it is encoded, so that the two
        // threads do not wake each other for every single frame.
        m_submitterWaiting = true;
        m_changed.wait(lock, [this] { return m_frames.size() <= m_capacity / 2 || m_error < 0; });
        m_submitterWaiting = false;
    }
    if (m_error < 0)
        return m_error;
    const bool wasEmpty = m_frames.empty();
    m_frames.push_back(std::move(frame));
    lock.unlock();
    if (wasEmpty)
        m_changed.notify_all(); // the encoder may be waiting for work
    return 0;
}

void AudioEncodeStage::takePackets(std::vector<PacketPtr> &packets) {
    std::lock_guard lock(m_mutex);
    for (PacketPtr &packet : m_packets)
        packets.push_back(std::move(packet));
    m_packets.clear();
}

void AudioEncodeStage::drain() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return (m_frames.empty() && !m_busy) || m_error < 0; });
}

int AudioEncodeStage::error() {
    std::lock_guard lock(m_mutex);
    return m_error;
}

void AudioEncodeStage::run() {
    std::vector<PacketPtr> produced;
    for (;;) {
        FramePtr frame;
        {
            std::unique_lock lock(m_mutex);
            m_busy = false;
            if (m_frames.empty()) {
                m_changed.notify_all(); // a drain may be waiting for this moment
                m_changed.wait(lock, [this] { return !m_frames.empty() || m_closing; });
                if (m_frames.empty())
                    return; // closing, and nothing left to encode
            }
            frame = std::move(m_frames.front());
            m_frames.pop_front();
            m_busy = true;
            if (m_submitterWaiting && m_frames.size() <= m_capacity / 2)
                m_changed.notify_all(); // room in the queue
        }

        int result = avcodec_send_frame(m_encoder, frame.get());
        while (result >= 0) {
            PacketPtr packet(av_packet_alloc());
            if (!packet) {
                result = AVERROR(ENOMEM);
                break;
            }
            result = avcodec_receive_packet(m_encoder, packet.get());
            if (result >= 0)
                produced.push_back(std::move(packet));
        }
        std::lock_guard lock(m_mutex);
        for (PacketPtr &packet : produced)
            m_packets.push_back(std::move(packet));
        produced.clear();
        if (result < 0 && result != AVERROR(EAGAIN) && result != AVERROR_EOF && m_error == 0) {
            m_error = result;
            m_changed.notify_all(); // a waiting submit or drain returns the error
        }
    }
}

} // namespace melvora
