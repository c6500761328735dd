#include "engine/Loudness.h"

#include "engine/MixSteps.h"

#include <algorithm>
#include <limits>
#include <optional>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

namespace melvora {
namespace {

// ebur128 writes its numbers with printf, so the decimal point follows the locale.
std::optional<double> parseMeterValue(const char *text) {
    std::string value(text);
    std::replace(value.begin(), value.end(), ',', '.');
    return parseMixNumber(value);
}

// abuffer -> ebur128 (metadata on every frame) -> abuffersink, for frames
// shaped like the decoder's.
int buildMeterGraph(const AVCodecContext *decoder, FilterGraphPtr &graph, AVFilterContext *&source,
                    AVFilterContext *&sink) {
    graph.reset(avfilter_graph_alloc());
    if (!graph)
        return AVERROR(ENOMEM);
    AVChannelLayout layout{};
    if (decoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || decoder->ch_layout.nb_channels <= 0)
        av_channel_layout_default(&layout, std::max(decoder->ch_layout.nb_channels, 1));
    else
        av_channel_layout_copy(&layout, &decoder->ch_layout);
    char layoutName[128] = {};
    av_channel_layout_describe(&layout, layoutName, sizeof layoutName);
    av_channel_layout_uninit(&layout);
    const char *formatName = av_get_sample_fmt_name(decoder->sample_fmt);
    const std::string arguments = "time_base=1/" + std::to_string(decoder->sample_rate) +
                                  ":sample_rate=" + std::to_string(decoder->sample_rate) +
                                  ":sample_fmt=" + (formatName ? formatName : "none") + ":channel_layout=" + layoutName;
    int result = avfilter_graph_create_filter(&source, avfilter_get_by_name("abuffer"), "in", arguments.c_str(),
                                              nullptr, graph.get());
    if (result < 0)
        return result;
    AVFilterContext *meter = nullptr;
    result = avfilter_graph_create_filter(&meter, avfilter_get_by_name("ebur128"), "meter", "metadata=1", nullptr,
                                          graph.get());
    if (result < 0)
        return result;
    result =
        avfilter_graph_create_filter(&sink, avfilter_get_by_name("abuffersink"), "out", nullptr, nullptr, graph.get());
    if (result < 0)
        return result;
    result = avfilter_link(source, 0, meter, 0);
    if (result >= 0)
        result = avfilter_link(meter, 0, sink, 0);
    if (result >= 0)
        result = avfilter_graph_config(graph.get(), nullptr);
    return result;
}

// Takes every frame the meter has ready and keeps its running integrated value.
int drainMeter(AVFilterContext *sink, AVFrame *frame, std::optional<double> &integrated) {
    for (;;) {
        const int result = av_buffersink_get_frame(sink, frame);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return 0;
        if (result < 0)
            return result;
        if (const AVDictionaryEntry *entry = av_dict_get(frame->metadata, "lavfi.r128.I", nullptr, 0)) {
            if (std::optional<double> value = parseMeterValue(entry->value))
                integrated = value;
        }
        av_frame_unref(frame);
    }
}

int openDecoderFor(const AVStream *stream, CodecContextPtr &decoder) {
    const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec)
        return AVERROR_DECODER_NOT_FOUND;
    decoder.reset(avcodec_alloc_context3(codec));
    if (!decoder)
        return AVERROR(ENOMEM);
    int result = avcodec_parameters_to_context(decoder.get(), stream->codecpar);
    if (result < 0)
        return result;
    decoder->pkt_timebase = stream->time_base;
    return avcodec_open2(decoder.get(), codec, nullptr);
}

} // namespace

int measureIntegratedLoudness(AVFormatContext *input, int streamIndex, AVCodecContext *decoder, double &lufs,
                              const std::atomic<std::uint8_t> *stopFlag) {
    if (!input || !decoder || streamIndex < 0 || streamIndex >= static_cast<int>(input->nb_streams))
        return AVERROR(EINVAL);
    FilterGraphPtr graph;
    AVFilterContext *source = nullptr;
    AVFilterContext *sink = nullptr;
    int result = buildMeterGraph(decoder, graph, source, sink);
    if (result < 0)
        return result;

    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    FramePtr metered(av_frame_alloc());
    if (!packet || !frame || !metered)
        return AVERROR(ENOMEM);
    std::optional<double> integrated;
    std::int64_t samples = 0;
    bool inputEnded = false;
    while (result >= 0) {
        const int received = avcodec_receive_frame(decoder, frame.get());
        if (received >= 0) {
            frame->pts = samples; // the meter counts in samples; the file's own stamps may jump
            samples += frame->nb_samples;
            result = av_buffersrc_add_frame_flags(source, frame.get(), 0);
            av_frame_unref(frame.get());
            if (result >= 0)
                result = drainMeter(sink, metered.get(), integrated);
            continue;
        }
        if (received == AVERROR_EOF || inputEnded)
            break;
        if (stopFlag && stopFlag->load())
            return AVERROR_EXIT;
        const int read = av_read_frame(input, packet.get());
        if (read == AVERROR_EOF) {
            avcodec_send_packet(decoder, nullptr);
            inputEnded = true;
            continue;
        }
        if (read < 0)
            return read;
        if (packet->stream_index == streamIndex)
            avcodec_send_packet(decoder, packet.get()); // an undecodable packet is skipped
        av_packet_unref(packet.get());
    }
    if (result < 0)
        return result;
    // The meter's last blocks come out when it is told the sound has ended.
    result = av_buffersrc_add_frame_flags(source, nullptr, 0);
    if (result >= 0)
        result = drainMeter(sink, metered.get(), integrated);
    if (result < 0)
        return result;

    avcodec_flush_buffers(decoder);
    const AVStream *stream = input->streams[streamIndex];
    const std::int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    result = av_seek_frame(input, streamIndex, start, AVSEEK_FLAG_BACKWARD);
    if (result < 0)
        result = avformat_seek_file(input, -1, std::numeric_limits<std::int64_t>::min(), 0, 0, 0);
    if (result < 0)
        return result;
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
    // The last sound stream that can be decoded is the music, as in a run.
    CodecContextPtr decoder;
    int streamIndex = -1;
    result = AVERROR_STREAM_NOT_FOUND;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        if (input->streams[i]->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        CodecContextPtr candidate;
        result = openDecoderFor(input->streams[i], candidate);
        if (result >= 0) {
            decoder = std::move(candidate);
            streamIndex = static_cast<int>(i);
        }
    }
    if (!decoder)
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

} // namespace melvora
