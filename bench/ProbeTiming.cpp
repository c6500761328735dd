// Times probeVideo on one file inside the process, so that the figure is the
// probe's own and not the start-up of a program linked to FFmpeg.
//
//   melvora-probe-timing FILE [RUNS]   prints the median in milliseconds

#include "engine/MediaProbe.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [RUNS]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 9;
    av_log_set_level(AV_LOG_QUIET);
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        melvora::MixJob job;
        job.probePath = argv[1];
        const auto start = std::chrono::steady_clock::now();
        const int result = melvora::probeVideo(job);
        const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
        if (result != 0) {
            std::fprintf(stderr, "probe refused %s (%d)\n", argv[1], result);
            return 1;
        }
        times.push_back(elapsed.count());
    }
    std::sort(times.begin(), times.end());
    std::printf("%.1f\n", times[times.size() / 2]);
    return 0;
}
