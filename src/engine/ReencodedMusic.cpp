// A silent video with re-encoded music: the music decoded, converted by the
// single-input graph, cut into encoder frames and encoded as AAC, repeated
// from its start until the picture ends.

#include "engine/MixSteps.h"

#include <algorithm>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

namespace melvora {
namespace {

bool isAgainOrEnd(int result) { return result == AVERROR(EAGAIN) || result == AVERROR_EOF; }

// Encodes chunks from the FIFO while they end at or before limit (samples
// of the new sound). A frame is stamped with the samples before it, so the
// first sample of the music plays with the first picture.
bool encodeFifoUpTo(MixJob &job, LoopState &state, std::int64_t limit, bool allowShortLast) {
    const int chunk = job.audioEncoder->frame_size;
    for (;;) {
        const int available = av_audio_fifo_size(job.musicFifo.get());
        const std::int64_t room = limit - state.sampleCounter;
        int samples = chunk;
        if (available < chunk || room < chunk) {
            if (!allowShortLast)
                return true;
            samples = static_cast<int>(std::min<std::int64_t>(available, room));
            if (samples <= 0)
                return true;
        }
        FramePtr frame;
        const int result = takeFifoFrame(job, job.musicFifo.get(), samples, state.sampleCounter, frame);
        if (result < 0) {
            state.lastResult = result;
            return false;
        }
        state.sampleCounter += samples;
        if (!encodeFrame(job, state, frame.get()))
            return false;
        if (samples < chunk)
            return true; // a short frame is the last one the encoder takes
    }
}

// Appends one sink frame to the FIFO.
bool appendToFifo(MixJob &job, LoopState &state, AVFrame *converted) {
    if (!job.musicFifo) {
        job.musicFifo.reset(av_audio_fifo_alloc(kOutputSampleFormat, 2, std::max(converted->nb_samples, 1)));
        if (!job.musicFifo) {
            state.lastResult = AVERROR(ENOMEM);
            return false;
        }
    }
    const int written = av_audio_fifo_write(job.musicFifo.get(), reinterpret_cast<void **>(converted->extended_data),
                                            converted->nb_samples);
    if (written < converted->nb_samples) {
        state.lastResult = written < 0 ? written : AVERROR(ENOMEM);
        return false;
    }
    return true;
}

// Moves every frame the graph has ready into the FIFO.
bool drainGraphToFifo(MixJob &job, LoopState &state) {
    AVFrame *converted = state.sinkFrame.get();
    for (;;) {
        const int result = av_buffersink_get_frame(job.sinkFilter, converted);
        if (isAgainOrEnd(result))
            return true;
        if (result < 0) {
            state.lastResult = result;
            return false;
        }
        const bool appended = appendToFifo(job, state, converted);
        av_frame_unref(converted);
        if (!appended)
            return false;
    }
}

// One chunk of the music through the graph, stamped with the samples handed
// to the graph before it.
bool makeMusic(MixJob &job, LoopState &state) {
    const int chunk = job.audioEncoder->frame_size;
    int result = readNextMusicFrame(job, state, state.feedFifo, chunk);
    FramePtr frame;
    if (result >= 0)
        result = takeFifoFrame(job, state.feedFifo.get(), chunk, state.mixInputSamples, frame);
    if (result >= 0)
        result = pushToSource(job, job.firstSource, frame.get());
    if (result < 0) {
        state.lastResult = result;
        return false;
    }
    state.mixInputSamples += chunk;
    return drainGraphToFifo(job, state);
}

} // namespace

bool reencodeMusicPass(MixJob &job, LoopState &state) {
    if (!makeMusic(job, state))
        return false;
    return !job.musicFifo || encodeFifoUpTo(job, state, state.videoEndSamples, false);
}

bool finishReencodedMusic(MixJob &job, LoopState &state) {
    const std::int64_t end = state.videoEndSamples;
    if (end == AV_NOPTS_VALUE)
        return true;
    while (soundMadeSamples(job, state) < end) {
        if (job.stopRequested.load())
            return true;
        if (!makeMusic(job, state))
            return false;
        if (job.musicFifo && !encodeFifoUpTo(job, state, end, false))
            return false;
    }
    return !job.musicFifo || encodeFifoUpTo(job, state, end, true);
}

} // namespace melvora
