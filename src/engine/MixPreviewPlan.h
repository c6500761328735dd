#pragma once

// The song's plan for the preview (--fit, or the loop at the song's own
// seams), made by the run's own fitMusic on a thread of the planner's own.
// The last two plans are kept, so that a setting toggled back is instant.
// Engine-internal; no FFmpeg in it, but the window has no need of it.

#include "engine/MixSettings.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace melvora {

struct MixJob;
struct PlannedMusic;

// What the run's fit step came to for one set of what it depends on.
struct MixPreviewPlan {
    std::shared_ptr<const PlannedMusic> planned; // null: the run goes on without a plan
    std::string warning;                         // the run's words when it found none
    // Where the song jumps or loops, in seconds of the output from the
    // music's first sample, as far as the video goes.
    std::vector<double> seamSeconds;
};

class MixPreviewPlanner {
public:
    MixPreviewPlanner(std::string musicPath, double videoSeconds, bool hasOwnSound);
    ~MixPreviewPlanner(); // abandons the planning under way and waits for it
    MixPreviewPlanner(const MixPreviewPlanner &) = delete;
    MixPreviewPlanner &operator=(const MixPreviewPlanner &) = delete;

    // Whether the settings (as applied, loudness resolved) take a plan.
    static bool needsPlan(const MixSettings &settings);

    // Blocks until the plan the settings need is made (at once when kept).
    // A planning for other settings still under way is abandoned. 0, or
    // AVERROR_EXIT once stop is seen, or the FFmpeg error of the planning
    // with its reason in error.
    int planFor(const MixSettings &settings, const std::atomic<std::uint8_t> &stop,
                std::shared_ptr<const MixPreviewPlan> &plan, std::string &error);

    // The settings a run plays with this plan: without one, as the run
    // falls back, whatever the settings' own fade-out now is.
    static MixSettings applied(const MixSettings &settings, const MixPreviewPlan &plan);

private:
    // What fitMusic's plan depends on besides the files.
    struct Key {
        double musicStartSeconds = 0;
        bool fit = false;
        double delaySeconds = 0; // a fit's span is the video less the delay
        friend bool operator==(const Key &, const Key &) = default;
    };
    static Key keyOf(const MixSettings &settings);
    std::shared_ptr<const MixPreviewPlan> kept(const Key &key) const;
    void work();
    int makePlan(const Key &key, MixJob &job, MixPreviewPlan &plan, std::string &error) const;

    const std::string m_musicPath;
    const double m_videoSeconds;
    const bool m_hasOwnSound;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<Key> m_wanted;
    MixJob *m_making = nullptr; // the planning under way, whose stop flag abandons it
    std::optional<Key> m_makingKey;
    std::vector<std::pair<Key, std::shared_ptr<const MixPreviewPlan>>> m_kept; // the latest first
    struct Failure {
        Key key;
        int result;
        std::string error;
    };
    std::optional<Failure> m_failure;
    bool m_closing = false;
    std::thread m_thread;
};

} // namespace melvora
