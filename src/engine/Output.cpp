// The output file's muxer, its streams and the AAC encoder.

#include "engine/MixSteps.h"
#include "engine/OutputFile.h"

#include <string_view>

namespace melvora {
namespace {

// Only a muxer that writes the one claimed file will do: those that write
// files of their own beside it (playlists with segments, picture sequences)
// would overwrite whatever already has those names.
bool writesOneFile(const AVOutputFormat *format) { return format && !(format->flags & AVFMT_NOFILE); }

// The muxer for the output: from the file name, or, for a name without an
// extension or one that names a many-file muxer, the muxer of the video's
// own container type.
AVFormatContext *allocOutputContext(const MixJob &job) {
    AVFormatContext *context = nullptr;
    avformat_alloc_output_context2(&context, nullptr, nullptr, job.outputPath.c_str());
    if (context && writesOneFile(context->oformat))
        return context;
    avformat_free_context(context);
    context = nullptr;
    if (!job.videoInput || !job.videoInput->iformat)
        return nullptr;
    const std::string_view demuxerNames = job.videoInput->iformat->name; // e.g. "mov,mp4,m4a,3gp,3g2,mj2"
    const std::string firstName(demuxerNames.substr(0, demuxerNames.find(',')));
    const AVOutputFormat *format = av_guess_format(firstName.c_str(), nullptr, nullptr);
    if (!format && firstName == "mov")
        format = av_guess_format("mp4", nullptr, nullptr);
    if (writesOneFile(format))
        avformat_alloc_output_context2(&context, format, nullptr, job.outputPath.c_str());
    return context;
}

bool containerRefuses(const AVFormatContext *output, AVCodecID codec) {
    // 0 means the muxer knows it cannot hold the codec; a negative answer
    // means it does not know, and the copy is tried.
    return avformat_query_codec(output->oformat, codec, FF_COMPLIANCE_NORMAL) == 0;
}

// Whether the container takes a copy of this stream. Some refusals only show
// when the header is written (FLAC in MP4 is experimental, MP3 below 16 kHz
// does not fit MP4), so a header is written into memory and thrown away.
bool containerTakesCopy(const AVFormatContext *output, const AVStream *input) {
    const AVCodecID codec = input->codecpar->codec_id;
    // Only a container that knows the codec takes it: one that does not
    // (MPEG-TS) would store PCM or FLAC as opaque data that plays as silence.
    if (avformat_query_codec(output->oformat, codec, FF_COMPLIANCE_NORMAL) != 1)
        return false;
    // AVI has a tag for FLAC, but the result cannot be decoded again.
    if (codec == AV_CODEC_ID_FLAC && std::string_view(output->oformat->name) == "avi")
        return false;
    AVFormatContext *trial = nullptr;
    if (avformat_alloc_output_context2(&trial, output->oformat, nullptr, nullptr) < 0)
        return false;
    OutputContextPtr owner(trial); // its I/O context is closed below, before the owner runs
    AVStream *stream = avformat_new_stream(trial, nullptr);
    if (!stream || avcodec_parameters_copy(stream->codecpar, input->codecpar) < 0)
        return false;
    stream->codecpar->codec_tag = 0;
    stream->time_base = input->time_base;
    if (avio_open_dyn_buf(&trial->pb) < 0)
        return false;
    const bool written = avformat_write_header(trial, nullptr) >= 0;
    std::uint8_t *bytes = nullptr;
    avio_close_dyn_buf(trial->pb, &bytes);
    trial->pb = nullptr;
    av_free(bytes);
    return written;
}

// A container that cannot hold AAC (WebM, Ogg) is written as Matroska, its
// superset, under the same name, so that the run still gives a playable file.
int fitContainerToAac(MixJob &job) {
    if (!containerRefuses(job.outputContext.get(), AV_CODEC_ID_AAC))
        return 0;
    const AVOutputFormat *matroska = av_guess_format("matroska", nullptr, nullptr);
    AVFormatContext *context = nullptr;
    if (!matroska || avformat_alloc_output_context2(&context, matroska, nullptr, job.outputPath.c_str()) < 0)
        return failJob(job, "The output container cannot hold AAC sound", AVERROR(EINVAL));
    job.outputContext.reset(context);
    return 0;
}

int setUpAacEncoder(MixJob &job, AVStream *stream) {
    CodecContextPtr context;
    int result = openRunAacEncoder(context);
    if (result == AVERROR_INVALIDDATA)
        return failJob(job, "No AAC encoder is available", result);
    if (result < 0)
        return failJob(job, "Could not open the AAC encoder", result);
    stream->time_base = context->time_base;
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

// The file itself, through our own descriptor: the name is only ever a local
// file (never "concat:x" or another protocol), a link is never followed, and
// a file put in place of the one claimed for the run is never written.
int openOutputFileOf(MixJob &job) {
    AVFormatContext *output = job.outputContext.get();
    if (output->oformat->flags & AVFMT_NOFILE)
        return 0;
    const int result = openOutputFile(job.outputPath, job.claimedOutput, &output->pb, job.writtenOutput);
    if (result < 0)
        return failJob(job, "Could not create the output file", result);
    output->flags |= AVFMT_FLAG_CUSTOM_IO;
    // Written a full buffer at a time, not a system call for every packet; a
    // failed write still fails the packet that filled the buffer.
    output->flush_packets = 0;
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
    if (job.mode == MixMode::CopyMusic && !containerTakesCopy(output, job.musicStream))
        job.mode = MixMode::ReencodeMusic;
    if (job.mode != MixMode::CopyMusic) {
        const int fitted = fitContainerToAac(job);
        if (fitted < 0)
            return fitted;
        output = job.outputContext.get();
    }

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
    return openOutputFileOf(job);
}

} // namespace melvora
