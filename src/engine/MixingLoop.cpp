// The body of a run: copies the video's packets and makes the new sound
// track, pass by pass, until the video is exhausted, an error ends the loop
// or the user stops it.

#include "engine/MixSteps.h"

#include <algorithm>
#include <cmath>
#include <limits>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/opt.h>
}

namespace melvora {
namespace {

bool isAgainOrEnd(int result) { return result == AVERROR(EAGAIN) || result == AVERROR_EOF; }

void publishProgress(MixJob &job) {
    const double quotient = job.positionSeconds * 100.0 / job.durationSeconds;
    int percent = 0;
    if (std::isfinite(quotient))
        percent = quotient <= 0 ? 0 : quotient >= 100 ? 100 : static_cast<int>(quotient);
    job.progressPercent = percent;
}

// Writes one encoded packet of the new sound track.
void writeEncodedPacket(MixJob &job, LoopState &state, AVPacket *packet) {
    packet->stream_index = job.outputAudioStreamIndex;
    av_packet_rescale_ts(packet, job.audioEncoder->time_base, job.outputAudioStream->time_base);
    if (packet->pts != AV_NOPTS_VALUE)
        packet->pts += state.encodedPtsShift;
    if (packet->dts != AV_NOPTS_VALUE)
        packet->dts += state.encodedPtsShift;
    if (packet->dts != AV_NOPTS_VALUE)
        job.audioClockMs = timestampToMs(packet->dts, job.outputAudioStream->time_base);
    state.lastResult = av_interleaved_write_frame(job.outputContext.get(), packet); // takes the packet's contents
}

// Moves every packet the encoder has ready into the output.
void receivePackets(MixJob &job, LoopState &state) {
    AVPacket *packet = state.encodedPacket.get();
    for (;;) {
        const int result = avcodec_receive_packet(job.audioEncoder.get(), packet);
        if (isAgainOrEnd(result))
            return;
        if (result < 0) {
            state.lastResult = result;
            return;
        }
        writeEncodedPacket(job, state, packet);
        if (state.lastResult < 0)
            return;
    }
}

// Writes what the encoding thread has finished so far.
void writeStagePackets(MixJob &job, LoopState &state) {
    state.encodeStage->takePackets(state.readyPackets);
    for (PacketPtr &packet : state.readyPackets)
        writeEncodedPacket(job, state, packet.get());
    state.readyPackets.clear();
}

// Sends one stamped frame to the encoder and writes what comes out; false
// when the encoder refused the frame. The frame is left blank.
bool encodeFrame(MixJob &job, LoopState &state, AVFrame *frame) {
    if (state.encodeStage) {
        FramePtr queued(av_frame_alloc());
        if (!queued) {
            state.lastResult = AVERROR(ENOMEM);
            return false;
        }
        av_frame_move_ref(queued.get(), frame);
        const int result = state.encodeStage->submit(std::move(queued));
        writeStagePackets(job, state);
        if (result < 0)
            state.lastResult = result;
        return result >= 0;
    }
    const int result = avcodec_send_frame(job.audioEncoder.get(), frame);
    state.lastResult = result;
    if (result < 0)
        return false;
    receivePackets(job, state);
    return true;
}

// Lets the encoding thread finish every frame it was given, writes the rest
// of its packets and ends it, before the trailer and the tear-down.
void finishEncodeStage(MixJob &job, LoopState &state) {
    if (!state.encodeStage)
        return;
    state.encodeStage->drain();
    const int result = state.lastResult;
    writeStagePackets(job, state);
    const int error = state.encodeStage->error();
    state.encodeStage.reset();
    // The loop's own ending result stands unless encoding or writing failed.
    if (error < 0)
        state.lastResult = error;
    else if (state.lastResult >= 0)
        state.lastResult = result;
}

// One chunk of the video's own sound plus one chunk of music through amix.
// False ends the loop (no music to be had, or the graph failed).
bool mixOneChunk(MixJob &job, LoopState &state, int chunk) {
    FramePtr ownSound;
    int result = allocEncoderFrame(job, ownSound, job.audioEncoder.get(), chunk);
    if (result < 0) {
        state.lastResult = result;
        return false;
    }
    readFifoFrame(job, job.videoAudioFifo.get(), ownSound.get(), chunk);
    ownSound->pts = state.mixInputSamples;
    pushToSource(job, job.firstSource, ownSound.get());

    while (!job.musicFifo || av_audio_fifo_size(job.musicFifo.get()) < chunk) {
        result = readNextMusicFrame(job, state, state.musicFrame.get());
        if (result < 0) {
            state.lastResult = result;
            return false;
        }
        result = resampleToFifo(job, job.musicResampler, state.musicFrame.get(), job.musicFifo);
        av_frame_unref(state.musicFrame.get());
        if (result < 0 && result != kFifoNeedsMore) {
            state.lastResult = result;
            return false;
        }
    }

    FramePtr music;
    result = allocEncoderFrame(job, music, job.audioEncoder.get(), chunk);
    if (result < 0) {
        state.lastResult = result;
        return false;
    }
    readFifoFrame(job, job.musicFifo.get(), music.get(), chunk);
    music->pts = state.mixInputSamples;
    pushToSource(job, job.secondSource, music.get());
    state.mixInputSamples += chunk;

    // Drain the sink: each frame is stamped with the samples before it.
    AVFrame *mixed = state.sinkFrame.get();
    for (;;) {
        result = av_buffersink_get_frame(job.sinkFilter, mixed);
        if (isAgainOrEnd(result))
            break;
        if (result < 0) {
            state.lastResult = result;
            return false;
        }
        mixed->pts = state.sampleCounter;
        state.sampleCounter += mixed->nb_samples;
        const bool encoded = encodeFrame(job, state, mixed);
        av_frame_unref(mixed);
        if (!encoded)
            return false;
    }
    return true;
}

// A packet of the video's own sound: decode it, resample it, and mix every
// whole chunk it completes.
bool mixOwnSoundPacket(MixJob &job, LoopState &state, AVPacket *packet) {
    AVCodecContext *decoder = job.videoAudioDecoder.get();
    int result = avcodec_send_packet(decoder, packet);
    av_packet_unref(packet);
    state.lastResult = result;
    if (result < 0)
        return true; // an undecodable packet is skipped
    const int chunk = job.audioEncoder->frame_size;
    AVFrame *frame = state.videoSoundFrame.get();
    for (;;) {
        result = avcodec_receive_frame(decoder, frame);
        if (isAgainOrEnd(result))
            return true;
        if (result < 0) {
            state.lastResult = result;
            return true;
        }
        result = resampleToFifo(job, job.videoAudioResampler, frame, job.videoAudioFifo);
        av_frame_unref(frame);
        if (result < 0 && result != kFifoNeedsMore) {
            state.lastResult = result;
            return true;
        }
        while (av_audio_fifo_size(job.videoAudioFifo.get()) >= chunk) {
            if (!mixOneChunk(job, state, chunk))
                return false;
        }
    }
}

// One packet of the video file. False ends the loop.
bool videoPass(MixJob &job, LoopState &state) {
    AVPacket *packet = state.readPacket.get();
    state.lastResult = av_read_frame(job.videoInput.get(), packet);
    if (state.lastResult < 0)
        return false;

    const int index = packet->stream_index;
    if (index < 0 || index >= job.streamMapCount || job.streamMap[index] < 0) {
        av_packet_unref(packet);
        return true;
    }
    if (job.mode == MixMode::MixBoth && index == job.videoAudioStreamIndex)
        return mixOwnSoundPacket(job, state, packet);

    const AVStream *in = job.videoInput->streams[index];
    const int outIndex = job.streamMap[index];
    const AVStream *out = job.outputContext->streams[outIndex];
    if (index == job.videoStreamIndex) {
        if (packet->dts != AV_NOPTS_VALUE)
            job.videoClockMs = timestampToMs(packet->dts, in->time_base);
        if (packet->pts != AV_NOPTS_VALUE)
            job.positionSeconds = static_cast<double>(packet->pts) * av_q2d(in->time_base);
    }
    state.lastResult = copyPacket(job, packet, in, out, outIndex);
    av_packet_unref(packet);
    return true;
}

// Copies one music packet, its time stamps running on across each rewind.
bool copyMusicPass(MixJob &job, LoopState &state) {
    AVPacket *packet = state.readPacket.get();
    int result = av_read_frame(job.musicInput.get(), packet);
    state.lastResult = result;
    if (result == AVERROR_EOF) {
        const AVStream *stream = job.musicStream;
        const AVCodecParameters *parameters = stream->codecpar;
        const AVRational timeBase = stream->time_base;
        // One frame's duration, so the next pass starts right after the last packet.
        std::int64_t frameDuration = 0;
        if (parameters->frame_size > 0 && parameters->sample_rate > 0 && timeBase.num > 0)
            frameDuration = std::int64_t(parameters->frame_size) * timeBase.den / timeBase.num / parameters->sample_rate;
        if (frameDuration <= 0)
            frameDuration = state.lastMusicDuration > 0 ? state.lastMusicDuration : 1;
        // The next pass starts one frame after the last packet. Its offset is
        // fixed by its own first packet: a seek back may skip packets that
        // the first pass had (AAC priming), which would leave a gap.
        state.nextPassStart = state.lastMusicPts + frameDuration;
        state.passStartPending = true;
        result = rewindMusic(job, state);
        if (result < 0) {
            state.lastResult = result;
            return false;
        }
        return true;
    }
    if (result < 0)
        return false;
    if (packet->stream_index != job.musicStreamIndex) {
        av_packet_unref(packet);
        return true;
    }
    state.musicSoundSinceRewind = true;

    // A packet without time stamps continues from the last one.
    if (packet->pts == AV_NOPTS_VALUE)
        packet->pts = packet->dts != AV_NOPTS_VALUE ? packet->dts
                                                    : state.lastMusicPts - state.loopOffset + state.lastMusicDuration;
    if (packet->dts == AV_NOPTS_VALUE)
        packet->dts = packet->pts;
    if (state.passStartPending) {
        state.loopOffset = state.nextPassStart - packet->dts;
        state.passStartPending = false;
    }
    packet->pts += state.loopOffset;
    packet->dts += state.loopOffset;

    job.audioClockMs = timestampToMs(packet->dts, job.musicStream->time_base);
    state.lastMusicPts = packet->pts;
    if (packet->duration > 0)
        state.lastMusicDuration = packet->duration;
    // Stamps are carried over in samples, so that a container with a coarse
    // clock (AVI counts whole packets) sees no gap where rounding would
    // open one at a loop seam.
    const AVStream *outStream = job.outputContext->streams[job.outputAudioStreamIndex];
    const AVCodecParameters *parameters = job.musicStream->codecpar;
    if (parameters->sample_rate > 0) {
        const AVRational sampleBase{1, parameters->sample_rate};
        int samples = static_cast<int>(av_rescale_q(packet->duration, job.musicStream->time_base, sampleBase));
        if (samples <= 0)
            samples = parameters->frame_size > 0 ? parameters->frame_size : 1;
        const std::int64_t decodeStamp = av_rescale_delta(job.musicStream->time_base, packet->dts, sampleBase, samples,
                                                          &state.musicRescaleLast, outStream->time_base);
        packet->pts = packet->dts = decodeStamp;
        packet->duration = av_rescale_q(packet->duration, job.musicStream->time_base, outStream->time_base);
        // Already on the output's clock: the copy's own rescale is the identity.
        copyPacket(job, packet, outStream, outStream, job.outputAudioStreamIndex);
    } else {
        copyPacket(job, packet, job.musicStream, outStream, job.outputAudioStreamIndex);
    }
    av_packet_unref(packet);
    return true;
}

// Appends one sink frame to the FIFO and encodes every whole chunk; each
// chunk is stamped with the samples up to and including itself.
bool encodeThroughFifo(MixJob &job, LoopState &state, AVFrame *converted) {
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
    const int chunk = job.audioEncoder->frame_size;
    while (av_audio_fifo_size(job.musicFifo.get()) >= chunk) {
        FramePtr frame;
        const int result = allocEncoderFrame(job, frame, job.audioEncoder.get(), chunk);
        if (result < 0) {
            state.lastResult = result;
            return false;
        }
        readFifoFrame(job, job.musicFifo.get(), frame.get(), chunk);
        state.sampleCounter += frame->nb_samples;
        frame->pts = state.sampleCounter;
        if (!encodeFrame(job, state, frame.get()))
            return false;
    }
    return true;
}

// Decodes one music packet and encodes it through the single-input graph.
bool reencodeMusicPass(MixJob &job, LoopState &state) {
    AVPacket *packet = state.musicPacket.get();
    int result = av_read_frame(job.musicInput.get(), packet);
    state.lastResult = result;
    if (result == AVERROR_EOF) {
        result = rewindMusic(job, state);
        if (result >= 0)
            result = av_read_frame(job.musicInput.get(), packet);
        state.lastResult = result;
    }
    if (result < 0)
        return false;
    if (packet->stream_index != job.musicStreamIndex) {
        av_packet_unref(packet);
        return true;
    }
    AVCodecContext *decoder = job.musicDecoder.get();
    result = avcodec_send_packet(decoder, packet);
    av_packet_unref(packet);
    state.lastResult = result;
    if (result < 0)
        return true;

    AVFrame *music = state.musicFrame.get();
    AVFrame *converted = state.sinkFrame.get();
    for (;;) {
        result = avcodec_receive_frame(decoder, music);
        if (isAgainOrEnd(result))
            return true;
        if (result < 0) {
            state.lastResult = result;
            return true;
        }
        state.musicSoundSinceRewind = true;
        result = av_buffersrc_add_frame_flags(job.firstSource, music, 0);
        av_frame_unref(music);
        if (result < 0) {
            // A frame the graph cannot take ends the run; it must not pass as finished.
            state.lastResult = result;
            return false;
        }
        for (;;) {
            result = av_buffersink_get_frame(job.sinkFilter, converted);
            if (isAgainOrEnd(result))
                break;
            if (result < 0) {
                state.lastResult = result;
                return false;
            }
            const bool encoded = encodeThroughFifo(job, state, converted);
            av_frame_unref(converted);
            if (!encoded)
                return false;
        }
    }
}

} // namespace

void anchorSoundToVideo(MixJob &job, LoopState &state) {
    // The sound starts where the video's clock starts: at the video's own
    // sound when it is mixed in, else at the picture. Clocks that start
    // before zero (encoder priming) leave the sound at zero.
    const AVStream *anchor = nullptr;
    if (job.mode == MixMode::MixBoth && job.videoAudioStream)
        anchor = job.videoAudioStream;
    else if (job.videoStreamIndex >= 0)
        anchor = job.videoInput->streams[job.videoStreamIndex];
    if (!anchor || anchor->start_time == AV_NOPTS_VALUE || anchor->start_time <= 0)
        return;
    if (job.mode == MixMode::CopyMusic)
        state.loopOffset = av_rescale_q(anchor->start_time, anchor->time_base, job.musicStream->time_base);
    else
        state.encodedPtsShift = av_rescale_q(anchor->start_time, anchor->time_base, job.outputAudioStream->time_base);
}

int rewindMusic(MixJob &job, LoopState &state) {
    if (!state.musicSoundSinceRewind)
        return AVERROR_INVALIDDATA; // a whole pass through the music gave no sound
    state.musicSoundSinceRewind = false;
    const AVStream *stream = job.musicStream;
    const std::int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    int result = av_seek_frame(job.musicInput.get(), job.musicStreamIndex, start, AVSEEK_FLAG_BACKWARD);
    if (result < 0)
        result = avformat_seek_file(job.musicInput.get(), -1, std::numeric_limits<std::int64_t>::min(), 0, 0, 0);
    return result;
}

int allocEncoderFrame(MixJob &, FramePtr &frame, const AVCodecContext *encoder, int sampleCount) {
    frame.reset(av_frame_alloc());
    if (!frame)
        return AVERROR_EXIT;
    frame->nb_samples = sampleCount;
    frame->format = encoder->sample_fmt;
    frame->sample_rate = encoder->sample_rate;
    int result = av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout);
    if (result >= 0)
        result = av_frame_get_buffer(frame.get(), 0);
    if (result < 0) {
        frame.reset();
        return result;
    }
    return 0;
}

