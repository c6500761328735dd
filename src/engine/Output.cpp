// The output file's muxer, its streams and the AAC encoder.

#include "engine/MixSteps.h"

#include <string_view>

namespace melvora {
namespace {

// The muxer for the output: from the file name, or, for a name without an
// extension, the muxer of the video's own container type.
AVFormatContext *allocOutputContext(const MixJob &job) {
    AVFormatContext *context = nullptr;
    avformat_alloc_output_context2(&context, nullptr, nullptr, job.outputPath.c_str());
    if (context || !job.videoInput || !job.videoInput->iformat)
        return context;
    const std::string_view demuxerNames = job.videoInput->iformat->name; // e.g. "mov,mp4,m4a,3gp,3g2,mj2"
    const std::string firstName(demuxerNames.substr(0, demuxerNames.find(',')));
    const AVOutputFormat *format = av_guess_format(firstName.c_str(), nullptr, nullptr);
    if (!format && firstName == "mov")
        format = av_guess_format("mp4", nullptr, nullptr);
    if (format)
        avformat_alloc_output_context2(&context, format, nullptr, job.outputPath.c_str());
    return context;
}

bool containerRefuses(const AVFormatContext *output, AVCodecID codec) {
    // 0 means the muxer knows it cannot hold the codec; a negative answer
    // means it does not know, and the copy is tried.
    return avformat_query_codec(output->oformat, codec, FF_COMPLIANCE_NORMAL) == 0;
}

int setUpAacEncoder(MixJob &job, AVStream *stream) {
    const AVCodec *encoder = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!encoder)
        return failJob(job, "No AAC encoder is available", AVERROR_INVALIDDATA);
    CodecContextPtr context(avcodec_alloc_context3(encoder));
    if (!context)
        return failJob(job, "Could not allocate the AAC encoder", AVERROR(ENOMEM));
    context->bit_rate = kOutputBitRate;
    context->sample_fmt = kOutputSampleFormat;
    context->sample_rate = kOutputSampleRate;
    context->ch_layout = stereoLayout();
    context->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
    // Frames are stamped by counting samples, so the encoder counts in samples too.
    context->time_base = AVRational{1, kOutputSampleRate};
    stream->time_base = AVRational{1, kOutputSampleRate};
    int result = avcodec_open2(context.get(), encoder, nullptr);
    if (result < 0)
        return failJob(job, "Could not open the AAC encoder", result);
    result = avcodec_parameters_from_context(stream->codecpar, context.get());
    if (result < 0)
        return failJob(job, "Could not set the output sound's parameters", result);
    job.audioEncoder = std::move(context);
    return 0;
}

int addCopiedStream(MixJob &job, const AVStream *input, AVStream *&output) {
    output = avformat_new_stream(job.outputContext.get(), nullptr);
    if (!output)
        return failJob(job, "Could not create an output stream", AVERROR(ENOMEM));
    const int result = avcodec_parameters_copy(output->codecpar, input->codecpar);
    if (result < 0)
        return failJob(job, "Could not copy a stream's parameters", result);
    output->codecpar->codec_tag = 0; // the muxer chooses its own tag
    output->disposition = input->disposition;
    output->time_base = input->time_base;
    return 0;
}

} // namespace

int openOutput(MixJob &job) {
    job.outputAudioStream = nullptr;
    job.audioEncoder.reset();
    job.outputAudioStreamIndex = -1;
    job.outputStreamCount = 0;

    job.outputContext.reset(allocOutputContext(job));
    if (!job.outputContext)
        return failJob(job, "No output container type fits the output file name", AVERROR_UNKNOWN);
    AVFormatContext *output = job.outputContext.get();

    // Copying music that the container cannot hold (PCM into MP4, say) would
    // fail at the header: such music is re-encoded instead.
    if (job.mode == MixMode::CopyMusic && containerRefuses(output, job.musicStream->codecpar->codec_id))
        job.mode = MixMode::ReencodeMusic;

    const unsigned inputStreams = job.videoInput->nb_streams;
    job.streamMapCount = static_cast<std::int32_t>(inputStreams);
    job.streamMap.assign(inputStreams, -1);

    for (unsigned i = 0; i < inputStreams; ++i) {
        const AVStream *input = job.videoInput->streams[i];
        const AVMediaType type = input->codecpar->codec_type;
        const bool mixedSound = job.mode == MixMode::MixBoth && static_cast<int>(i) == job.videoAudioStreamIndex;
        // Other sound tracks of the video are copied unchanged when mixing; in
        // the silent modes the video's sound is undecodable and left out.
        const bool copiedSound = type == AVMEDIA_TYPE_AUDIO && !mixedSound && job.mode == MixMode::MixBoth &&
                                 !containerRefuses(output, input->codecpar->codec_id);
        if (type != AVMEDIA_TYPE_VIDEO && !mixedSound && !copiedSound)
            continue;

        job.streamMap[i] = job.outputStreamCount++;
        AVStream *stream = nullptr;
        int result = addCopiedStream(job, input, stream);
        if (result < 0)
            return result;
        if (mixedSound) {
            job.outputAudioStreamIndex = job.streamMap[i];
            job.outputAudioStream = stream;
            result = setUpAacEncoder(job, stream);
            if (result < 0)
                return result;
        }
    }

    if (job.mode != MixMode::MixBoth) {
        AVStream *stream = nullptr;
        int result = addCopiedStream(job, job.musicStream, stream);
        if (result < 0)
            return result;
        job.outputAudioStreamIndex = job.outputStreamCount;
        job.outputAudioStream = stream;
        if (job.mode == MixMode::ReencodeMusic) {
            result = setUpAacEncoder(job, stream);
            if (result < 0)
                return result;
        }
    }

    av_dump_format(output, 0, job.outputPath.c_str(), 1);
    return 0;
}

} // namespace melvora
