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
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace melvora {

class LoudnessMeter;
class MixPreviewPlanner;
struct PlannedMusic;

inline constexpr int kPreviewSampleRate = 44100;
// Levels are kept per step of this many samples (10 ms).
inline constexpr int kPreviewStepSamples = 441;
// The sketch that the picture shows first runs the same graphs at this
// fraction of the rate (4900 Hz, a step of 49 samples).
inline constexpr int kSketchRateDivisor = 9;
inline constexpr int kSketchSampleRate = kPreviewSampleRate / kSketchRateDivisor;

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
    // What every sketch of the session takes, made once on first need: the
    // own sound and the music feed's sound at the sketch's rate.
    struct SketchSources;
    std::shared_ptr<SketchSources> sketchSources;
    // With --fit or the loop at the song's seams: the run's plan of the
    // song, made on a thread of its own, the latest plans kept.
    std::shared_ptr<MixPreviewPlanner> planner;

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
// ducking). What is done can be read while the rest is made. A fitted song
// or one looped at its own seams is first planned as the run plans it, and
// the feed plays that plan. On a second
// thread the same graphs make a sketch of the whole at a ninth of the rate,
// which the picture shows until the mix itself is done. With a loudness
// target both are measured and brought to it as a run brings its mix.
class MixPreviewRender {
public:
    // soundFirst: the mix starts at once beside the sketch rather than
    // after it, for a preview that is playing.
    MixPreviewRender(std::shared_ptr<const MixPreviewInputs> inputs, const MixSettings &settings,
                     bool soundFirst = false);
    ~MixPreviewRender(); // stops the thread and waits for it
    MixPreviewRender(const MixPreviewRender &) = delete;
    MixPreviewRender &operator=(const MixPreviewRender &) = delete;

    struct Levels {
        std::vector<float> music;    // RMS per step of the music as laid
        std::vector<float> mix;      // RMS per step of the mix
        std::vector<float> loudness; // momentary loudness of the mix (LUFS over 400 ms) per step
        bool sketch = false;         // from the sketch, not yet from the mix itself
        // With a loudness target: the mix as it is, the gain that brings it
        // there and what the mix with the gain measures (once made).
        std::optional<double> targetLufs;
        std::optional<double> measuredLufs;
        std::optional<double> gainDb;
        std::optional<double> reachedLufs;
        // Where a planned song jumps or loops, in seconds of the video.
        std::vector<double> seamSeconds;
    };
    // What the picture shows: the mix once it is done, before that the
    // sketch once it is, else the steps of the mix done so far.
    Levels levels() const;
    // The sketch's alone, once made.
    Levels sketchLevels() const;
    // Grows whenever levels() would give something new.
    std::uint64_t changes() const;
    bool sketchFinished() const;
    // Samples of the mix's current pass made so far (with a loudness target
    // a mix takes two passes or more), and whether the render is over (done
    // or failed).
    std::int64_t doneSamples() const;
    bool finished() const;
    // 0, or the FFmpeg error that ended the render, with its reason.
    int result(std::string *error = nullptr) const;
    // Blocks until the render is over; for tests and the command line.
    void wait() const;
    // Ends the making early (the threads end within a chunk); what is made
    // stays readable.
    void stopMaking();
    // The mix starts now if it still waits for the sketch: Play was pressed.
    void hurrySound();
    // Play was pressed at this sample. Where the mix is not made that far
    // (nor about to be), a second pass makes it from a little before the
    // point, by the same feed and graph and with the gain of the pass under
    // way (with a loudness target: once a pass has one), and keeps it from
    // the point on; the mix from the start goes on for the picture, held
    // back until that pass is a few seconds ahead. A later call takes the
    // place of an earlier one's pass. Hurries the sound as well.
    void playFrom(std::int64_t sample);
    // What the pass from the point made so far (as readMixed), for tests
    // and the bench.
    std::int64_t readAhead(std::int64_t fromSample, std::int64_t count, std::int16_t *into) const;
    // The song's plan is being made (with --fit or the loop at its seams).
    bool planning() const;
    // What the run says when it finds no plan and goes on without; "" else.
    std::string planWarning() const;

    // Copies at most count frames of the mix (interleaved stereo, 16 bits)
    // from fromSample on, as far as it is made; the frames copied. While a
    // loudness target is measured, that is the latest pass's mix as far as
    // it got and the one before it beyond. Where the pass from a point has
    // made more, its samples come before an earlier pass's.
    std::int64_t readMixed(std::int64_t fromSample, std::int64_t count, std::int16_t *into) const;

    const MixSettings &settings() const { return m_settings; }

    struct Block;

    struct Meter;

private:
    void run();
    void runSketch();
    // The settings as the run applies them, and the song's plan when they take one.
    int applySettings(MixSettings &applied, std::shared_ptr<const PlannedMusic> &planned);
    int renderPass(const MixSettings &applied, const std::shared_ptr<const PlannedMusic> &planned,
                   std::optional<double> gainDb, LoudnessMeter *whole);
    int appendBlock(const Block &block, Meter &meter, bool keepSamples);
    void runAhead(std::int64_t point);
    int makeAhead(std::int64_t point, const MixSettings &settings, const std::shared_ptr<const PlannedMusic> &planned);
    std::int64_t copyAhead(std::int64_t fromSample, std::int64_t count, std::int16_t *into) const;

    std::shared_ptr<const MixPreviewInputs> m_inputs;
    MixSettings m_settings;
    std::shared_ptr<MixPreviewPlanner> m_planner;
    bool m_soundFirst; // guarded by m_mutex
    std::atomic<std::uint8_t> m_stop{0};

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_over;
    Levels m_levels; // of the mix's pass under way, as far as it got
    Levels m_sketch;
    Levels m_final; // the mix's own, once done
    std::uint64_t m_changes = 0;
    std::unique_ptr<std::int16_t[]> m_mixed;
    std::int64_t m_done = 0;
    std::int64_t m_readable = 0; // samples in m_mixed from this pass or an earlier one
    bool m_finished = false;
    bool m_sketchFinished = false;
    int m_planning = 0; // threads waiting for the song's plan
    std::vector<double> m_seams;
    std::string m_planWarning;
    int m_result = 0;
    std::string m_error;
    // The pass under way, as the pass from a point makes it too.
    std::optional<MixSettings> m_passSettings;
    std::shared_ptr<const PlannedMusic> m_passPlanned;
    // The pass from a point: its samples from m_aheadFrom, m_aheadDone of
    // them made; while it makes them, the mix from the start waits for its
    // lead.
    std::unique_ptr<std::int16_t[]> m_ahead;
    std::int64_t m_aheadFrom = 0;
    std::int64_t m_aheadDone = 0;
    bool m_aheadMaking = false;
    bool m_aheadWaiting = false; // for the pass whose mix it makes too
    // Whether the pass from a point makes the mix of a pass with these settings.
    static bool aheadTakes(const MixSettings &settings);
    std::atomic<std::uint8_t> m_aheadStop{0};

    std::thread m_sketchThread;
    std::thread m_thread;
    std::thread m_aheadThread;
};

} // namespace melvora
