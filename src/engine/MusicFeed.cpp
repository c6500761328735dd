#include "engine/MusicFeed.h"

#include "engine/LoopHelpers.h"
#include "engine/MixGraphs.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace melvora {
namespace {

int writeToFifo(AVAudioFifo *fifo, const float *left, const float *right, int count) {
    if (count <= 0)
        return 0;
    void *planes[2] = {const_cast<float *>(left), const_cast<float *>(right)};
    const int written = av_audio_fifo_write(fifo, planes, count);
    if (written < count)
        return written < 0 ? written : AVERROR(ENOMEM);
    return 0;
}

} // namespace

MusicFeed::MusicFeed(AVFormatContext *input, int streamIndex, AVCodecContext *decoder, const MixSettings &settings,
                     const std::atomic<std::uint8_t> *stopFlag)
    : m_input(input), m_streamIndex(streamIndex), m_decoder(decoder), m_settings(settings), m_stopFlag(stopFlag),
      m_frame(av_frame_alloc()), m_packet(av_packet_alloc()) {
    if (m_settings.loop)
        m_crossfadeTarget = secondsToSamples(m_settings.crossfadeSeconds);
    const AVStream *stream = m_input->streams[m_streamIndex];
    // The decoder moves a frame's stamp past the priming it drops only when
    // it knows the packets' clock.
    if (m_decoder && m_decoder->pkt_timebase.num <= 0)
        m_decoder->pkt_timebase = stream->time_base;
    // The span is only cut by stamps that tell single samples apart (not by
    // Matroska's or ASF's milliseconds).
    const int rate = stream->codecpar->sample_rate;
    const bool fineClock = rate > 0 && av_cmp_q(stream->time_base, AVRational{1, rate}) <= 0;
    if (fineClock && stream->start_time != AV_NOPTS_VALUE) {
        m_spanStart = stream->start_time;
        // A length worked out from the bit rate is a guess: cutting there
        // could lose the song's end.
        if (stream->duration > 0 && m_input->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE)
            m_spanEnd = stream->start_time + stream->duration;
    }
}

void MusicFeed::noteFirstPacket(const AVPacket *packet) {
    const std::int64_t stamp = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (!m_firstPacketStamp && !m_seekedOnce && stamp != AV_NOPTS_VALUE)
        m_firstPacketStamp = stamp;
}

void MusicFeed::spanCut(const AVFrame *frame, int &before, int &after) const {
    before = after = 0;
    const std::int64_t pts = frame->pts != AV_NOPTS_VALUE ? frame->pts : frame->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE || frame->sample_rate <= 0)
        return;
    const AVRational timeBase = m_input->streams[m_streamIndex]->time_base;
    const AVRational sampleBase{1, frame->sample_rate};
    const std::int64_t count = frame->nb_samples;
    if (m_spanStart && pts < *m_spanStart)
        before = static_cast<int>(std::clamp<std::int64_t>(av_rescale_q(*m_spanStart - pts, timeBase, sampleBase), 0,
                                                           count));
    if (m_spanEnd) {
        const std::int64_t inside = av_rescale_q(*m_spanEnd - pts, timeBase, sampleBase);
        after = static_cast<int>(std::clamp<std::int64_t>(count - inside, 0, count - before));
    }
}

bool MusicFeed::runsPlainLoop() const {
    return m_settings.loop && m_settings.musicStartSeconds <= 0 && m_crossfadeTarget == 0;
}

void MusicFeed::playPlanned(std::shared_ptr<const PlannedMusic> planned) {
    m_planned = std::move(planned);
    m_player.emplace(m_planned->left, m_planned->right, m_planned->sequence, &m_planned->stretched);
}

int MusicFeed::readPlanned(AVAudioFifo *into, int minSamples) {
    constexpr int kBlock = 4096;
    m_scratch[0].resize(kBlock);
    m_scratch[1].resize(kBlock);
    while (av_audio_fifo_size(into) < minSamples) {
        const int wanted = std::min(kBlock, minSamples - av_audio_fifo_size(into));
        const auto rendered = int(m_player->render(m_scratch[0].data(), m_scratch[1].data(), wanted));
        if (rendered == 0)
            return writeSilence(minSamples - av_audio_fifo_size(into), into);
        const int result = writeToFifo(into, m_scratch[0].data(), m_scratch[1].data(), rendered);
        if (result < 0)
            return result;
    }
    return 0;
}

