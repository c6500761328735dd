// The preview's plan of the song: the run's own fit step (fitMusic on a
// MixRun set up as a run sets it up) on the planner's thread, one planning
// at a time, the latest wish first.

#include "engine/MixPreviewPlan.h"

#include "engine/MixGraphs.h"
#include "engine/MixSteps.h"

#include <algorithm>
#include <chrono>

namespace melvora {
namespace {

// Plans kept besides the one in use: toggling a setting back finds its plan.
constexpr std::size_t kKeptPlans = 2;
// How often a waiting render looks at its own stop flag.
constexpr auto kStopLook = std::chrono::milliseconds(20);

// Where the seams of the plan fall in its output, as far as horizon: the
// crossfades are centred on the ends of the spans, and the stretches before
// a seam move it by what they add.
std::vector<double> seamsOf(const PlannedMusic &planned, std::int64_t horizon) {
    const SpanSequence &sequence = planned.sequence;
    std::vector<std::int64_t> positions;
    std::int64_t at = 0;
    for (std::size_t k = 0; k + 1 < sequence.spans.size(); ++k) {
        at += sequence.spans[k].to - sequence.spans[k].from;
        positions.push_back(at);
    }
    if (sequence.repeatLast && !sequence.spans.empty()) {
        const std::int64_t loop = sequence.spans.back().to - sequence.spans.back().from;
        for (at += loop; loop > 0 && at < horizon; at += loop)
            positions.push_back(at);
    }
    std::vector<double> seconds;
    for (std::int64_t position : positions) {
        std::int64_t output = position;
        for (const ReplacedStretch &stretch : planned.stretched)
            if (stretch.to <= position)
                output += std::int64_t(stretch.left.size()) - (stretch.to - stretch.from);
        if (output < horizon)
            seconds.push_back(double(output) / kOutputSampleRate);
    }
    return seconds;
}

} // namespace

MixPreviewPlanner::MixPreviewPlanner(std::string musicPath, double videoSeconds, bool hasOwnSound)
    : m_musicPath(std::move(musicPath)), m_videoSeconds(videoSeconds), m_hasOwnSound(hasOwnSound) {}

MixPreviewPlanner::~MixPreviewPlanner() {
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
        if (m_making)
            m_making->stopRequested = 1;
        m_changed.notify_all();
    }
    if (m_thread.joinable())
        m_thread.join();
}

bool MixPreviewPlanner::needsPlan(const MixSettings &settings) {
    return settings.fit || (settings.loop && settings.loopAtSeams);
}

MixPreviewPlanner::Key MixPreviewPlanner::keyOf(const MixSettings &settings) {
    Key key;
    key.musicStartSeconds = settings.musicStartSeconds;
    key.fit = settings.fit;
    key.delaySeconds = settings.fit ? settings.delaySeconds : 0;
    return key;
}

MixSettings MixPreviewPlanner::applied(const MixSettings &settings, const MixPreviewPlan &plan) {
    MixSettings result = settings;
    if (!plan.planned)
        dropMusicPlan(result);
    return result;
}

std::shared_ptr<const MixPreviewPlan> MixPreviewPlanner::kept(const Key &key) const {
    for (const auto &[keptKey, plan] : m_kept)
        if (keptKey == key)
            return plan;
    return nullptr;
}

int MixPreviewPlanner::planFor(const MixSettings &settings, const std::atomic<std::uint8_t> &stop,
                               std::shared_ptr<const MixPreviewPlan> &plan, std::string &error) {
    const Key key = keyOf(settings);
    std::unique_lock lock(m_mutex);
    for (;;) {
        if ((plan = kept(key)))
            return 0;
        if (m_failure && m_failure->key == key) { // the same files fail the same way again
            error = m_failure->error;
            return m_failure->result;
        }
        if (stop.load() || m_closing)
            return AVERROR_EXIT;
        if (!m_wanted || !(*m_wanted == key)) {
            m_wanted = key;
            if (m_making && m_makingKey && !(*m_makingKey == key))
                m_making->stopRequested = 1; // no longer wanted
            if (!m_thread.joinable())
                m_thread = std::thread(&MixPreviewPlanner::work, this);
            m_changed.notify_all();
        }
        m_changed.wait_for(lock, kStopLook);
    }
}

void MixPreviewPlanner::work() {
    std::unique_lock lock(m_mutex);
    while (!m_closing) {
        if (!m_wanted || kept(*m_wanted) || (m_failure && m_failure->key == *m_wanted)) {
            m_changed.wait(lock);
            continue;
        }
        const Key key = *m_wanted;
        MixJob job;
        m_making = &job;
        m_makingKey = key;
        lock.unlock();
        auto plan = std::make_shared<MixPreviewPlan>();
        std::string error;
        const int result = makePlan(key, job, *plan, error);
        lock.lock();
        m_making = nullptr;
        m_makingKey.reset();
        if (result >= 0) {
            m_kept.insert(m_kept.begin(), {key, std::move(plan)});
            if (m_kept.size() > kKeptPlans)
                m_kept.pop_back();
        } else if (result != AVERROR_EXIT || !job.stopRequested.load()) {
            m_failure = Failure{key, result, error};
        }
        m_changed.notify_all();
    }
}

int MixPreviewPlanner::makePlan(const Key &key, MixJob &job, MixPreviewPlan &plan, std::string &error) const {
    job.request.musicPath = m_musicPath;
    job.request.durationSeconds = m_videoSeconds;
    // The mode the run takes: fitting changes the music, so a silent video
    // re-encodes it rather than copying it.
    job.result.mode = m_hasOwnSound ? MixMode::MixBoth : MixMode::ReencodeMusic;
    MixSettings &settings = job.result.appliedMixSettings;
    settings.musicStartSeconds = key.musicStartSeconds;
    settings.fit = key.fit;
    settings.loop = true;
    settings.loopAtSeams = !key.fit;
    settings.delaySeconds = key.delaySeconds;
    job.request.mixSettings = settings;
    MixRun run(job);
    int result = openMusicInput(run);
    if (result >= 0)
        result = fitMusic(run);
    if (result < 0) {
        error = job.result.errorMessage;
        return result;
    }
    plan.planned = run.plannedMusic;
    if (plan.planned)
        plan.seamSeconds = seamsOf(*plan.planned, secondsToSamples(m_videoSeconds));
    else if (!job.result.warnings.empty())
        plan.warning = job.result.warnings.back();
    return 0;
}

} // namespace melvora
