// The output file's muxer, its streams and the AAC encoder.

#include "engine/MixSteps.h"
#include "engine/OutputFile.h"
#include "engine/SoundCodecs.h"
#include "engine/StreamCopy.h"

#include <climits>
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
AVFormatContext *allocOutputContext(const MixRun &run) {
    AVFormatContext *context = nullptr;
    avformat_alloc_output_context2(&context, nullptr, nullptr, run.request.outputPath.c_str());
    if (context && writesOneFile(context->oformat))
        return context;
    avformat_free_context(context);
    context = nullptr;
    if (!run.videoInput || !run.videoInput->iformat)
        return nullptr;
    const std::string_view demuxerNames = run.videoInput->iformat->name; // e.g. "mov,mp4,m4a,3gp,3g2,mj2"
    const std::string firstName(demuxerNames.substr(0, demuxerNames.find(',')));
    const AVOutputFormat *format = av_guess_format(firstName.c_str(), nullptr, nullptr);
    if (!format && firstName == "mov")
        format = av_guess_format("mp4", nullptr, nullptr);
    if (writesOneFile(format))
        avformat_alloc_output_context2(&context, format, nullptr, run.request.outputPath.c_str());
    return context;
}

// Whether the container takes a copy of the music. Some refusals only show
// when the header is written (FLAC in MP4 is experimental, MP3 below 16 kHz
// does not fit MP4).
bool containerTakesCopy(const AVFormatContext *output, const AVStream *music) {
    const AVCodecID codec = music->codecpar->codec_id;
    // Only a container that knows the codec takes it: one that does not
    // (MPEG-TS) would store PCM or FLAC as opaque data that plays as silence.
    if (avformat_query_codec(output->oformat, codec, FF_COMPLIANCE_NORMAL) != 1)
        return false;
    // AVI has a tag for FLAC, but the result cannot be decoded again.
    if (codec == AV_CODEC_ID_FLAC && std::string_view(output->oformat->name) == "avi")
        return false;
    return containerHolds(output, music, nullptr);
}

// Codecs whose packets decode to exactly their samples, with no priming or
// padding: passes of their copied packets join without a gap.
bool codecIsGapless(AVCodecID codec) {
    const bool pcm = codec >= AV_CODEC_ID_PCM_S16LE && codec < AV_CODEC_ID_ADPCM_IMA_QT;
    return pcm || codec == AV_CODEC_ID_FLAC || codec == AV_CODEC_ID_ALAC || codec == AV_CODEC_ID_WAVPACK ||
           codec == AV_CODEC_ID_TTA;
}

// The samples the decoder is told to skip at the music's start (MP3's and
// AAC's priming), from its first packet, and that packet's time stamp in
// the music's time base. Read from a second opening of the file, so that
// the run's own reads start untouched.
int firstPacketSkip(MixRun &run, std::int64_t &skip, std::int64_t &firstPts) {
    skip = 0;
    firstPts = 0;
    InputContextPtr input;
    int result = openLocalInput(run.job, input, run.request.musicPath);
    PacketPtr packet(av_packet_alloc());
    if (result >= 0 && !packet)
        result = AVERROR(ENOMEM);
    while (result >= 0 && (result = av_read_frame(input.get(), packet.get())) >= 0) {
        if (packet->stream_index == run.musicStreamIndex)
            break;
        av_packet_unref(packet.get());
    }
    if (result < 0)
        return result;
    firstPts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    std::size_t size = 0;
    if (const std::uint8_t *data = av_packet_get_side_data(packet.get(), AV_PKT_DATA_SKIP_SAMPLES, &size);
        data && size >= 4)
        skip = std::int64_t(data[0]) | std::int64_t(data[1]) << 8 | std::int64_t(data[2]) << 16 |
               std::int64_t(data[3]) << 24;
    return 0;
}

bool keepsPrimingInEditList(const AVOutputFormat *format) {
    const std::string_view name = format->name;
    return name == "mp4" || name == "mov" || name == "ipod" || name == "3gp" || name == "3g2";
}

