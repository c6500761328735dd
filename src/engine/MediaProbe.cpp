#include "engine/MediaProbe.h"
#include "engine/MixSteps.h"

#include <vector>

namespace melvora {
namespace {

enum class WantedKind { Video, Audio };

std::int32_t low32Bits(std::int64_t value) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(value)); }

int probe(MixJob &job, WantedKind wanted) {
    MediaInfo &info = job.info;
    InputContextPtr input;
    job.probeResult = openLocalInput(job, input, job.probePath);
    if (job.probeResult < 0)
        return kProbeNotUsable;
    job.probeResult = avformat_find_stream_info(input.get(), nullptr);
    if (job.probeResult < 0)
        return kProbeNoStreamInfo;

    // One decoder per examined stream; all are released on every return path.
    std::vector<CodecContextPtr> decoders(input->nb_streams);
    bool videoSeen = false;
    bool audioSeen = false;
    const AVStream *lastVideo = nullptr;

    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream *stream = input->streams[i];
        const AVCodecParameters *parameters = stream->codecpar;
        const AVMediaType type = parameters->codec_type;
        // PNG covers, DVD navigation data and subtitles are no media.
        if (parameters->codec_id == AV_CODEC_ID_PNG || parameters->codec_id == AV_CODEC_ID_DVD_NAV ||
            type == AVMEDIA_TYPE_SUBTITLE)
            continue;
        if (type == AVMEDIA_TYPE_VIDEO) {
            videoSeen = true;
            lastVideo = stream;
        } else if (type == AVMEDIA_TYPE_AUDIO) {
            audioSeen = true;
        }
        // Motion JPEG among many streams counts as video but is not examined.
        if (parameters->codec_id == AV_CODEC_ID_MJPEG && input->nb_streams > 2)
            continue;
        const AVCodec *codec = avcodec_find_decoder(parameters->codec_id);
        if (!codec)
            continue;
        CodecContextPtr decoder(avcodec_alloc_context3(codec));
        if (!decoder)
            return kProbeOutOfMemory;
        job.probeResult = avcodec_parameters_to_context(decoder.get(), parameters);
        if (job.probeResult < 0)
            return job.probeResult;
        decoder->thread_count = 1; // only parameters are wanted: no decoding threads
        if (type == AVMEDIA_TYPE_VIDEO)
            decoder->framerate = av_guess_frame_rate(input.get(), const_cast<AVStream *>(stream), nullptr);
        if (type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO) {
            job.probeResult = avcodec_open2(decoder.get(), codec, nullptr);
            if (job.probeResult < 0)
                return job.probeResult;
        }
        if (type == AVMEDIA_TYPE_VIDEO) {
            info.videoWidth = decoder->width;
            info.videoHeight = decoder->height;
            info.videoBitRate = low32Bits(decoder->bit_rate);
            info.frameRateNum = decoder->framerate.num;
            info.frameRateDen = decoder->framerate.den;
        } else if (type == AVMEDIA_TYPE_AUDIO) {
            info.audioChannels = decoder->ch_layout.nb_channels;
            info.audioSampleRate = decoder->sample_rate;
            info.audioBitRate = low32Bits(decoder->bit_rate);
        }
        info.startTime = 0;
        info.endTime = input->duration;
        if (wanted == WantedKind::Video)
            info.videoDuration = input->duration;
        else
            info.audioDuration = input->duration;
        decoders[i] = std::move(decoder);
    }

    av_dump_format(input.get(), 0, job.probePath.c_str(), 0);
    if (lastVideo)
        info.videoProfile = lastVideo->codecpar->profile;
    const bool accepted = wanted == WantedKind::Video ? videoSeen : audioSeen;
    return accepted ? kProbeAccepted : kProbeNotUsable;
}

} // namespace

int probeVideo(MixJob &job) { return probe(job, WantedKind::Video); }

int probeAudio(MixJob &job) { return probe(job, WantedKind::Audio); }

} // namespace melvora
