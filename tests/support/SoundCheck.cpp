#include "SoundCheck.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace melvora::test {
namespace {

constexpr double kTwoPi = 6.283185307179586;
// Semitones above A2 (110 Hz) of the chords the music cycles through.
constexpr int kChords[][4] = {{3, 7, 10, 15}, {8, 12, 15, 20}, {10, 14, 17, 22}, {5, 8, 12, 17},
                              {0, 4, 7, 12},  {7, 11, 14, 19}, {2, 5, 9, 14},   {12, 15, 19, 24}};
constexpr double kChordSeconds = 1.7;
constexpr int kTableSize = 4096;

} // namespace

RichMusic::RichMusic(std::uint32_t seed) : m_state(seed * 2654435761u + 1) {}

float RichMusic::noise() {
    m_state ^= m_state << 13;
    m_state ^= m_state >> 17;
    m_state ^= m_state << 5;
    return float(m_state) / 2147483648.0f - 1.0f;
}

// Everything is computed incrementally (table oscillators, decays by
// multiplication), so that making the sound costs little beside encoding it.
void RichMusic::fill(float *left, float *right, int count) {
    static const std::vector<float> table = [] {
        std::vector<float> values(kTableSize + 1);
        for (int i = 0; i <= kTableSize; ++i)
            values[i] = float(std::sin(kTwoPi * i / kTableSize));
        return values;
    }();
    const auto chordSamples = std::int64_t(kChordSeconds * kSoundRate);
    const double chordDecay = std::exp(-0.8 / kSoundRate), kickDecay = std::exp(-1.0 / (0.05 * kSoundRate)),
                 snareDecay = std::exp(-1.0 / (0.03 * kSoundRate)), hatDecay = std::exp(-1.0 / (0.004 * kSoundRate));
    for (int i = 0; i < count; ++i, ++m_sample) {
        const std::int64_t inChord = m_sample % chordSamples;
        if (inChord == 0) {
            const auto chord = m_sample / chordSamples;
            for (int note = 0; note < 4; ++note)
                m_increments[note] = 110.0 * std::pow(2.0, kChords[chord % 8][note] / 12.0) / kSoundRate;
            m_chordLevel = 1.0;
        }
        m_chordLevel *= chordDecay;
        const double envelope = std::min(1.0, double(inChord) / (0.02 * kSoundRate)) * m_chordLevel;
        double l = 0, r = 0;
        for (int note = 0; note < 4; ++note) {
            const double pan = 0.2 + 0.2 * note;
            double value = 0;
            for (int harmonic = 0; harmonic < 5; ++harmonic) {
                double &phase = m_phases[note][harmonic];
                phase += m_increments[note] * (harmonic + 1);
                phase -= std::floor(phase);
                value += table[std::size_t(phase * kTableSize)] / (harmonic + 1);
            }
            value *= envelope * 0.06;
            l += value * (1 - pan);
            r += value * pan;
        }
        // A noise bed, louder in bursts of hiss.
        m_pinkLeft = 0.97f * m_pinkLeft + 0.03f * noise();
        m_pinkRight = 0.97f * m_pinkRight + 0.03f * noise();
        const double hiss = m_sample % std::int64_t(3.7 * kSoundRate) < std::int64_t(0.3 * kSoundRate) ? 0.04 : 0.003;
        l += 0.2 * m_pinkLeft + hiss * noise();
        r += 0.2 * m_pinkRight + hiss * noise();
        // Percussion: a falling kick on the beat, a snare off the beat, hi-hat clicks.
        const std::int64_t beat = m_sample % (kSoundRate / 2);
        if (beat == 0) {
            m_kickLevel = 0.5;
            m_kickPhase = 0;
        }
        if (beat == kSoundRate / 4)
            m_snareLevel = 0.3;
        if (m_sample % (kSoundRate / 8) == 0)
            m_hatLevel = 0.15;
        m_kickLevel *= kickDecay;
        m_snareLevel *= snareDecay;
        m_hatLevel *= hatDecay;
        m_kickPhase += (50 + 100 * m_kickLevel) / kSoundRate;
        m_kickPhase -= std::floor(m_kickPhase);
        const double kick = m_kickLevel * table[std::size_t(m_kickPhase * kTableSize)];
        const double snare = m_snareLevel * noise();
        const float hatNoise = noise();
        const double hat = m_hatLevel * (hatNoise - m_hatLast);
        m_hatLast = hatNoise;
        left[i] = float(0.8 * (l + kick + snare * 0.8 + hat * 1.2));
        right[i] = float(0.8 * (r + kick + snare * 1.2 + hat * 0.8));
    }
}

StereoSound RichMusic::make(double seconds) {
    StereoSound sound;
    const auto length = std::size_t(seconds * kSoundRate);
    sound.left.resize(length);
    sound.right.resize(length);
    fill(sound.left.data(), sound.right.data(), int(length));
    return sound;
}

