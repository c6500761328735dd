#include "engine/PlainTrackEncoder.h"

#include <algorithm>

namespace melvora {

PlainTrackEncoder::PlainTrackEncoder(CodecContextPtr encoder, int declaredPriming, bool nonNegative)
    : m_encoder(std::move(encoder)) {
    AVCodecContext *context = m_encoder.get();
    SwrContext *resampler = nullptr;
    AVChannelLayout in = stereoLayout();
    int result = swr_alloc_set_opts2(&resampler, &context->ch_layout, context->sample_fmt, context->sample_rate, &in,
                                     kOutputSampleFormat, kOutputSampleRate, 0, nullptr);
    if (result >= 0)
        result = swr_init(resampler);
    if (result < 0) {
        swr_free(&resampler);
        failed(result);
        return;
    }
    m_resampler.reset(resampler);
    m_fifo.reset(av_audio_fifo_alloc(context->sample_fmt, context->ch_layout.nb_channels, 4 * context->frame_size));
    if (!m_fifo) {
        failed(AVERROR(ENOMEM));
        return;
    }
    m_lead = std::max(0, declaredPriming - context->initial_padding);
    m_stampShift = (nonNegative ? declaredPriming : 0) - m_lead;
    if (m_lead > 0) {
        FramePtr silence(av_frame_alloc());
        result = silence ? 0 : AVERROR(ENOMEM);
        if (result >= 0) {
            silence->nb_samples = m_lead;
            silence->format = context->sample_fmt;
            result = av_channel_layout_copy(&silence->ch_layout, &context->ch_layout);
        }
        if (result >= 0)
            result = av_frame_get_buffer(silence.get(), 0);
        if (result >= 0)
            result = av_samples_set_silence(silence->extended_data, 0, m_lead, context->ch_layout.nb_channels,
                                            context->sample_fmt);
        if (result >= 0 && av_audio_fifo_write(m_fifo.get(), reinterpret_cast<void **>(silence->extended_data),
                                               m_lead) < m_lead)
            result = AVERROR(ENOMEM);
        if (result < 0)
            failed(result);
    }
}

int PlainTrackEncoder::failed(int result) {
    if (m_error == 0)
        m_error = result;
    return m_error;
}

int PlainTrackEncoder::convert(const std::uint8_t *const *planes, int sampleCount) {
    const AVCodecContext *context = m_encoder.get();
    const int capacity = static_cast<int>(
        av_rescale_rnd(swr_get_delay(m_resampler.get(), kOutputSampleRate) + sampleCount, context->sample_rate,
                       kOutputSampleRate, AV_ROUND_UP));
    if (!m_converted || m_converted->nb_samples < capacity) {
        m_converted.reset(av_frame_alloc());
        if (!m_converted)
            return AVERROR(ENOMEM);
        m_converted->nb_samples = std::max(capacity, context->frame_size);
        m_converted->format = context->sample_fmt;
        int result = av_channel_layout_copy(&m_converted->ch_layout, &context->ch_layout);
        if (result >= 0)
            result = av_frame_get_buffer(m_converted.get(), 0);
        if (result < 0) {
            m_converted.reset();
            return result;
        }
    }
    const int produced = swr_convert(m_resampler.get(), m_converted->data, capacity,
                                     const_cast<const std::uint8_t **>(planes), sampleCount);
    if (produced <= 0)
        return produced;
    return av_audio_fifo_write(m_fifo.get(), reinterpret_cast<void **>(m_converted->data), produced) < produced
               ? AVERROR(ENOMEM)
               : 0;
}

int PlainTrackEncoder::receivePackets() {
    for (;;) {
        PacketPtr packet(av_packet_alloc());
        if (!packet)
            return AVERROR(ENOMEM);
        const int result = avcodec_receive_packet(m_encoder.get(), packet.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return 0;
        if (result < 0)
            return result;
        packet->pts += m_stampShift;
        packet->dts += m_stampShift;
        m_ready.push_back(std::move(packet));
    }
}

int PlainTrackEncoder::encodeFrames(bool last) {
    AVCodecContext *context = m_encoder.get();
    const int frameSize = context->frame_size > 0 ? context->frame_size : 1024;
    const bool shortLast = context->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME;
    for (;;) {
        const int available = av_audio_fifo_size(m_fifo.get());
        if (available == 0 || (available < frameSize && !last))
            return 0;
        FramePtr frame(av_frame_alloc());
        if (!frame)
            return AVERROR(ENOMEM);
        // A codec without short frames gets its last one filled with silence.
        const int samples = std::min(available, frameSize);
        frame->nb_samples = samples < frameSize && !shortLast ? frameSize : samples;
        frame->format = context->sample_fmt;
        frame->sample_rate = context->sample_rate;
        int result = av_channel_layout_copy(&frame->ch_layout, &context->ch_layout);
        if (result >= 0)
            result = av_frame_get_buffer(frame.get(), 0);
        if (result >= 0)
            result = av_samples_set_silence(frame->extended_data, 0, frame->nb_samples,
                                            context->ch_layout.nb_channels, context->sample_fmt);
        if (result >= 0 && av_audio_fifo_read(m_fifo.get(), reinterpret_cast<void **>(frame->data), samples) < samples)
            result = AVERROR_BUG;
        if (result < 0)
            return result;
        frame->pts = m_nextPts;
        m_nextPts += frame->nb_samples;
        result = avcodec_send_frame(context, frame.get());
        if (result >= 0)
            result = receivePackets();
        if (result < 0)
            return result;
    }
}

int PlainTrackEncoder::submit(FramePtr frame) {
    if (m_cancelled)
        return 0;
    if (m_error < 0)
        return m_error;
    int result = convert(frame->extended_data, frame->nb_samples);
    if (result >= 0)
        result = encodeFrames(false);
    return result < 0 ? failed(result) : 0;
}

void PlainTrackEncoder::takePackets(std::vector<PacketPtr> &packets) {
    for (PacketPtr &packet : m_ready)
        packets.push_back(std::move(packet));
    m_ready.clear();
}

int PlainTrackEncoder::finish() {
    if (m_cancelled || m_error < 0)
        return m_error;
    int result = convert(nullptr, 0); // what the resampler still holds
    if (result >= 0)
        result = encodeFrames(true);
    if (result >= 0)
        result = avcodec_send_frame(m_encoder.get(), nullptr);
    if (result >= 0)
        result = receivePackets();
    return result < 0 ? failed(result) : 0;
}

} // namespace melvora
