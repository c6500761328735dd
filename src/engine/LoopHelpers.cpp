// The small operations the mixing loop is made of.

#include "engine/LoopHelpers.h"
#include "engine/MixSteps.h"

#include <algorithm>
#include <limits>
#include <vector>

extern "C" {
#include <libavfilter/buffersrc.h>
#include <libavutil/opt.h>
}

namespace melvora {

AVChannelLayout stereoLayout() {
    AVChannelLayout layout{};
    av_channel_layout_default(&layout, 2);
    return layout;
}

AVChannelLayout effectiveLayout(const AVChannelLayout &layout) {
    // Only native (mask) layouts are kept as they are; anything else becomes
    // the default layout for its channel count, which needs no allocation.
    AVChannelLayout result{};
    if (layout.order == AV_CHANNEL_ORDER_NATIVE && av_channel_layout_check(&layout))
        av_channel_layout_from_mask(&result, layout.u.mask);
    else
        av_channel_layout_default(&result, layout.nb_channels > 0 ? layout.nb_channels : 2);
    return result;
}

std::int64_t timestampToMs(std::int64_t timestamp, AVRational timeBase) {
    // Integer milliseconds first, then the time base as a floating quotient.
    return static_cast<std::int64_t>(static_cast<double>(timestamp * 1000) * av_q2d(timeBase));
}

int openRunAacEncoder(CodecContextPtr &encoder) {
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec)
        return AVERROR_INVALIDDATA;
    CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context)
        return AVERROR(ENOMEM);
    context->bit_rate = kOutputBitRate;
    context->sample_fmt = kOutputSampleFormat;
    context->sample_rate = kOutputSampleRate;
    context->ch_layout = stereoLayout();
    context->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
    // Frames are stamped by counting samples, so the encoder counts in samples too.
    context->time_base = AVRational{1, kOutputSampleRate};
    const int result = avcodec_open2(context.get(), codec, nullptr);
    if (result < 0)
        return result;
    encoder = std::move(context);
    return 0;
}

namespace {

// Gives a whole planar frame its planes from the run's pool (made on first
// use): 1 when it did, 0 when the frame is of another kind and needs buffers
// of its own, or AVERROR(ENOMEM).
int takePooledPlanes(MixRun &run, AVFrame *frame) {
    const int channels = frame->ch_layout.nb_channels;
    if (frame->nb_samples != kMixChunkSamples)
        return 0;
    int lineSize = 0;
    if (av_samples_get_buffer_size(&lineSize, 1, frame->nb_samples, kOutputSampleFormat, 0) < 0)
        return 0;
    if (!run.encoderFramePool) {
        run.encoderFramePool.reset(av_buffer_pool_init(std::size_t(lineSize), nullptr));
        if (!run.encoderFramePool)
            return AVERROR(ENOMEM);
    }
    for (int channel = 0; channel < channels; ++channel) {
        frame->buf[channel] = av_buffer_pool_get(run.encoderFramePool.get());
        if (!frame->buf[channel])
            return AVERROR(ENOMEM); // the frame's deleter returns what was taken
        frame->data[channel] = frame->buf[channel]->data;
    }
    frame->extended_data = frame->data;
    frame->linesize[0] = lineSize;
    return 1;
}

} // namespace

int allocEncoderFrame(MixRun &run, FramePtr &frame, int sampleCount) {
    frame.reset(av_frame_alloc());
    if (!frame)
        return AVERROR(ENOMEM);
    frame->nb_samples = sampleCount;
    frame->format = kOutputSampleFormat;
    frame->sample_rate = kOutputSampleRate;
    frame->ch_layout = stereoLayout();
    int result = takePooledPlanes(run, frame.get());
    if (result == 0)
        result = av_frame_get_buffer(frame.get(), 0);
    if (result < 0) {
        frame.reset();
        return result;
    }
    return 0;
}

int copyPacket(MixRun &run, AVPacket *packet, const AVStream *inStream, const AVStream *outStream, int outIndex) {
    packet->stream_index = outIndex;
    constexpr auto rounding = static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX);
    packet->pts = av_rescale_q_rnd(packet->pts, inStream->time_base, outStream->time_base, rounding);
    packet->dts = av_rescale_q_rnd(packet->dts, inStream->time_base, outStream->time_base, rounding);
    packet->duration = av_rescale_q(packet->duration, inStream->time_base, outStream->time_base);
    packet->pos = -1;
    return av_interleaved_write_frame(run.outputContext.get(), packet);
}

bool resamplerTakes(SwrContext *resampler, const AVFrame *frame) {
    if (!resampler)
        return false;
    AVChannelLayout configured{};
    std::int64_t configuredRate = 0;
    AVSampleFormat configuredFormat = AV_SAMPLE_FMT_NONE;
    // A failed read leaves the default, which differs from any real frame
    // and so rebuilds the resampler: nothing to act on here.
    av_opt_get_chlayout(resampler, "in_chlayout", 0, &configured);
    av_opt_get_int(resampler, "in_sample_rate", 0, &configuredRate);
    av_opt_get_sample_fmt(resampler, "in_sample_fmt", 0, &configuredFormat);
    const bool matches = configured.nb_channels == frame->ch_layout.nb_channels && configuredRate == frame->sample_rate &&
                         configuredFormat == frame->format;
    av_channel_layout_uninit(&configured);
    return matches;
}