int MusicFeed::readPass(std::vector<float> &left, std::vector<float> &right, std::int64_t mostSamples) {
    AudioFifoPtr fifo(av_audio_fifo_alloc(kOutputSampleFormat, 2, 1 << 16));
    if (!fifo)
        return AVERROR(ENOMEM);
    m_padWithSilence = false;
    left.clear();
    right.clear();
    while (!m_finished) {
        int result = read(fifo.get(), av_audio_fifo_size(fifo.get()) + 1);
        const int held = av_audio_fifo_size(fifo.get());
        if (result >= 0 && held > 0) {
            if (std::int64_t(left.size()) + held > mostSamples)
                return AVERROR(E2BIG);
            const std::size_t at = left.size();
            left.resize(at + held);
            right.resize(at + held);
            void *planes[2] = {left.data() + at, right.data() + at};
            result = av_audio_fifo_read(fifo.get(), planes, held);
        }
        if (result < 0)
            return result;
    }
    return 0;
}

int MusicFeed::read(AVAudioFifo *into, int minSamples) {
    if (!m_frame || !m_packet || !into)
        return AVERROR(ENOMEM);
    if (m_player)
        return readPlanned(into, minSamples);
    if (!m_started) {
        m_started = true;
        if (m_settings.musicStartSeconds > 0) {
            const int result = seekToPassStart();
            if (result < 0)
                return result;
        }
    }
    while (av_audio_fifo_size(into) < minSamples) {
        if (m_finished)
            return m_padWithSilence ? writeSilence(minSamples - av_audio_fifo_size(into), into) : 0;
        int result = runsPlainLoop() ? nextFramePlainLoop(m_frame.get()) : nextFrame(m_frame.get());
        if (result < 0)
            return result;
        if (result == kPassEnded) {
            // Passes that are blended or followed by silence need their very
            // last samples; a plain seam lets the resampler run on instead.
            if (m_crossfadeTarget > 0 || !m_settings.loop) {
                result = flushResampler(into);
                if (result < 0)
                    return result;
            }
            result = endPass(into);
            if (result < 0)
                return result;
            continue;
        }
        result = convertFrame(m_frame.get(), into);
        av_frame_unref(m_frame.get());
        if (result < 0)
            return result;
    }
    return 0;
}

int MusicFeed::nextFramePlainLoop(AVFrame *frame) {
    for (;;) {
        int result = avcodec_receive_frame(m_decoder, frame);
        if (result >= 0) {
            m_soundSincePassStart = true;
            return 0;
        }
        if (m_stopFlag && m_stopFlag->load())
            return AVERROR_EXIT;
        result = av_read_frame(m_input, m_packet.get());
        if (result == AVERROR_EOF) {
            if (!m_soundSincePassStart)
                return AVERROR_INVALIDDATA; // a whole pass through the music gave no sound
            m_soundSincePassStart = false;
            result = seekToPassStart();
            if (result < 0)
                return result;
            continue;
        }
        if (result < 0)
            return result;
        if (m_packet->stream_index == m_streamIndex) {
            noteFirstPacket(m_packet.get());
            result = avcodec_send_packet(m_decoder, m_packet.get());
        }
        av_packet_unref(m_packet.get());
        // An undecodable packet is skipped; running out of memory is no
        // property of the packet and ends the read.
        if (result == AVERROR(ENOMEM))
            return result;
    }
}

int MusicFeed::nextFrame(AVFrame *frame) {
    for (;;) {
        const int received = avcodec_receive_frame(m_decoder, frame);
        if (received >= 0)
            return 0;
        if (m_draining) {
            // Everything of this pass is out; the decoder takes packets again.
            avcodec_flush_buffers(m_decoder);
            m_draining = false;
            return kPassEnded;
        }
        if (m_stopFlag && m_stopFlag->load())
            return AVERROR_EXIT;
        int result = av_read_frame(m_input, m_packet.get());
        if (result == AVERROR_EOF) {
            avcodec_send_packet(m_decoder, nullptr); // let the decoder give its last frames
            m_draining = true;
            continue;
        }
        if (result < 0)
            return result;
        if (m_packet->stream_index == m_streamIndex) {
            noteFirstPacket(m_packet.get());
            result = avcodec_send_packet(m_decoder, m_packet.get());
        }
        av_packet_unref(m_packet.get());
        // An undecodable packet is skipped; running out of memory is no
        // property of the packet and ends the read.
        if (result == AVERROR(ENOMEM))
            return result;
    }
}

int MusicFeed::seekToPassStart() {
    m_seekedOnce = true;
    if (m_settings.musicStartSeconds <= 0)
        return seekToStreamStart(m_input, m_streamIndex, m_firstPacketStamp);
    const AVStream *stream = m_input->streams[m_streamIndex];
    const std::int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    const std::int64_t offsetUs = std::llround(m_settings.musicStartSeconds * AV_TIME_BASE);
    const std::int64_t target = start + av_rescale_q(offsetUs, AV_TIME_BASE_Q, stream->time_base);
    int result = av_seek_frame(m_input, m_streamIndex, target, AVSEEK_FLAG_BACKWARD);
    if (result < 0)
        result = avformat_seek_file(m_input, -1, std::numeric_limits<std::int64_t>::min(), offsetUs, offsetUs, 0);
    m_trimPending = true;
    return result;
}