// Whether the copied music plays exactly as its file decodes. Passes of a
// codec with priming or padding would each bring theirs back as a gap, so
// the copy must play once over the whole video. Priming the decoder is told
// to skip at the start would play as a silent lead unless the packets
// before the first real sample are stamped before zero, which an MP4 edit
// list then skips: primingShift (in the music's time base) is how far the
// copy's stamps go back for that. Otherwise the music is decoded and
// encoded, cut to the sample.
bool copyIsExact(MixRun &run, std::int64_t &primingShift) {
    primingShift = 0;
    const AVStream *music = run.musicStream;
    if (codecIsGapless(music->codecpar->codec_id))
        return true;
    double musicSeconds = 0;
    if (music->duration > 0)
        musicSeconds = double(music->duration) * av_q2d(music->time_base);
    else if (run.musicInput->duration > 0)
        musicSeconds = double(run.musicInput->duration) / AV_TIME_BASE;
    // The video's length as its own container tells it, when the front end
    // gave none.
    double videoSeconds = run.request.durationSeconds;
    if (videoSeconds <= 0 && run.videoInput->duration > 0)
        videoSeconds = double(run.videoInput->duration) / AV_TIME_BASE;
    if (videoSeconds <= 0 || musicSeconds < videoSeconds)
        return false;
    std::int64_t skip = 0, firstPts = 0;
    if (firstPacketSkip(run, skip, firstPts) < 0)
        return false;
    // Priming already stamped before zero is the container's to skip.
    if (skip <= 0 || firstPts < 0)
        return true;
    if (!keepsPrimingInEditList(run.outputContext->oformat) || music->codecpar->sample_rate <= 0)
        return false;
    primingShift = av_rescale_q(skip, AVRational{1, music->codecpar->sample_rate}, music->time_base);
    return true;
}

// The new sound's codec: AAC wherever the container takes it, else the
// one it is made for (Opus in WebM and Ogg, MP2 in MPEG program streams). A
// container that takes none of them is written as Matroska under the same
// name, so that the run still gives a playable file.
int chooseSoundCodec(MixRun &run) {
    if (const std::optional<SoundCodec> codec = soundCodecFor(run.outputContext->oformat)) {
        run.soundCodec = *codec;
        return 0;
    }
    const AVOutputFormat *matroska = av_guess_format("matroska", nullptr, nullptr);
    AVFormatContext *context = nullptr;
    if (!matroska || avformat_alloc_output_context2(&context, matroska, nullptr, run.request.outputPath.c_str()) < 0)
        return fail(run, "The output container cannot hold the new sound", AVERROR(EINVAL));
    run.outputContext.reset(context);
    run.soundCodec = SoundCodec::Aac;
    return 0;
}

int setUpSoundEncoder(MixRun &run, AVStream *stream) {
    CodecContextPtr context;
    int result = openSoundEncoder(run.soundCodec, context);
    if (result < 0)
        return fail(run, std::string("Could not open the ") + soundCodecName(run.soundCodec) + " encoder", result);
    stream->time_base = context->time_base;
    result = avcodec_parameters_from_context(stream->codecpar, context.get());
    if (result >= 0)
        result = declarePriming(context.get(), stream->codecpar);
    if (result < 0)
        return fail(run, "Could not set the output sound's parameters", result);
    run.audioEncoder = std::move(context);
    return 0;
}

// The music's own stream for a silent video: its parameters, the tag the
// muxer chooses, and nothing of the music file's tags.
int addMusicStream(MixRun &run, AVStream *&output) {
    output = avformat_new_stream(run.outputContext.get(), nullptr);
    if (!output)
        return fail(run, "Could not create an output stream", AVERROR(ENOMEM));
    const int result = avcodec_parameters_copy(output->codecpar, run.musicStream->codecpar);
    if (result < 0)
        return fail(run, "Could not copy a stream's parameters", result);
    output->codecpar->codec_tag = 0;
    output->disposition = run.musicStream->disposition;
    output->time_base = run.musicStream->time_base;
    return 0;
}

std::string describeStream(unsigned index, const AVStream *stream) {
    const char *type = av_get_media_type_string(stream->codecpar->codec_type);
    const char *codec = avcodec_get_name(stream->codecpar->codec_id);
    return "stream " + std::to_string(index) + " (" + (type ? type : "unknown") + ", " + codec + ")";
}

// Copies every stream of the video the container can hold, in its order,
// and says which it cannot; the own sound that the mix replaces gets the
// encoder instead. Tells whether sound of the video that cannot be decoded
// went over beside the music of a silent video.
int addVideoStreams(MixRun &run, bool &undecodableSoundCopied) {
    AVFormatContext *output = run.outputContext.get();
    const AVStream *picture = run.videoInput->streams[run.videoStreamIndex];
    const std::string container = output->oformat->name;
    for (unsigned i = 0; i < run.videoInput->nb_streams; ++i) {
        const AVStream *input = run.videoInput->streams[i];
        // Streams the demuxer keeps for itself and never reads (the MP4
        // chapter text track): the chapters go over as chapters.
        if (input->discard == AVDISCARD_ALL)
            continue;
        const AVMediaType type = input->codecpar->codec_type;
        const bool mixedSound = run.mode == MixMode::MixBoth && static_cast<int>(i) == run.videoAudioStreamIndex;
        if (type != AVMEDIA_TYPE_VIDEO && !mixedSound && !containerHolds(output, input, picture)) {
            warn(run, describeStream(i, input) + " left out: the " + container + " container cannot hold it");
            continue;
        }
        AVStream *stream = avformat_new_stream(output, nullptr);
        if (!stream)
            return fail(run, "Could not create an output stream", AVERROR(ENOMEM));
        if (mixedSound) {
            // The encoder gives the parameters; the track stays the one the
            // player knows by its language, title and flags.
            run.streamMap[i] = stream->index;
            run.outputAudioStreamIndex = stream->index;
            run.outputAudioStream = stream;
            int result = copyTrackIdentity(stream, input);
            if (result < 0)
                return fail(run, "Could not copy a stream's parameters", result);
            result = setUpSoundEncoder(run, stream);
            if (result < 0)
                return result;
            continue;
        }
        const int result = copyStreamProperties(stream, input, output->oformat);
        if (result < 0)
            return fail(run, "Could not copy a stream's parameters", result);
        if (becomesAttachment(output->oformat, input))
            continue; // an attached file takes no packets
        run.streamMap[i] = stream->index;
        if (type == AVMEDIA_TYPE_AUDIO && run.mode != MixMode::MixBoth) {
            // Sound of the video that cannot be decoded goes over as it is;
            // the music is the track a player starts with.
            stream->disposition &= ~AV_DISPOSITION_DEFAULT;
            undecodableSoundCopied = true;
        }
    }
    return 0;
}