int copyPacket(MixJob &job, AVPacket *packet, const AVStream *inStream, const AVStream *outStream, int outIndex) {
    packet->stream_index = outIndex;
    constexpr auto rounding = static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX);
    packet->pts = av_rescale_q_rnd(packet->pts, inStream->time_base, outStream->time_base, rounding);
    packet->dts = av_rescale_q_rnd(packet->dts, inStream->time_base, outStream->time_base, rounding);
    packet->duration = av_rescale_q(packet->duration, inStream->time_base, outStream->time_base);
    packet->pos = -1;
    return av_interleaved_write_frame(job.outputContext.get(), packet) < 0 ? -1 : 0;
}

int resampleToFifo(MixJob &job, ResamplerPtr &resampler, const AVFrame *frame, AudioFifoPtr &fifo) {
    // A stream may change its format midway; the resampler must always match
    // the frame it reads, or it would read past the frame's buffers.
    AVChannelLayout configured{};
    std::int64_t configuredRate = 0;
    AVSampleFormat configuredFormat = AV_SAMPLE_FMT_NONE;
    av_opt_get_chlayout(resampler.get(), "in_chlayout", 0, &configured);
    av_opt_get_int(resampler.get(), "in_sample_rate", 0, &configuredRate);
    av_opt_get_sample_fmt(resampler.get(), "in_sample_fmt", 0, &configuredFormat);
    const AVChannelLayout frameLayout = effectiveLayout(frame->ch_layout);
    const bool matches = configured.nb_channels == frame->ch_layout.nb_channels && configuredRate == frame->sample_rate &&
                         configuredFormat == frame->format;
    av_channel_layout_uninit(&configured);
    if (!matches) {
        const int result = createResampler(job, resampler, frameLayout, static_cast<AVSampleFormat>(frame->format),
                                           frame->sample_rate);
        if (result < 0)
            return result;
    }

    const int capacity = static_cast<int>(av_rescale_rnd(swr_get_delay(resampler.get(), frame->sample_rate) +
                                                             frame->nb_samples,
                                                         kOutputSampleRate, frame->sample_rate, AV_ROUND_UP));
    if (!fifo) {
        fifo.reset(av_audio_fifo_alloc(kOutputSampleFormat, 2, std::max({capacity, frame->nb_samples, 1})));
        if (!fifo)
            return AVERROR(ENOMEM);
    }
    // One conversion buffer serves the whole run; it only ever grows.
    FramePtr &converted = job.conversionBuffer;
    int result = 0;
    if (!converted || converted->nb_samples < capacity) {
        result = allocEncoderFrame(job, converted, job.audioEncoder.get(), std::max(capacity, 1024));
        if (result < 0)
            return result;
    }
    const int produced = swr_convert(resampler.get(), converted->data, capacity,
                                     const_cast<const uint8_t **>(frame->extended_data), frame->nb_samples);
    if (produced < 0)
        return produced == kFifoNeedsMore ? AVERROR_EXTERNAL : produced;
    if (produced > 0) {
        result = av_audio_fifo_write(fifo.get(), reinterpret_cast<void **>(converted->data), produced);
        if (result < produced)
            return result < 0 && result != kFifoNeedsMore ? result : AVERROR(ENOMEM);
    }
    return av_audio_fifo_size(fifo.get()) < job.audioEncoder->frame_size ? kFifoNeedsMore : 0;
}