int MusicFeed::ensureResampler(const AVFrame *frame) {
    if (frame->sample_rate <= 0 || frame->ch_layout.nb_channels <= 0)
        return AVERROR_INVALIDDATA;
    if (resamplerTakes(m_resampler.get(), frame))
        return 0;
    m_resampler.reset();
    SwrContext *resampler = nullptr;
    AVChannelLayout outLayout = AV_CHANNEL_LAYOUT_STEREO;
    AVChannelLayout inLayout = effectiveLayout(frame->ch_layout);
    int result = swr_alloc_set_opts2(&resampler, &outLayout, kOutputSampleFormat, kOutputSampleRate, &inLayout,
                                     static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
    if (result >= 0)
        result = swr_init(resampler);
    if (result < 0) {
        swr_free(&resampler);
        return result;
    }
    m_resampler.reset(resampler);
    return 0;
}

int MusicFeed::convertFrame(const AVFrame *frame, AVAudioFifo *into) {
    int result = ensureResampler(frame);
    if (result < 0)
        return result;

    // Cut what lies outside the stream's span, then what lies before the
    // music-start point, by the frame's time stamp.
    int skip = 0, cutAtEnd = 0;
    spanCut(frame, skip, cutAtEnd);
    if (m_trimPending) {
        const std::int64_t pts =
            frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
        if (pts != AV_NOPTS_VALUE) {
            const AVStream *stream = m_input->streams[m_streamIndex];
            const std::int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
            const std::int64_t first = av_rescale_q(pts - start, stream->time_base, AVRational{1, frame->sample_rate});
            const std::int64_t wanted = std::llround(m_settings.musicStartSeconds * frame->sample_rate);
            skip = std::max(skip, static_cast<int>(std::clamp<std::int64_t>(wanted - first, 0, frame->nb_samples)));
        }
        if (skip + cutAtEnd >= frame->nb_samples)
            return 0;
        m_trimPending = false;
    }
    const int count = frame->nb_samples - skip - cutAtEnd;
    if (count <= 0)
        return 0;
    if (!runsPlainLoop())
        m_soundSincePassStart = true;

    const int channels = frame->ch_layout.nb_channels;
    const int bytesPerSample = av_get_bytes_per_sample(static_cast<AVSampleFormat>(frame->format));
    const bool planar = av_sample_fmt_is_planar(static_cast<AVSampleFormat>(frame->format));
    std::vector<const std::uint8_t *> planes(planar ? channels : 1);
    for (std::size_t i = 0; i < planes.size(); ++i)
        planes[i] = frame->extended_data[i] + std::size_t(skip) * bytesPerSample * (planar ? 1 : channels);

    const int capacity = static_cast<int>(av_rescale_rnd(swr_get_delay(m_resampler.get(), frame->sample_rate) + count,
                                                         kOutputSampleRate, frame->sample_rate, AV_ROUND_UP));
    if (!m_converted || m_converted->nb_samples < capacity) {
        m_converted.reset(av_frame_alloc());
        if (!m_converted)
            return AVERROR(ENOMEM);
        m_converted->nb_samples = std::max(capacity, 1024);
        m_converted->format = kOutputSampleFormat;
        m_converted->sample_rate = kOutputSampleRate;
        const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        result = av_channel_layout_copy(&m_converted->ch_layout, &stereo);
        if (result >= 0)
            result = av_frame_get_buffer(m_converted.get(), 0);
        if (result < 0) {
            m_converted.reset();
            return result;
        }
    }
    const int produced = swr_convert(m_resampler.get(), m_converted->data, capacity, planes.data(), count);
    if (produced < 0)
        return produced;
    return emit(reinterpret_cast<const float *>(m_converted->data[0]),
                reinterpret_cast<const float *>(m_converted->data[1]), produced, into);
}

int MusicFeed::flushResampler(AVAudioFifo *into) {
    if (!m_resampler || !m_converted)
        return 0;
    for (;;) {
        const int produced = swr_convert(m_resampler.get(), m_converted->data, m_converted->nb_samples, nullptr, 0);
        if (produced < 0)
            return produced;
        if (produced == 0)
            break;
        const int result = emit(reinterpret_cast<const float *>(m_converted->data[0]),
                                reinterpret_cast<const float *>(m_converted->data[1]), produced, into);
        if (result < 0)
            return result;
    }
    return swr_init(m_resampler.get()); // the next pass starts with an empty history
}

int MusicFeed::emit(const float *left, const float *right, int count, AVAudioFifo *into) {
    if (m_crossfadeTarget == 0)
        return writeToFifo(into, left, right, count);

    if (!m_held) {
        m_held.reset(av_audio_fifo_alloc(kOutputSampleFormat, 2, std::max(count, 1)));
        if (!m_held)
            return AVERROR(ENOMEM);
    }
    m_passSamples += count;
    int offset = 0;
    const std::size_t tailLength = m_tail[0].size();
    if (m_tailPosition < tailLength) {
        // The start of this pass over the end of the last one, equal power.
        const int blended = static_cast<int>(std::min<std::size_t>(count, tailLength - m_tailPosition));
        m_scratch[0].resize(blended);
        m_scratch[1].resize(blended);
        for (int i = 0; i < blended; ++i) {
            const std::size_t at = m_tailPosition + i;
            const double angle = std::numbers::pi / 2 * (double(at) + 0.5) / double(tailLength);
            const double fadingOut = std::cos(angle);
            const double fadingIn = std::sin(angle);
            m_scratch[0][i] = static_cast<float>(m_tail[0][at] * fadingOut + left[i] * fadingIn);
            m_scratch[1][i] = static_cast<float>(m_tail[1][at] * fadingOut + right[i] * fadingIn);
        }
        m_tailPosition += blended;
        const int result = writeToFifo(m_held.get(), m_scratch[0].data(), m_scratch[1].data(), blended);
        if (result < 0)
            return result;
        offset = blended;
    }
    int result = writeToFifo(m_held.get(), left + offset, right + offset, count - offset);
    if (result < 0)
        return result;
    const std::int64_t keep = m_crossfadeLength >= 0 ? m_crossfadeLength : m_crossfadeTarget;
    const int held = av_audio_fifo_size(m_held.get());
    if (held > keep)
        result = releaseHeld(static_cast<int>(held - keep), into);
    return result;
}

int MusicFeed::releaseHeld(int count, AVAudioFifo *into) {
    if (!m_held || count <= 0)
        return 0;
    m_scratch[0].resize(count);
    m_scratch[1].resize(count);
    void *planes[2] = {m_scratch[0].data(), m_scratch[1].data()};
    const int taken = av_audio_fifo_read(m_held.get(), planes, count);
    if (taken < 0)
        return taken;
    return writeToFifo(into, m_scratch[0].data(), m_scratch[1].data(), taken);
}

int MusicFeed::endPass(AVAudioFifo *into) {
    if (!m_soundSincePassStart)
        return AVERROR_INVALIDDATA; // a whole pass through the music gave no sound
    m_soundSincePassStart = false;
    int result = 0;
    if (m_crossfadeTarget > 0) {
        // The overlap is at most half a pass, so that no sample is blended twice.
        if (m_crossfadeLength < 0)
            m_crossfadeLength = std::min(m_crossfadeTarget, m_passSamples / 2);
        if (m_tailPosition < m_tail[0].size()) {
            // A pass shorter than the overlap: what is left of the old tail
            // fades out on its own, and the next pass starts unblended.
            result = releaseHeld(av_audio_fifo_size(m_held.get()), into);
            const std::size_t rest = m_tail[0].size() - m_tailPosition;
            for (std::size_t i = 0; i < rest && result >= 0; ++i) {
                const std::size_t at = m_tailPosition + i;
                const double angle = std::numbers::pi / 2 * (double(at) + 0.5) / double(m_tail[0].size());
                const float left = static_cast<float>(m_tail[0][at] * std::cos(angle));
                const float right = static_cast<float>(m_tail[1][at] * std::cos(angle));
                result = writeToFifo(into, &left, &right, 1);
            }
        } else if (m_held) {
            const int held = av_audio_fifo_size(m_held.get());
            if (held > m_crossfadeLength)
                result = releaseHeld(static_cast<int>(held - m_crossfadeLength), into);
        }
        if (result < 0)
            return result;
        const int tailLength = m_held ? av_audio_fifo_size(m_held.get()) : 0;
        for (std::vector<float> &channel : m_tail)
            channel.resize(tailLength);
        void *planes[2] = {m_tail[0].data(), m_tail[1].data()};
        if (tailLength > 0 && av_audio_fifo_read(m_held.get(), planes, tailLength) < tailLength)
            return AVERROR(ENOMEM);
        m_tailPosition = 0;
    }
    m_passSamples = 0;
    if (!m_settings.loop) {
        m_finished = true;
        return m_held ? releaseHeld(av_audio_fifo_size(m_held.get()), into) : 0;
    }
    return seekToPassStart();
}

int MusicFeed::writeSilence(int count, AVAudioFifo *into) {
    constexpr int kBlock = 4096;
    const std::vector<float> zeros(kBlock, 0.0f);
    while (count > 0) {
        const int block = std::min(count, kBlock);
        const int result = writeToFifo(into, zeros.data(), zeros.data(), block);
        if (result < 0)
            return result;
        count -= block;
    }
    return 0;
}

} // namespace melvora
