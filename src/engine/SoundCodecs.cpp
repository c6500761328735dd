#include "engine/SoundCodecs.h"

#include "engine/StreamCopy.h"

#include <cstring>

extern "C" {
#include <libavutil/intreadwrite.h>
}

namespace melvora {
namespace {

int openPlainEncoder(const char *name, int sampleRate, AVSampleFormat format, CodecContextPtr &encoder) {
    const AVCodec *codec = avcodec_find_encoder_by_name(name);
    if (!codec)
        return AVERROR_ENCODER_NOT_FOUND;
    CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context)
        return AVERROR(ENOMEM);
    context->bit_rate = kOutputBitRate;
    context->sample_fmt = format;
    context->sample_rate = sampleRate;
    context->ch_layout = stereoLayout();
    context->time_base = AVRational{1, sampleRate};
    const int result = avcodec_open2(context.get(), codec, nullptr);
    if (result < 0)
        return result;
    encoder = std::move(context);
    return 0;
}

} // namespace

const char *soundCodecName(SoundCodec codec) {
    switch (codec) {
    case SoundCodec::Aac:
        return "AAC";
    case SoundCodec::Opus:
        return "Opus";
    case SoundCodec::Mp2:
        return "MP2";
    }
    return "";
}

int openSoundEncoder(SoundCodec codec, CodecContextPtr &encoder) {
    switch (codec) {
    case SoundCodec::Aac:
        return openRunAacEncoder(encoder);
    case SoundCodec::Opus:
        return openPlainEncoder("libopus", 48000, AV_SAMPLE_FMT_FLT, encoder);
    case SoundCodec::Mp2:
        return openPlainEncoder("mp2", kOutputSampleRate, AV_SAMPLE_FMT_S16, encoder);
    }
    return AVERROR_BUG;
}

std::optional<SoundCodec> soundCodecFor(const AVOutputFormat *format) {
    for (const SoundCodec codec : {SoundCodec::Aac, SoundCodec::Opus, SoundCodec::Mp2}) {
        CodecContextPtr encoder;
        if (openSoundEncoder(codec, encoder) < 0)
            continue;
        // 0: the muxer knows it cannot hold the codec; otherwise its header
        // tells (MPEG program streams know no tags, yet refuse AAC there).
        if (avformat_query_codec(format, encoder->codec_id, FF_COMPLIANCE_NORMAL) == 0)
            continue;
        const bool taken = headerAccepts(format, [&](AVFormatContext *trial) {
            AVStream *stream = avformat_new_stream(trial, nullptr);
            if (!stream || avcodec_parameters_from_context(stream->codecpar, encoder.get()) < 0)
                return false;
            stream->time_base = encoder->time_base;
            return true;
        });
        if (taken)
            return codec;
    }
    return std::nullopt;
}

int declarePriming(const AVCodecContext *encoder, AVCodecParameters *stream) {
    if (encoder->codec_id != AV_CODEC_ID_OPUS)
        return 0;
    constexpr int perMillisecond = 48;
    const int declared = (encoder->initial_padding + perMillisecond - 1) / perMillisecond * perMillisecond;
    stream->initial_padding = declared;
    // OpusHead: "OpusHead", version, channels, then the pre-skip (LE16).
    constexpr int preSkipOffset = 10;
    if (stream->extradata_size < 19 || std::memcmp(stream->extradata, "OpusHead", 8) != 0)
        return AVERROR_BUG;
    AV_WL16(stream->extradata + preSkipOffset, declared);
    return 0;
}

} // namespace melvora
