#pragma once

#include "engine/MixJob.h"

namespace melvora {

// Results of a probe.
inline constexpr int kProbeAccepted = 0;
inline constexpr int kProbeNotUsable = -1;      // cannot be opened, or no stream of the wanted kind
inline constexpr int kProbeNoStreamInfo = -2;   // the stream information cannot be read
inline constexpr int kProbeOutOfMemory = -12;   // a decoder context cannot be allocated

// Examines job.probePath: opens the file, reads its stream information and
// opens a decoder per audio and video stream to learn the decoded
// parameters, which go into job.info. probeVideo accepts a file with a video
// stream, probeAudio one with an audio stream. Everything opened is released
// before returning; job.probeResult holds FFmpeg's result of the last step.
int probeVideo(MixJob &job);
int probeAudio(MixJob &job);

} // namespace melvora