int readFifoFrame(MixJob &, AVAudioFifo *fifo, AVFrame *frame, int sampleCount) {
    av_audio_fifo_read(fifo, reinterpret_cast<void **>(frame->data), sampleCount);
    return 0;
}

int pushToSource(MixJob &, AVFilterContext *source, AVFrame *frame) {
    return av_buffersrc_add_frame_flags(source, frame, 0) < 0 ? -1 : 0;
}

int readNextMusicFrame(MixJob &job, LoopState &state, AVFrame *frame) {
    AVCodecContext *decoder = job.musicDecoder.get();
    AVPacket *packet = state.musicPacket.get();
    for (;;) {
        int result = avcodec_receive_frame(decoder, frame);
        if (result >= 0) {
            state.musicSoundSinceRewind = true;
            return 0;
        }
        if (job.stopRequested.load())
            return AVERROR_EXIT;
        result = av_read_frame(job.musicInput.get(), packet);
        if (result == AVERROR_EOF) {
            result = rewindMusic(job, state);
            if (result < 0)
                return result;
            continue;
        }
        if (result < 0)
            return result;
        if (packet->stream_index == job.musicStreamIndex)
            avcodec_send_packet(decoder, packet); // an undecodable packet is skipped
        av_packet_unref(packet);
    }
}

void runMixingLoop(MixJob &job, LoopState &state) {
    if (job.mode == MixMode::MixBoth && job.parallelEncoding)
        state.encodeStage = std::make_unique<AudioEncodeStage>(job.audioEncoder.get(), 32);
    for (;;) {
        if (job.stopRequested.load())
            break;
        publishProgress(job);
        bool goOn = false;
        if (job.audioClockMs >= job.videoClockMs || job.mode == MixMode::MixBoth)
            goOn = videoPass(job, state);
        else if (job.mode == MixMode::CopyMusic)
            goOn = copyMusicPass(job, state);
        else
            goOn = reencodeMusicPass(job, state);
        if (!goOn)
            break;
    }
    finishEncodeStage(job, state);
}

} // namespace melvora
