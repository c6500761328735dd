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
int pushChunk(MixRun &run, AVAudioFifo *fifo, AVFilterContext *source, int sampleCount) {
    FramePtr chunk;
    const int result = takeFifoFrame(run, fifo, sampleCount, run.mixInputSamples, chunk);
    return result < 0 ? result : pushToSource(run, source, chunk.get());
}

// Encodes every frame the graph has ready; each is stamped with the samples
// before it. The mix is as long as the own sound handed in (which covers the
// picture): music delayed past it would otherwise play on after the last
// picture.
int drainMix(MixRun &run) {
    AVFrame *mixed = run.sinkFrame.get();
    for (;;) {
        int result = av_buffersink_get_frame(run.sinkFilter, mixed);
        if (isAgainOrEnd(result))
            return 0;
        if (result < 0)
            return result;
        const std::int64_t room = run.mixInputSamples - run.sampleCounter;
        if (room <= 0) {
            av_frame_unref(mixed); // what the graph still holds is left there
            return 0;
        }
        mixed->nb_samples = static_cast<int>(std::min<std::int64_t>(mixed->nb_samples, room));
        mixed->pts = run.sampleCounter;
        run.sampleCounter += mixed->nb_samples;
        result = encodeFrame(run, mixed);
        if (result < 0)
            return result;
    }
}

// One chunk of the video's own sound plus as much music through the mix.
int mixOneChunk(MixRun &run, int chunk) {
    int result = pushChunk(run, run.videoAudioFifo.get(), run.firstSource, chunk);
    if (result >= 0)
        result = readNextMusicFrame(run, run.musicFifo, chunk);
    if (result >= 0)
        result = pushChunk(run, run.musicFifo.get(), run.secondSource, chunk);
    if (result < 0)
        return result;
    run.mixInputSamples += chunk;
    return drainMix(run);
}

int mixWholeChunks(MixRun &run) {
    const int chunk = kMixChunkSamples;
    while (run.videoAudioFifo && av_audio_fifo_size(run.videoAudioFifo.get()) >= chunk)
        if (const int result = mixOneChunk(run, chunk); result < 0)
            return result;
    return 0;
}

// Resamples decoded own sound into its FIFO and mixes every whole chunk.
int mixDecodedOwnSound(MixRun &run) {
    AVCodecContext *decoder = run.videoAudioDecoder.get();
    AVFrame *frame = run.videoSoundFrame.get();
    for (;;) {
        int result = avcodec_receive_frame(decoder, frame);
        if (isAgainOrEnd(result))
            return 0;
        if (result < 0)
            return result == AVERROR(ENOMEM) ? result : 0; // a frame that fails to decode is skipped
        result = resampleToFifo(run, run.videoAudioResampler, frame, run.videoAudioFifo);
        av_frame_unref(frame);
        if (result >= 0)
            result = mixWholeChunks(run);
        if (result < 0)
            return result;
    }
}

} // namespace

int mixOwnSoundPacket(MixRun &run, AVPacket *packet) {
    const int result = avcodec_send_packet(run.videoAudioDecoder.get(), packet);
    av_packet_unref(packet);
    if (result == AVERROR(ENOMEM))
        return result;
    // An undecodable packet is skipped.
    return result < 0 ? 0 : mixDecodedOwnSound(run);
}

int mixSilentOwnSound(MixRun &run, std::int64_t samples) {
    const int chunk = kMixChunkSamples;
    while (samples > 0) {
        if (stopWanted(run))
            return AVERROR_EXIT;
        const int block = static_cast<int>(std::min<std::int64_t>(samples, chunk));
        int result = appendSilence(run.videoAudioFifo, block);
        if (result >= 0)
            result = mixWholeChunks(run);
        if (result < 0)
            return result;
        samples -= block;
    }
    return 0;
}

int finishMixedSound(MixRun &run) {
    // The decoder's last frames, then what the resampler still holds.
    int result = avcodec_send_packet(run.videoAudioDecoder.get(), nullptr);
    result = result < 0 ? 0 : mixDecodedOwnSound(run);
    if (result >= 0 && run.videoAudioResampler)
        result = flushResamplerToFifo(run, run.videoAudioResampler, run.videoAudioFifo);
    if (result < 0)
        return result;
    // Own sound that ends before the picture is followed by silence, so
    // that the music lasts to the last picture.
    const std::int64_t held = run.videoAudioFifo ? av_audio_fifo_size(run.videoAudioFifo.get()) : 0;
    if (run.videoEndSamples != AV_NOPTS_VALUE)
        result = mixSilentOwnSound(run, run.videoEndSamples - run.mixInputSamples - held);
    if (result >= 0)
        result = mixWholeChunks(run);
    // The last, shorter chunk, matched by as much music.
    const int rest = run.videoAudioFifo ? av_audio_fifo_size(run.videoAudioFifo.get()) : 0;
    if (result >= 0 && rest > 0)
        result = mixOneChunk(run, rest);
    // Both sources end, and the graph lets out what it still holds.
    if (result >= 0)
        result = pushToSource(run, run.firstSource, nullptr);
    if (result >= 0)
        result = pushToSource(run, run.secondSource, nullptr);
    return result < 0 ? result : drainMix(run);
}

} // namespace melvora
