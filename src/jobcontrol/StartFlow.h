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
// stream of that kind; why says what was wrong otherwise.
bool probeAccepts(MixJob &job, const std::string &path, MediaKind kind, std::string *why = nullptr);

// The video's length from the probe in the job, in seconds; 0 when unknown.
double probedVideoSeconds(const MixJob &job);

struct StartRequest {
    StartInputs inputs;
    // How to mix (settings, threads, fast start): the flow fills in the
    // paths, the claimed output and the duration, and hands it to the run.
    MixRequest mix;
    // The video's length from a probe the front end already made of this
    // very file; without it the video is probed now.
    std::optional<double> probedVideoSeconds;
    // The front end already accepted this very music file.
    bool musicProbed = false;
};

enum class StartStep {
    Started,
    Refused,       // a check failed: see refusal
    NotAVideo,     // the video probe refused the file
    NotMusic,      // the music probe refused the file
    MusicUnfit,    // the music is too short for the settings: see reason
    NoOutputName,  // no output name could be claimed
    NotStarted,    // no worker could be started
};

struct StartOutcome {
    StartStep step = StartStep::Refused;
    StartRefusal refusal = StartRefusal::None;
    std::string outputPath;      // the claimed output, once claimed
    std::string reason;          // why a probe, the claim or the launch failed
    std::optional<double> videoSeconds; // set when this flow probed the video
    bool musicAccepted = false;  // this flow accepted the music (probed now or before)
};

using RunLauncher = std::function<bool(MixJob &job, const MixRequest &request)>;

// Runs the flow on the job: checks, probes, claim, launch.
StartOutcome startMixRun(MixJob &job, const StartRequest &request, const RunLauncher &launcher = {});

} // namespace melvora
