#pragma once

// The mix preview: one decoding pass over the video's own sound and the
// music, kept for the session, and the mix made from it by the run's own
// graphs and music feed, for the mix dialog's picture and play button. No
// FFmpeg in this header: the window includes it.

#include "engine/MixSettings.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace melvora {

inline constexpr int kPreviewSampleRate = 44100;
// Levels are kept per step of this many samples (10 ms).
inline constexpr int kPreviewStepSamples = 441;

// What the decoding pass leaves. The own sound is kept mono in 16 bits at
// 44100 Hz: enough to key the ducking and to be heard, at a quarter of what
// float stereo would take (53 MB for ten minutes).
struct MixPreviewInputs {
    std::string videoPath;
    std::string musicPath;
    double videoSeconds = 0;
    bool hasOwnSound = false;
    double musicLoudnessLufs = -70; // integrated, for a loudness target
    std::vector<float> ownLevels;   // RMS per step, full scale 1
    std::vector<std::int16_t> ownSound;

    std::int64_t videoSamples() const;
};

// Decodes the video's own sound (the track the run mixes) and measures the
// music once. Returns 0 or an FFmpeg error with its reason in error. The
// stop flag, when given, ends the pass early with AVERROR_EXIT.
int analyseMixPreview(const std::string &videoPath, const std::string &musicPath, MixPreviewInputs &inputs,
                      std::string &error, const std::atomic<std::uint8_t> *stopFlag = nullptr);

// The mix of one set of settings over the whole video, made on a thread of
// its own from the start, as the run makes it: the music feed, the mix
// graph, and beside it the music as the mix lays it (fades, delay, seams,
// ducking). What is done can be read while the rest is made.
class MixPreviewRender {
public:
    MixPreviewRender(std::shared_ptr<const MixPreviewInputs> inputs, const MixSettings &settings);
    ~MixPreviewRender(); // stops the thread and waits for it
    MixPreviewRender(const MixPreviewRender &) = delete;
    MixPreviewRender &operator=(const MixPreviewRender &) = delete;

    struct Levels {
        std::vector<float> music;    // RMS per step of the music as laid
        std::vector<float> mix;      // RMS per step of the mix
        std::vector<float> loudness; // momentary loudness of the mix (LUFS over 400 ms) per step
    };
    // The levels of the steps done so far.
    Levels levels() const;
    // Samples made so far, and whether the render is over (done or failed).
    std::int64_t doneSamples() const;
    bool finished() const;
    // 0, or the FFmpeg error that ended the render, with its reason.
    int result(std::string *error = nullptr) const;
    // Blocks until the render is over; for tests and the command line.
    void wait() const;

    // Copies at most count frames of the mix (interleaved stereo, 16 bits)
    // from fromSample on, as far as it is made; the frames copied.
    std::int64_t readMixed(std::int64_t fromSample, std::int64_t count, std::int16_t *into) const;

    const MixSettings &settings() const { return m_settings; }

    struct Block;

private:
    void run();
    int appendBlock(const Block &block);

    std::shared_ptr<const MixPreviewInputs> m_inputs;
    MixSettings m_settings;
    std::atomic<std::uint8_t> m_stop{0};

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_over;
    Levels m_levels;
    std::vector<std::int16_t> m_mixed;
    std::int64_t m_done = 0;
    bool m_finished = false;
    int m_result = 0;
    std::string m_error;

    struct Meter;
    std::unique_ptr<Meter> m_meter; // used by the render thread only
    std::thread m_thread;
};

} // namespace melvora
