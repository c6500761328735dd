#include "WatchedRun.h"

#include "engine/MediaProbe.h"
#include "jobcontrol/StartChecks.h"

#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

namespace melvora::test {
namespace {

[[noreturn]] void giveUp(const std::string &what) {
    std::fprintf(stderr, "\n*** %s: still running after a stop and twice the hang limit; giving up\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

} // namespace

bool joinWithin(MixJob &job, const std::string &what) {
    const bool ended = waitForMixJob(job, kHangLimit);
    if (!ended) {
        job.stopRequested = 1;
        if (!waitForMixJob(job, kHangLimit))
            giveUp(what);
    }
    joinMixJob(job);
    return ended;
}

MixOutcome watchedMix(MixJob &job, const std::string &video, const std::string &music, const std::string &output) {
    MixOutcome outcome;
    if (!launchMixJob(job, video, music, output, 0)) {
        outcome.status = job.status.load();
        outcome.error = job.result.errorMessage;
        return outcome;
    }
    outcome.hung = !joinWithin(job, "mix of " + video + " with " + music);
    outcome.status = job.status.load();
    outcome.error = job.result.errorMessage;
    return outcome;
}

ProbeOutcome watchedProbe(MixJob &job, const std::string &path, bool asVideo) {
    ProbeOutcome outcome;
    job.probePath = path;
    job.stopRequested = 0;
    job.interruptArmed = false;
    std::packaged_task<int()> task([&job, asVideo] { return asVideo ? probeVideo(job) : probeAudio(job); });
    std::future<int> result = task.get_future();
    std::thread prober(std::move(task));
    if (result.wait_for(kHangLimit) != std::future_status::ready) {
        outcome.hung = true;
        // Lets FFmpeg's interrupt check end a blocking read.
        job.interruptArmed = true;
        job.stopRequested = 1;
        if (result.wait_for(kHangLimit) != std::future_status::ready)
            giveUp("probe of " + path);
    }
    prober.join();
    outcome.result = result.get();
    job.interruptArmed = false;
    job.stopRequested = 0;
    return outcome;
}

} // namespace melvora::test
