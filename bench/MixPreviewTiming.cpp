// Times the mix preview inside the process: the reading of the files, and
// a rendering of the whole video with the plain mix and with fades and
// ducking, each as the video's length over the time it took.
//
//   melvora-mix-preview-timing VIDEO MUSIC

#include "engine/MixPreview.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

extern "C" {
#include <libavutil/log.h>
}

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Seconds until the first half second of the picture is made, and until the whole.
void timeRendering(const char *name, const std::shared_ptr<const melvora::MixPreviewInputs> &inputs,
                   const melvora::MixSettings &settings) {
    const auto start = std::chrono::steady_clock::now();
    melvora::MixPreviewRender render(inputs, settings);
    while (!render.finished() && render.doneSamples() < melvora::kPreviewSampleRate / 2)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const double first = secondsSince(start);
    render.wait();
    const double whole = secondsSince(start);
    std::printf("%s: first 0.5 s after %.3f s, whole in %.2f s (%.0fx the video's length)\n", name, first, whole,
                inputs->videoSeconds / whole);
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s VIDEO MUSIC\n", argv[0]);
        return 2;
    }
    av_log_set_level(AV_LOG_QUIET);
    auto inputs = std::make_shared<melvora::MixPreviewInputs>();
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    if (melvora::analyseMixPreview(argv[1], argv[2], *inputs, error) < 0) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::printf("reading %.0f s of video: %.2f s (%.0fx)\n", inputs->videoSeconds, secondsSince(start),
                inputs->videoSeconds / secondsSince(start));
    timeRendering("plain mix", inputs, melvora::MixSettings{});
    melvora::MixSettings shaped;
    shaped.fadeInSeconds = 2;
    shaped.delaySeconds = 1;
    shaped.fadeOutSeconds = 3;
    shaped.musicGainDb = -6;
    timeRendering("levels and fades", inputs, shaped);
    shaped.duckDb = 12;
    timeRendering("with ducking", inputs, shaped);
    return 0;
}
