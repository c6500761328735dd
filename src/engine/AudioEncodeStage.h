#pragma once

#include "engine/FFmpegHandles.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace melvora {

// Runs an audio encoder on a thread of its own, so that decoding, resampling
// and mixing go on beside the encoder instead of before it. Frames go in, in
// order, through a small bounded queue; packets come out in the order the
// encoder gives them. The encoder sees exactly the frames it would see if it
// ran on the caller's thread, so its packets are the same.
class AudioEncodeStage {
public:
    AudioEncodeStage(AVCodecContext *encoder, std::size_t capacity);
    ~AudioEncodeStage();
    AudioEncodeStage(const AudioEncodeStage &) = delete;
    AudioEncodeStage &operator=(const AudioEncodeStage &) = delete;

    // Queues a frame, waiting while the queue is full. Returns the encoder's
    // first error instead, once there was one.
    int submit(FramePtr frame);

    // Moves the packets ready so far to the end of packets, without waiting.
    void takePackets(std::vector<PacketPtr> &packets);

    // Waits until every queued frame went through the encoder.
    void drain();

    // The encoder's first error, or 0.
    int error();

private:
    void run();

    AVCodecContext *m_encoder;
    std::size_t m_capacity;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<FramePtr> m_frames;
    std::vector<PacketPtr> m_packets;
    bool m_busy = false;
    bool m_submitterWaiting = false;
    bool m_closing = false;
    int m_error = 0;
    std::thread m_thread;
};

} // namespace melvora
