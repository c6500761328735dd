#include "cli/Commands.h"
#include "cli/JsonEvents.h"
#include "engine/MediaProbe.h"
#include "engine/MixJob.h"

#include <iostream>

namespace melvora {

int runProbe(const std::string &path, bool audio) {
    MixJob job;
    job.probePath = path;
    const int result = audio ? probeAudio(job) : probeVideo(job);
    const MediaInfo &info = job.info;
    std::cout << jsonLine({{"file", path},
                           {"result", result},
                           {"probeResult", job.probeResult},
                           {"startTime", info.startTime},
                           {"endTime", info.endTime},
                           {"audioDuration", info.audioDuration},
                           {"videoDuration", info.videoDuration},
                           {"videoProfile", info.videoProfile},
                           {"videoBitRate", info.videoBitRate},
                           {"videoHeight", info.videoHeight},
                           {"videoWidth", info.videoWidth},
                           {"frameRateDen", info.frameRateDen},
                           {"frameRateNum", info.frameRateNum},
                           {"audioBitRate", info.audioBitRate},
                           {"audioSampleRate", info.audioSampleRate},
                           {"audioChannels", info.audioChannels}})
              << std::endl;
    return result == 0 ? 0 : 1;
}

} // namespace melvora
