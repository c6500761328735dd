// Times the mix preview inside the process: the reading of the files, and
// for each kind of settings the picture (the sketch), the mix playable from
// the start and from the middle, and the whole mix, with the multiple of the
// video's length it took; then, in a render of its own, how soon Play pressed
// in the middle as the settings change has the mix there.
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

// Seconds until the picture is redrawn (the sketch), until the mix can be
// played from the start and from the middle, and until the whole is made.
void timeRendering(const char *name, const std::shared_ptr<const melvora::MixPreviewInputs> &inputs,
                   const melvora::MixSettings &settings) {
    const auto start = std::chrono::steady_clock::now();
    melvora::MixPreviewRender render(inputs, settings);
    const std::int64_t middle = inputs->videoSamples() / 2;
    double sketch = -1, fromStart = -1, fromMiddle = -1;
    std::int16_t probe[2 * 441];
    while (sketch < 0 || fromStart < 0 || fromMiddle < 0) {
        if (sketch < 0 && render.sketchFinished())
            sketch = secondsSince(start);
        if (fromStart < 0 && render.readMixed(0, 441, probe) == 441)
            fromStart = secondsSince(start);
        if (fromMiddle < 0 && render.readMixed(middle, 441, probe) == 441)
            fromMiddle = secondsSince(start);
        if (render.finished() && render.sketchFinished())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    render.wait();
    const double whole = secondsSince(start);
    std::printf("%s: picture (sketch) after %.3f s, playable from the start after %.3f s and from the middle "
                "after %.3f s, whole mix in %.2f s (%.0fx the video's length)\n",
                name, sketch, fromStart, fromMiddle, whole, inputs->videoSeconds / whole);
    // Play pressed in the middle as the settings change: the pass from there.
    const auto pressed = std::chrono::steady_clock::now();
    double playable = -1;
    {
        melvora::MixPreviewRender played(inputs, settings, true);
        played.playFrom(middle);
        while (played.readMixed(middle, 441, probe) < 441 && !played.finished())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        playable = secondsSince(pressed);
    }
    std::printf("  with Play pressed in the middle at once: playable there after %.3f s\n", playable);
    const melvora::MixPreviewRender::Levels levels = render.levels();
    if (levels.targetLufs)
        std::printf("  loudness: mix %.1f LUFS, gain %+.1f dB, reached %.1f LUFS (target %.1f)\n",
                    levels.measuredLufs.value_or(-70), levels.gainDb.value_or(0), levels.reachedLufs.value_or(-70),
                    *levels.targetLufs);
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
    // The first sketch of the session also brings the own sound and the
    // music feed's sound to the sketch's rate; later ones find them made.
    timeRendering("plain mix (first of the session)", inputs, melvora::MixSettings{});
    timeRendering("plain mix", inputs, melvora::MixSettings{});
    melvora::MixSettings shaped;
    shaped.fadeInSeconds = 2;
    shaped.delaySeconds = 1;
    shaped.fadeOutSeconds = 3;
    shaped.musicGainDb = -6;
    timeRendering("levels and fades", inputs, shaped);
    shaped.duckDb = 12;
    timeRendering("with ducking", inputs, shaped);
    shaped.duckHoldSeconds = 1;
    timeRendering("ducking, another hold", inputs, shaped);
    shaped.loudnessLufs = -16;
    timeRendering("ducking and a loudness target", inputs, shaped);
    melvora::MixSettings loud;
    loud.loudnessLufs = -14;
    timeRendering("loudness target alone", inputs, loud);
    melvora::MixSettings started;
    started.musicStartSeconds = 1;
    timeRendering("another music start (the feed's sound made anew)", inputs, started);
    // Play in the middle right after the music start changes: the sketch is
    // making the feed's sound, so the pass from there reads the music itself.
    started.musicStartSeconds = 2;
    const auto pressed = std::chrono::steady_clock::now();
    {
        melvora::MixPreviewRender played(inputs, started, true);
        const std::int64_t middle = inputs->videoSamples() / 2;
        std::int16_t probe[2 * 441];
        played.playFrom(middle);
        while (played.readMixed(middle, 441, probe) < 441 && !played.finished())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::printf("Play in the middle right after a new music start: playable there after %.3f s\n",
                secondsSince(pressed));
    return 0;
}
