#pragma once

// The one road from a start request to a running job, shared by both front
// ends: the checks, the probes, the claim of the output name and the launch.
// Each front end turns the outcome into its own texts or exit codes.
// Whatever fails before the run has begun leaves the output folder as it was.

#include "jobcontrol/StartChecks.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace melvora {

enum class MediaKind { Video, Music };

// Probes path into the job as a video or as music. Accepted when it holds a
// stream of that kind and, for a video (and for music when asked), its start
// time is not negative. why says what was wrong otherwise.
bool probeAccepts(MixJob &job, const std::string &path, MediaKind kind, bool musicStartMustNotBeNegative,
                  std::string *why = nullptr);

struct StartRequest {
    StartInputs inputs;
    // The video's duration from a probe the front end already made of this
    // very file; without it the video is probed now.
    std::optional<std::int64_t> probedVideoDuration;
    // The front end already accepted this very music file.
    bool musicProbed = false;
    bool musicStartMustNotBeNegative = false;
    MixSettings mixSettings;
    int encoderThreads = 0; // 0: one per core
    bool fastStart = false; // MP4/MOV with the index before the data
};

enum class StartStep {
    Started,
    Refused,       // a check failed: see refusal
    NotAVideo,     // the video probe refused the file
    NotMusic,      // the music probe refused the file
    NoOutputName,  // no output name could be claimed
    NotStarted,    // no worker could be started
};

struct StartOutcome {
    StartStep step = StartStep::Refused;
    StartRefusal refusal = StartRefusal::None;
    std::string outputPath;      // the claimed output, once claimed
    std::string reason;          // why a probe, the claim or the launch failed
    std::optional<std::int64_t> videoDuration; // set when this flow probed the video
    bool musicAccepted = false;  // this flow accepted the music (probed now or before)
};

using RunLauncher = std::function<bool(MixJob &job, const RunRequest &request)>;

// Runs the flow on the job: checks, probes, claim, launch.
StartOutcome startMixRun(MixJob &job, const StartRequest &request, const RunLauncher &launcher = {});

} // namespace melvora
