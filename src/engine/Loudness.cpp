#include "engine/Loudness.h"

#include "engine/MixGraphs.h"
#include "engine/MixSteps.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <vector>

namespace melvora {

struct LoudnessMeter::State {
    struct MeterDeleter {
        void operator()(ebur128_state *state) const { ebur128_destroy(&state); }
    };
    std::unique_ptr<ebur128_state, MeterDeleter> meter;
    ResamplerPtr converter;
    PeakMeasure peaks = PeakMeasure::None;
    int channels = 0;
    int rate = 0;
    double earlierPeak = 0; // linear, of the meters a change of format replaced
    std::vector<float> samples;

    double peakOfMeter() const {
        double peak = 0;
        for (int channel = 0; meter && peaks != PeakMeasure::None && channel < channels; ++channel) {
            double value = 0;
            const int measured = peaks == PeakMeasure::True ? ebur128_true_peak(meter.get(), unsigned(channel), &value)
                                                            : ebur128_sample_peak(meter.get(), unsigned(channel), &value);
            if (measured == EBUR128_SUCCESS)
                peak = std::max(peak, value);
        }
        return peak;
    }
};

LoudnessMeter::LoudnessMeter(PeakMeasure peaks) : m_state(std::make_unique<State>()) {
    m_state->peaks = peaks;
}

LoudnessMeter::~LoudnessMeter() = default;

int LoudnessMeter::add(const AVFrame *frame) {
    State &s = *m_state;
    const int channels = frame->ch_layout.nb_channels;
    if (channels <= 0 || frame->sample_rate <= 0)
        return AVERROR_INVALIDDATA;
    if (!s.meter || channels != s.channels || frame->sample_rate != s.rate) {
        // A change of format midway starts the measurement afresh, as a new
        // meter would; real sound does not change.
        s.earlierPeak = std::max(s.earlierPeak, s.peakOfMeter());
        const int peakMode = s.peaks == PeakMeasure::True     ? EBUR128_MODE_TRUE_PEAK
                             : s.peaks == PeakMeasure::Sample ? EBUR128_MODE_SAMPLE_PEAK
                                                              : 0;
        const int mode = EBUR128_MODE_I | peakMode;
        s.meter.reset(ebur128_init(unsigned(channels), unsigned(frame->sample_rate), mode));
        if (!s.meter)
            return AVERROR(ENOMEM);
        s.converter.reset();
        s.channels = channels;
        s.rate = frame->sample_rate;
    }
    if (!s.converter || !resamplerTakes(s.converter.get(), frame)) {
        s.converter.reset();
        SwrContext *converter = nullptr;
        AVChannelLayout layout = effectiveLayout(frame->ch_layout);
        int result = swr_alloc_set_opts2(&converter, &layout, AV_SAMPLE_FMT_FLT, frame->sample_rate, &layout,
                                         static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
        if (result >= 0)
            result = swr_init(converter);
        if (result < 0) {
            swr_free(&converter);
            return result;
        }
        s.converter.reset(converter);
    }
    s.samples.resize(std::size_t(frame->nb_samples) * std::size_t(channels));
    auto *out = reinterpret_cast<std::uint8_t *>(s.samples.data());
    const int converted = swr_convert(s.converter.get(), &out, frame->nb_samples,
                                      const_cast<const std::uint8_t **>(frame->extended_data), frame->nb_samples);
    if (converted < 0)
        return converted;
    if (ebur128_add_frames_float(s.meter.get(), s.samples.data(), std::size_t(converted)) != EBUR128_SUCCESS)
        return AVERROR(ENOMEM);
    return 0;
}

std::optional<double> LoudnessMeter::integrated() const {
    double lufs = 0;
    if (!m_state->meter || ebur128_loudness_global(m_state->meter.get(), &lufs) != EBUR128_SUCCESS)
        return std::nullopt;
    // Silence (and sound too short for one block) measures -70 LUFS, the
    // meter's gate.
    return std::isfinite(lufs) ? lufs : -70.0;
}

double LoudnessMeter::peakDb() const {
    return 20 * std::log10(std::max(m_state->earlierPeak, m_state->peakOfMeter()));
}

int measureIntegratedLoudness(AVFormatContext *input, int streamIndex, AVCodecContext *decoder, double &lufs,
                              const std::atomic<std::uint8_t> *stopFlag) {
    if (!input || !decoder || streamIndex < 0 || streamIndex >= static_cast<int>(input->nb_streams))
        return AVERROR(EINVAL);
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    if (!packet || !frame)
        return AVERROR(ENOMEM);
    LoudnessMeter meter;
    std::optional<std::int64_t> firstStamp;
    bool inputEnded = false;
    for (;;) {
        int result = avcodec_receive_frame(decoder, frame.get());
        if (result >= 0) {
            result = meter.add(frame.get());
            av_frame_unref(frame.get());
            if (result < 0)
                return result;
            continue;
        }
        if (result == AVERROR_EOF || inputEnded)
            break;
        if (stopFlag && stopFlag->load())
            return AVERROR_EXIT;
        result = av_read_frame(input, packet.get());
        if (result == AVERROR_EOF) {
            inputEnded = true;
            result = avcodec_send_packet(decoder, nullptr);
        } else if (result >= 0 && packet->stream_index == streamIndex) {
            if (!firstStamp)
                firstStamp = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            result = avcodec_send_packet(decoder, packet.get());
            av_packet_unref(packet.get());
            if (result == AVERROR_INVALIDDATA)
                result = 0; // an undecodable packet is skipped
        } else if (result >= 0) {
            av_packet_unref(packet.get());
        }
        if (result < 0)
            return result;
    }
    avcodec_flush_buffers(decoder);
    const int result = seekToStreamStart(input, streamIndex, firstStamp);
    if (result < 0)
        return result;
    const std::optional<double> integrated = meter.integrated();
    if (!integrated)
        return AVERROR_INVALIDDATA; // no sound at all
    lufs = *integrated;
    return 0;
}

int measureIntegratedLoudness(const std::string &path, double &lufs, std::string *error,
                              const std::atomic<std::uint8_t> *stopFlag) {
    auto fail = [error](const char *step, int code) {
        if (error)
            *error = std::string(step) + " (" + ffmpegErrorText(code) + ")";
        return code;
    };
    // A job record of its own gives the measurement the run's local-only open.
    MixJob scratch;
    InputContextPtr input;
    int result = openLocalInput(scratch, input, path);
    if (result < 0)
        return fail("Could not open the music file", result);
    result = avformat_find_stream_info(input.get(), nullptr);
    if (result < 0)
        return fail("Could not read the music file's stream information", result);
    int streamIndex = -1;
    CodecContextPtr decoder;
    result = openMusicStream(input.get(), streamIndex, decoder);
    if (result < 0)
        return fail("Could not open a decoder for the music", result);
    result = measureIntegratedLoudness(input.get(), streamIndex, decoder.get(), lufs, stopFlag);
    if (result < 0)
        return fail("Could not measure the music's loudness", result);
    return 0;
}

double loudnessGainDb(double measuredLufs, double targetLufs) {
    const MixControlInfo &level = mixControlInfo(MixControl::MusicGain);
    return std::clamp(targetLufs - measuredLufs, level.minimum, level.maximum);
}

MixSettings withMeasuredLoudness(MixSettings settings, double measuredLufs) {
    if (settings.musicLoudnessLufs) {
        settings.musicGainDb = loudnessGainDb(measuredLufs, *settings.musicLoudnessLufs);
        settings.musicLoudnessLufs.reset();
    }
    return settings;
}

namespace {

// Headroom for the peaks between samples that a sample peak does not show:
// within it the limiter is not expected to act.
constexpr double kInterSamplePeakMarginDb = 0.5;
constexpr int kMostMeasuringPasses = 3;
constexpr double kCloseEnoughLu = 0.1;

} // namespace

int searchWholeMixGain(const MixSettings &settings, const WholeMixPass &pass, WholeMixGain &found) {
    found = WholeMixGain{};
    if (!settings.loudnessLufs)
        return 0;
    const double target = *settings.loudnessLufs;
    const MixControlInfo &gainRange = mixControlInfo(MixControl::MusicGain);
    const auto inRange = [&gainRange](double gain) { return std::clamp(gain, gainRange.minimum, gainRange.maximum); };
    LoudnessMeter plain(PeakMeasure::Sample);
    int result = pass(std::nullopt, plain, 0);
    if (result < 0)
        return result;
    found.passes = 1;
    const double measured = plain.integrated().value_or(-70.0);
    found.measuredLufs = measured;
    if (measured <= -70.0) {
        found.silent = true;
        found.gain = 0.0;
        return 0;
    }
    double gain = inRange(target - measured);
    found.gain = gain;
    if (plain.peakDb() + gain <= wholeMixLimitDb(settings) - kInterSamplePeakMarginDb)
        return 0;
    // Without the limiter, loudness follows the gain one for one.
    double earlierGain = 0, earlierReached = measured;
    while (found.passes < kMostMeasuringPasses) {
        LoudnessMeter limited;
        result = pass(gain, limited, found.passes);
        if (result < 0)
            return result;
        ++found.passes;
        const std::optional<double> reached = limited.integrated();
        if (!reached || std::abs(target - *reached) <= kCloseEnoughLu)
            break;
        const double slope = (*reached - earlierReached) / (gain - earlierGain);
        earlierGain = gain, earlierReached = *reached;
        // A limiter that gives nothing more for more gain is at its ceiling.
        gain = inRange(gain + (target - *reached) / std::clamp(slope, 0.1, 1.0));
        found.gain = gain;
    }
    return 0;
}

} // namespace melvora