// The file itself, through our own descriptor: the name is only ever a local
// file (never "concat:x" or another protocol), a link is never followed, and
// a file put in place of the one claimed for the run is never written.
int openOutputFileOf(MixRun &run) {
    AVFormatContext *output = run.outputContext.get();
    if (output->oformat->flags & AVFMT_NOFILE)
        return 0;
    const int result = openOutputFile(run.request.outputPath, run.request.claimedOutput, &output->pb,
                                      run.writtenOutput, run.partialOutputPath);
    if (result < 0)
        return fail(run, "Could not create the output file", result);
    output->flags |= AVFMT_FLAG_CUSTOM_IO;
    allowReadBackOnly(output);
    // Written a full buffer at a time, not a system call for every packet; a
    // failed write still fails the packet that filled the buffer.
    output->flush_packets = 0;
    return 0;
}

} // namespace

int openOutput(MixRun &run) {
    run.outputAudioStream = nullptr;
    run.audioEncoder.reset();
    run.outputAudioStreamIndex = -1;

    run.outputContext.reset(allocOutputContext(run));
    if (!run.outputContext)
        return fail(run, "No output container type fits the output file name", AVERROR_UNKNOWN);
    AVFormatContext *output = run.outputContext.get();

    // Copying music that the container cannot hold (PCM into MP4, say) would
    // fail at the header, and a copy that would not play gaplessly is no
    // copy: such music is re-encoded instead.
    if (run.mode == MixMode::CopyMusic &&
        (!containerTakesCopy(output, run.musicStream) || !copyIsExact(run, run.musicPrimingShift)))
        run.mode = MixMode::ReencodeMusic;
    if (run.mode != MixMode::CopyMusic) {
        const int fitted = chooseSoundCodec(run);
        if (fitted < 0)
            return fitted;
        output = run.outputContext.get();
    }

    run.streamMap.assign(run.videoInput->nb_streams, -1);
    bool undecodableSoundCopied = false;
    int result = addVideoStreams(run, undecodableSoundCopied);
    if (result < 0)
        return result;

    if (run.mode != MixMode::MixBoth) {
        AVStream *stream = nullptr;
        result = addMusicStream(run, stream);
        if (result < 0)
            return result;
        run.outputAudioStreamIndex = stream->index;
        run.outputAudioStream = stream;
        if (undecodableSoundCopied)
            stream->disposition |= AV_DISPOSITION_DEFAULT;
        if (run.mode == MixMode::ReencodeMusic) {
            result = setUpSoundEncoder(run, stream);
            if (result < 0)
                return result;
        }
    }

    result = copyContainerProperties(output, run.videoInput.get());
    if (result < 0)
        return fail(run, "Could not copy the video's metadata", result);
    if (run.videoInput->nb_chapters > 0 && !containerHoldsChapters(output->oformat))
        warn(run, std::to_string(run.videoInput->nb_chapters) + " chapters left out: the " +
                         std::string(output->oformat->name) + " container cannot hold them");

    av_dump_format(output, 0, run.request.outputPath.c_str(), 1);
    return openOutputFileOf(run);
}

int closeOutput(MixRun &run) {
    AVFormatContext *output = run.outputContext.get();
    // After a failed write the file is broken off: no trailer is tried.
    int result = run.writeFailed ? 0 : av_write_trailer(output);
    if (output->flags & AVFMT_FLAG_CUSTOM_IO) {
        const int closed = closeOutputFile(&output->pb);
        if (result >= 0)
            result = closed;
    } else if (!(output->oformat->flags & AVFMT_NOFILE)) {
        const int closed = avio_closep(&output->pb);
        if (result >= 0)
            result = closed;
    }
    return result;
}

} // namespace melvora
