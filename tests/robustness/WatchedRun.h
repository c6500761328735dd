#pragma once

// Runs of the engine under a watchdog: a run that has not ended within the
// hang limit is recorded as a hang, asked to stop and waited for again. Only
// a run that ignores the stop as well ends the test program, with the case
// named, since a thread cannot be taken back.

#include "engine/MixJob.h"

#include <chrono>
#include <string>

namespace melvora::test {

inline constexpr std::chrono::seconds kHangLimit{20};

struct MixOutcome {
    JobStatus status = JobStatus::Running;
    std::string error;
    bool hung = false;
};

// Starts a mix the way the front ends do (launchMixJob) and waits for it.
MixOutcome watchedMix(MixJob &job, const std::string &video, const std::string &music, const std::string &output);

struct ProbeOutcome {
    int result = 0;
    bool hung = false;
};

// Probes a file as a video or as music on a thread of its own.
ProbeOutcome watchedProbe(MixJob &job, const std::string &path, bool asVideo);

// Waits for a worker that was asked to stop; false when it did not end
// within the hang limit (the worker is then still waited for, or the
// program ends).
bool joinWithin(MixJob &job, const std::string &what);

} // namespace melvora::test
