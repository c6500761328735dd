// A silent video with re-encoded music: the music from the feed, through the
// single-input graph, cut into encoder frames and encoded, repeated from its
// start until the picture ends.

#include "engine/MixSteps.h"

#include <algorithm>

extern "C" {
#include <libavfilter/buffersink.h>
}

namespace melvora {
namespace {

// Encodes chunks from the FIFO while they end at or before limit (samples
// of the new sound). A frame is stamped with the samples before it, so the
// first sample of the music plays with the first picture.
int encodeFifoUpTo(MixRun &run, std::int64_t limit, bool allowShortLast) {
    const int chunk = kMixChunkSamples;
    for (;;) {
        const int available = av_audio_fifo_size(run.musicFifo.get());
        const std::int64_t room = limit - run.sampleCounter;
        int samples = chunk;
        if (available < chunk || room < chunk) {
            if (!allowShortLast)
                return 0;
            samples = static_cast<int>(std::min<std::int64_t>(available, room));
            if (samples <= 0)
                return 0;
        }
        FramePtr frame;
        int result = takeFifoFrame(run, run.musicFifo.get(), samples, run.sampleCounter, frame);
        if (result < 0)
            return result;
        run.sampleCounter += samples;
        result = encodeFrame(run, frame.get());
        if (result < 0 || samples < chunk)
            return result; // a short frame is the last one the encoder takes
    }
}

// Moves every frame the graph has ready into the FIFO.
int drainGraphToFifo(MixRun &run) {
    AVFrame *converted = run.sinkFrame.get();
    for (;;) {
        int result = av_buffersink_get_frame(run.sinkFilter, converted);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return 0;
        if (result < 0)
            return result;
        result = appendToFifo(run.musicFifo, converted);
        av_frame_unref(converted);
        if (result < 0)
            return result;
    }
}

// One chunk of the music through the graph, stamped with the samples handed
// to the graph before it.
int makeMusic(MixRun &run) {
    const int chunk = kMixChunkSamples;
    int result = readNextMusicFrame(run, run.feedFifo, chunk);
    FramePtr frame;
    if (result >= 0)
        result = takeFifoFrame(run, run.feedFifo.get(), chunk, run.mixInputSamples, frame);
    if (result >= 0)
        result = pushToSource(run, run.firstSource, frame.get());
    if (result < 0)
        return result;
    run.mixInputSamples += chunk;
    return drainGraphToFifo(run);
}

} // namespace

int reencodeMusicPass(MixRun &run) {
    const int result = makeMusic(run);
    if (result < 0 || !run.musicFifo)
        return result;
    return encodeFifoUpTo(run, run.videoEndSamples, false);
}

int finishReencodedMusic(MixRun &run) {
    const std::int64_t end = run.videoEndSamples;
    if (end == AV_NOPTS_VALUE)
        return 0;
    while (soundMadeSamples(run) < end) {
        if (stopWanted(run))
            return AVERROR_EXIT;
        int result = makeMusic(run);
        if (result >= 0 && run.musicFifo)
            result = encodeFifoUpTo(run, end, false);
        if (result < 0)
            return result;
    }
    return run.musicFifo ? encodeFifoUpTo(run, end, true) : 0;
}

} // namespace melvora
