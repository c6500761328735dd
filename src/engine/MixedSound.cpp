// A video with its own sound: that sound and the music, both converted to
// 44100 Hz fltp stereo, mixed chunk for chunk by the graph and encoded.

#include "engine/MixSteps.h"

#include <algorithm>

extern "C" {
#include <libavfilter/buffersink.h>
}

namespace melvora {
namespace {

bool isAgainOrEnd(int result) { return result == AVERROR(EAGAIN) || result == AVERROR_EOF; }

// Takes sampleCount samples from a FIFO into a new frame and hands it to a
// source of the graph, stamped with the samples handed to it before.
bool pushChunk(MixJob &job, LoopState &state, AVAudioFifo *fifo, AVFilterContext *source, int sampleCount) {
    FramePtr chunk;
    int result = takeFifoFrame(job, fifo, sampleCount, state.mixInputSamples, chunk);
    if (result >= 0)
        result = pushToSource(job, source, chunk.get());
    if (result < 0) {
        state.lastResult = result;
        return false;
    }
    return true;
}

// Encodes every frame the graph has ready; each is stamped with the samples
// before it.
bool drainMix(MixJob &job, LoopState &state) {
    AVFrame *mixed = state.sinkFrame.get();
    for (;;) {
        const int result = av_buffersink_get_frame(job.sinkFilter, mixed);
        if (isAgainOrEnd(result))
            return true;
        if (result < 0) {
            state.lastResult = result;
            return false;
        }
        mixed->pts = state.sampleCounter;
        state.sampleCounter += mixed->nb_samples;
        if (!encodeFrame(job, state, mixed))
            return false;
    }
}

// Fills the music FIFO to at least sampleCount samples.
bool fillMusic(MixJob &job, LoopState &state, int sampleCount) {
    const int result = readNextMusicFrame(job, state, job.musicFifo, sampleCount);
    if (result < 0)
        state.lastResult = result;
    return result >= 0;
}

// One chunk of the video's own sound plus as much music through the mix.
// False ends the loop (no music to be had, or the graph failed).
bool mixOneChunk(MixJob &job, LoopState &state, int chunk) {
    if (!pushChunk(job, state, job.videoAudioFifo.get(), job.firstSource, chunk))
        return false;
    if (!fillMusic(job, state, chunk) || !pushChunk(job, state, job.musicFifo.get(), job.secondSource, chunk))
        return false;
    state.mixInputSamples += chunk;
    return drainMix(job, state);
}

// Resamples decoded own sound into its FIFO and mixes every whole chunk.
bool mixDecodedOwnSound(MixJob &job, LoopState &state) {
    AVCodecContext *decoder = job.videoAudioDecoder.get();
    AVFrame *frame = state.videoSoundFrame.get();
    const int chunk = job.audioEncoder->frame_size;
    for (;;) {
        int result = avcodec_receive_frame(decoder, frame);
        if (isAgainOrEnd(result))
            return true;
        if (result < 0) {
            state.lastResult = result; // a frame that fails to decode is skipped
            return true;
        }
        result = resampleToFifo(job, job.videoAudioResampler, frame, job.videoAudioFifo);
        av_frame_unref(frame);
        if (result < 0) {
            state.lastResult = result;
            return false;
        }
        while (av_audio_fifo_size(job.videoAudioFifo.get()) >= chunk) {
            if (!mixOneChunk(job, state, chunk))
                return false;
        }
    }
}

} // namespace

bool mixOwnSoundPacket(MixJob &job, LoopState &state, AVPacket *packet) {
    const int result = avcodec_send_packet(job.videoAudioDecoder.get(), packet);
    av_packet_unref(packet);
    state.lastResult = result;
    if (result < 0)
        return true; // an undecodable packet is skipped
    return mixDecodedOwnSound(job, state);
}

bool mixSilentOwnSound(MixJob &job, LoopState &state, std::int64_t samples) {
    const int chunk = job.audioEncoder->frame_size;
    while (samples > 0) {
        if (job.stopRequested.load())
            return true;
        const int block = static_cast<int>(std::min<std::int64_t>(samples, chunk));
        const int result = appendSilence(job.videoAudioFifo, block);
        if (result < 0) {
            state.lastResult = result;
            return false;
        }
        samples -= block;
        while (av_audio_fifo_size(job.videoAudioFifo.get()) >= chunk)
            if (!mixOneChunk(job, state, chunk))
                return false;
    }
    return true;
}

bool finishMixedSound(MixJob &job, LoopState &state) {
    // The decoder's last frames, then what the resampler still holds.
    int result = avcodec_send_packet(job.videoAudioDecoder.get(), nullptr);
    if (result >= 0 && !mixDecodedOwnSound(job, state))
        return false;
    if (job.videoAudioResampler) {
        result = flushResamplerToFifo(job, job.videoAudioResampler, job.videoAudioFifo);
        if (result < 0) {
            state.lastResult = result;
            return false;
        }
    }
    // Own sound that ends before the picture is followed by silence, so
    // that the music lasts to the last picture.
    const std::int64_t held = job.videoAudioFifo ? av_audio_fifo_size(job.videoAudioFifo.get()) : 0;
    if (state.videoEndSamples != AV_NOPTS_VALUE &&
        !mixSilentOwnSound(job, state, state.videoEndSamples - state.mixInputSamples - held))
        return false;
    const int chunk = job.audioEncoder->frame_size;
    while (job.videoAudioFifo && av_audio_fifo_size(job.videoAudioFifo.get()) >= chunk) {
        if (!mixOneChunk(job, state, chunk))
            return false;
    }
    // The last, shorter chunk, matched by as much music.
    const int rest = job.videoAudioFifo ? av_audio_fifo_size(job.videoAudioFifo.get()) : 0;
    if (rest > 0 && !mixOneChunk(job, state, rest))
        return false;
    // Both sources end, and the graph lets out what it still holds.
    result = pushToSource(job, job.firstSource, nullptr);
    if (result >= 0)
        result = pushToSource(job, job.secondSource, nullptr);
    if (result < 0) {
        state.lastResult = result;
        return false;
    }
    return drainMix(job, state);
}

} // namespace melvora