int soundFrame(const StereoSound &sound, std::size_t first, FramePtr &frame) {
    frame.reset(av_frame_alloc());
    if (!frame)
        return AVERROR(ENOMEM);
    frame->nb_samples = int(std::min<std::size_t>(kBlock, sound.size() - first));
    frame->format = AV_SAMPLE_FMT_FLTP;
    frame->sample_rate = kSoundRate;
    av_channel_layout_default(&frame->ch_layout, 2);
    frame->pts = std::int64_t(first);
    const int result = av_frame_get_buffer(frame.get(), 0);
    if (result < 0)
        return result;
    std::copy_n(sound.left.data() + first, frame->nb_samples, reinterpret_cast<float *>(frame->data[0]));
    std::copy_n(sound.right.data() + first, frame->nb_samples, reinterpret_cast<float *>(frame->data[1]));
    return 0;
}

int openRunLikeAacEncoder(CodecContextPtr &encoder) { return openRunAacEncoder(encoder); }

int decodeAac(const AVCodecContext *encoder, const std::vector<PacketPtr> &packets, std::size_t length,
              StereoSound &decoded) {
    const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_AAC);
    CodecContextPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder)
        return AVERROR(ENOMEM);
    int result = av_channel_layout_copy(&decoder->ch_layout, &encoder->ch_layout);
    if (result < 0)
        return result;
    decoder->sample_rate = encoder->sample_rate;
    if (encoder->extradata_size > 0) {
        decoder->extradata = static_cast<std::uint8_t *>(av_mallocz(encoder->extradata_size + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!decoder->extradata)
            return AVERROR(ENOMEM);
        std::copy_n(encoder->extradata, encoder->extradata_size, decoder->extradata);
        decoder->extradata_size = encoder->extradata_size;
    }
    if ((result = avcodec_open2(decoder.get(), codec, nullptr)) < 0)
        return result;
    decoded = StereoSound{};
    std::size_t skip = kBlock; // the priming packet's samples lie before 0
    FramePtr frame(av_frame_alloc());
    if (!frame)
        return AVERROR(ENOMEM);
    const auto receive = [&]() {
        while ((result = avcodec_receive_frame(decoder.get(), frame.get())) >= 0) {
            const auto *l = reinterpret_cast<const float *>(frame->data[0]);
            const auto *r = reinterpret_cast<const float *>(frame->data[1]);
            for (int i = 0; i < frame->nb_samples; ++i) {
                if (skip > 0) {
                    --skip;
                    continue;
                }
                decoded.left.push_back(l[i]);
                decoded.right.push_back(r[i]);
            }
            av_frame_unref(frame.get());
        }
        return result == AVERROR(EAGAIN) || result == AVERROR_EOF ? 0 : result;
    };
    for (const PacketPtr &packet : packets) {
        if ((result = avcodec_send_packet(decoder.get(), packet.get())) < 0)
            return result;
        if ((result = receive()) < 0)
            return result;
    }
    if ((result = avcodec_send_packet(decoder.get(), nullptr)) < 0)
        return result;
    if ((result = receive()) < 0)
        return result;
    decoded.left.resize(std::min(decoded.left.size(), length));
    decoded.right.resize(std::min(decoded.right.size(), length));
    return 0;
}

std::vector<double> blockSnr(const StereoSound &source, const StereoSound &decoded, std::vector<std::size_t> *blocks) {
    std::vector<double> snr;
    const std::size_t length = std::min(source.size(), decoded.size());
    for (std::size_t first = 0; first + kBlock <= length; first += kBlock) {
        double signal = 0, error = 0;
        for (std::size_t i = first; i < first + kBlock; ++i) {
            signal += double(source.left[i]) * source.left[i] + double(source.right[i]) * source.right[i];
            const double dl = double(source.left[i]) - decoded.left[i];
            const double dr = double(source.right[i]) - decoded.right[i];
            error += dl * dl + dr * dr;
        }
        if (signal < 2.0 * kBlock * 1e-6)
            continue;
        snr.push_back(10 * std::log10(signal / std::max(error, 1e-20)));
        if (blocks)
            blocks->push_back(first / kBlock);
    }
    return snr;
}

SnrSummary summarize(std::vector<double> snr) {
    SnrSummary summary;
    if (snr.empty())
        return summary;
    summary.mean = std::accumulate(snr.begin(), snr.end(), 0.0) / double(snr.size());
    std::sort(snr.begin(), snr.end());
    summary.worst = snr.front();
    summary.firstPercentile = snr[std::size_t(double(snr.size() - 1) * 0.01)];
    return summary;
}

std::int64_t payloadBytes(const std::vector<PacketPtr> &packets) {
    std::int64_t bytes = 0;
    for (const PacketPtr &packet : packets)
        bytes += packet->size;
    return bytes;
}

} // namespace melvora::test