namespace {

// The resampler must always match the frame it reads, or it would read past
// the frame's buffers.
int matchResamplerToFrame(MixRun &run, ResamplerPtr &resampler, const AVFrame *frame) {
    if (resamplerTakes(resampler.get(), frame))
        return 0;
    return createResampler(run, resampler, effectiveLayout(frame->ch_layout), static_cast<AVSampleFormat>(frame->format),
                           frame->sample_rate);
}

// Converts input (null: the resampler's remainder) into the FIFO.
int convertIntoFifo(MixRun &run, SwrContext *resampler, const std::uint8_t **input, int inputSamples, int capacity,
                    AudioFifoPtr &fifo) {
    if (!fifo) {
        fifo.reset(av_audio_fifo_alloc(kOutputSampleFormat, 2, std::max({capacity, inputSamples, 1})));
        if (!fifo)
            return AVERROR(ENOMEM);
    }
    // One conversion buffer serves the whole run; it only ever grows.
    FramePtr &converted = run.conversionBuffer;
    if (!converted || converted->nb_samples < capacity) {
        const int result = allocEncoderFrame(run, converted, std::max(capacity, kMixChunkSamples));
        if (result < 0)
            return result;
    }
    const int produced = swr_convert(resampler, converted->data, capacity, input, inputSamples);
    if (produced < 0)
        return produced;
    if (produced > 0) {
        const int written = av_audio_fifo_write(fifo.get(), reinterpret_cast<void **>(converted->data), produced);
        if (written < produced)
            return written < 0 ? written : AVERROR(ENOMEM);
    }
    return av_audio_fifo_size(fifo.get());
}

} // namespace

int resampleToFifo(MixRun &run, ResamplerPtr &resampler, const AVFrame *frame, AudioFifoPtr &fifo) {
    const int matched = matchResamplerToFrame(run, resampler, frame);
    if (matched < 0)
        return matched;
    const int capacity = static_cast<int>(av_rescale_rnd(swr_get_delay(resampler.get(), frame->sample_rate) +
                                                             frame->nb_samples,
                                                         kOutputSampleRate, frame->sample_rate, AV_ROUND_UP));
    return convertIntoFifo(run, resampler.get(), const_cast<const std::uint8_t **>(frame->extended_data),
                           frame->nb_samples, capacity, fifo);
}

int flushResamplerToFifo(MixRun &run, ResamplerPtr &resampler, AudioFifoPtr &fifo) {
    if (!resampler)
        return fifo ? av_audio_fifo_size(fifo.get()) : 0;
    const int capacity = static_cast<int>(swr_get_out_samples(resampler.get(), 0)) + 32;
    return convertIntoFifo(run, resampler.get(), nullptr, 0, capacity, fifo);
}

int appendToFifo(AudioFifoPtr &fifo, const AVFrame *frame) {
    if (!fifo) {
        fifo.reset(av_audio_fifo_alloc(kOutputSampleFormat, 2, std::max(frame->nb_samples, 1)));
        if (!fifo)
            return AVERROR(ENOMEM);
    }
    const int written =
        av_audio_fifo_write(fifo.get(), reinterpret_cast<void **>(frame->extended_data), frame->nb_samples);
    if (written < frame->nb_samples)
        return written < 0 ? written : AVERROR(ENOMEM);
    return 0;
}

int appendSilence(AudioFifoPtr &fifo, std::int64_t sampleCount) {
    constexpr int kBlock = 4096;
    static const std::vector<float> zeros(kBlock, 0.0f);
    if (!fifo) {
        fifo.reset(av_audio_fifo_alloc(kOutputSampleFormat, 2, kBlock));
        if (!fifo)
            return AVERROR(ENOMEM);
    }
    void *planes[2] = {const_cast<float *>(zeros.data()), const_cast<float *>(zeros.data())};
    while (sampleCount > 0) {
        const int block = static_cast<int>(std::min<std::int64_t>(sampleCount, kBlock));
        const int written = av_audio_fifo_write(fifo.get(), planes, block);
        if (written < block)
            return written < 0 ? written : AVERROR(ENOMEM);
        sampleCount -= block;
    }
    return 0;
}

int readFifoFrame(MixRun &, AVAudioFifo *fifo, AVFrame *frame, int sampleCount) {
    return av_audio_fifo_read(fifo, reinterpret_cast<void **>(frame->data), sampleCount);
}

int takeFifoFrame(MixRun &run, AVAudioFifo *fifo, int sampleCount, std::int64_t pts, FramePtr &frame) {
    const int result = allocEncoderFrame(run, frame, sampleCount);
    if (result < 0)
        return result;
    const int read = readFifoFrame(run, fifo, frame.get(), sampleCount);
    if (read < sampleCount) {
        frame.reset();
        return read < 0 ? read : AVERROR_BUG; // callers take only what the FIFO holds
    }
    frame->pts = pts;
    return 0;
}

int pushToSource(MixRun &, AVFilterContext *source, AVFrame *frame) {
    return av_buffersrc_add_frame_flags(source, frame, 0);
}

int seekToStreamStart(AVFormatContext *input, int streamIndex, std::optional<std::int64_t> firstPacketStamp) {
    if (firstPacketStamp && av_seek_frame(input, streamIndex, *firstPacketStamp, AVSEEK_FLAG_BACKWARD) >= 0)
        return 0;
    const AVStream *stream = input->streams[streamIndex];
    const std::int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    int result = av_seek_frame(input, streamIndex, start, AVSEEK_FLAG_BACKWARD);
    if (result < 0)
        result = avformat_seek_file(input, -1, std::numeric_limits<std::int64_t>::min(), 0, 0, 0);
    return result;
}

int readNextMusicFrame(MixRun &run, AudioFifoPtr &fifo, int minSamples) {
    if (!fifo) {
        fifo.reset(av_audio_fifo_alloc(kOutputSampleFormat, 2, std::max(minSamples, 1)));
        if (!fifo)
            return AVERROR(ENOMEM);
    }
    return run.musicFeed->read(fifo.get(), minSamples);
}

} // namespace melvora
