// What a stream copied from the video keeps in the output, and what of the
// video's container goes with it: everything the output container can hold.
// FFmpeg's own stream copy is the model.

#include "engine/StreamCopy.h"

#include <cstring>
#include <functional>
#include <string_view>

extern "C" {
#include <libavutil/dict.h>
#include <libavutil/mem.h>
}

namespace melvora {
namespace {

// The input's own tag where the output's tag table knows it for this codec,
// or knows no tag at all for it (hvc1, apco and avc1 stay as they are); 0,
// the muxer's choice, where its table maps the tag to another codec.
unsigned int keptCodecTag(const AVOutputFormat *format, const AVCodecParameters *input) {
    const AVCodecTag *const *tags = format->codec_tag;
    unsigned int ownTag = 0;
    if (!tags || av_codec_get_id(tags, input->codec_tag) == input->codec_id ||
        !av_codec_get_tag2(tags, input->codec_id, &ownTag))
        return input->codec_tag;
    return 0;
}

int copySideData(AVStream *output, const AVStream *input) {
    for (int i = 0; i < input->nb_side_data; ++i) {
        const AVPacketSideData &source = input->side_data[i];
        std::uint8_t *data = av_stream_new_side_data(output, source.type, source.size);
        if (!data)
            return AVERROR(ENOMEM);
        std::memcpy(data, source.data, source.size);
    }
    return 0;
}

bool isMatroska(const AVOutputFormat *format) {
    const std::string_view name = format->name;
    return name == "matroska" || name == "webm";
}

} // namespace

bool becomesAttachment(const AVOutputFormat *format, const AVStream *input) {
    // Matroska keeps pictures as attached files; its demuxer shows them as
    // one-picture video streams, which copied as such would be a stray track.
    return isMatroska(format) && (input->disposition & AV_DISPOSITION_ATTACHED_PIC) &&
           input->attached_pic.size > 0;
}

int copyStreamProperties(AVStream *output, const AVStream *input, const AVOutputFormat *format) {
    int result = avcodec_parameters_copy(output->codecpar, input->codecpar);
    if (result < 0)
        return result;
    AVCodecParameters *parameters = output->codecpar;
    parameters->codec_tag = keptCodecTag(format, input->codecpar);
    output->time_base = input->time_base;
    output->disposition = input->disposition;
    // A timecode track needs its frame rate as much as the picture does.
    output->avg_frame_rate = input->avg_frame_rate;
    output->r_frame_rate = input->r_frame_rate;
    if (input->duration > 0)
        output->duration = input->duration; // a hint for the muxer, in the same time base
    result = av_dict_copy(&output->metadata, input->metadata, 0);
    if (result < 0)
        return result;
    result = copySideData(output, input);
    if (result < 0)
        return result;

    if (parameters->codec_type == AVMEDIA_TYPE_VIDEO) {
        const AVRational aspect =
            input->sample_aspect_ratio.num ? input->sample_aspect_ratio : input->codecpar->sample_aspect_ratio;
        output->sample_aspect_ratio = parameters->sample_aspect_ratio = aspect;
    } else if (parameters->codec_type == AVMEDIA_TYPE_AUDIO) {
        // Block sizes some demuxers report for frame-based codecs would
        // make the muxer cut packets wrongly.
        if (parameters->codec_id == AV_CODEC_ID_AC3 ||
            (parameters->codec_id == AV_CODEC_ID_MP3 &&
             (parameters->block_align == 1 || parameters->block_align == 576 || parameters->block_align == 1152)))
            parameters->block_align = 0;
    }

    if (becomesAttachment(format, input)) {
        parameters->codec_type = AVMEDIA_TYPE_ATTACHMENT;
        output->disposition &= ~AV_DISPOSITION_ATTACHED_PIC;
        av_freep(&parameters->extradata);
        parameters->extradata_size = 0;
        const int size = input->attached_pic.size;
        parameters->extradata = static_cast<std::uint8_t *>(av_mallocz(std::size_t(size) + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!parameters->extradata)
            return AVERROR(ENOMEM);
        std::memcpy(parameters->extradata, input->attached_pic.data, std::size_t(size));
        parameters->extradata_size = size;
    }
    return 0;
}

int copyTrackIdentity(AVStream *output, const AVStream *replaced) {
    output->disposition = replaced->disposition;
    for (const char *key : {"language", "title", "handler_name"}) {
        const AVDictionaryEntry *entry = av_dict_get(replaced->metadata, key, nullptr, 0);
        if (!entry)
            continue;
        const int result = av_dict_set(&output->metadata, key, entry->value, 0);
        if (result < 0)
            return result;
    }
    return 0;
}

bool headerAccepts(const AVOutputFormat *format, const std::function<bool(AVFormatContext *trial)> &addStreams) {
    AVFormatContext *trial = nullptr;
    if (avformat_alloc_output_context2(&trial, format, nullptr, nullptr) < 0)
        return false;
    OutputContextPtr owner(trial); // its I/O context is closed below, before the owner runs
    if (!addStreams(trial) || avio_open_dyn_buf(&trial->pb) < 0)
        return false;
    const bool written = avformat_write_header(trial, nullptr) >= 0;
    std::uint8_t *bytes = nullptr;
    avio_close_dyn_buf(trial->pb, &bytes);
    trial->pb = nullptr;
    av_free(bytes);
    return written;
}

bool containerHolds(const AVFormatContext *output, const AVStream *input, const AVStream *picture) {
    const AVOutputFormat *format = output->oformat;
    const AVCodecID codec = input->codecpar->codec_id;
    // 0: the muxer knows it cannot hold the codec. Otherwise the header
    // tells, beside the picture.
    if (codec != AV_CODEC_ID_NONE && avformat_query_codec(format, codec, FF_COMPLIANCE_NORMAL) == 0)
        return false;
    return headerAccepts(format, [&](AVFormatContext *trial) {
        const AVStream *sources[] = {picture != input ? picture : nullptr, input};
        for (const AVStream *source : sources) {
            if (!source)
                continue;
            AVStream *stream = avformat_new_stream(trial, nullptr);
            if (!stream || copyStreamProperties(stream, source, format) < 0)
                return false;
        }
        return true;
    });
}

bool containerHoldsChapters(const AVOutputFormat *format) {
    // The muxers that write chapters of their own: MP4/MOV (a chapter
    // track), Matroska and Ogg. The others have no place for them.
    const std::string_view name = format->name;
    return name == "mov" || name == "mp4" || name == "ipod" || name == "matroska" || name == "webm" ||
           name == "ogg" || name == "ogv";
}

int copyContainerProperties(AVFormatContext *output, const AVFormatContext *input) {
    int result = av_dict_copy(&output->metadata, input->metadata, 0);
    if (result < 0)
        return result;
    // Which program writes the file is the muxer's to say.
    av_dict_set(&output->metadata, "encoder", nullptr, 0);
    if (!containerHoldsChapters(output->oformat))
        return 0;
    for (unsigned i = 0; i < input->nb_chapters; ++i) {
        const AVChapter *source = input->chapters[i];
        auto *chapter = static_cast<AVChapter *>(av_mallocz(sizeof(AVChapter)));
        if (!chapter)
            return AVERROR(ENOMEM);
        chapter->id = source->id;
        chapter->time_base = source->time_base;
        chapter->start = source->start;
        chapter->end = source->end;
        // Handed to the output first, so that it is freed with the output
        // whatever happens next.
        result = av_dynarray_add_nofree(&output->chapters, reinterpret_cast<int *>(&output->nb_chapters), chapter);
        if (result < 0) {
            av_free(chapter);
            return result;
        }
        result = av_dict_copy(&chapter->metadata, source->metadata, 0);
        if (result < 0)
            return result;
    }
    return 0;
}

} // namespace melvora
