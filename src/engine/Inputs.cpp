// Opening the music and the video, choosing the mix mode, and the resamplers.

#include "engine/MemoryInput.h"
#include "engine/MixSteps.h"

#include <set>
#include <string_view>

#include <sys/stat.h>

extern "C" {
#include <libavutil/dict.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
}

namespace melvora {
namespace {

// Stops a blocking read once the loop is running and the user asked to stop.
// Set-up reads are not interrupted: they are bounded by the file, and a stop
// before the loop must still leave a finalised output.
int interruptWhenStopped(void *opaque) {
    const auto *job = static_cast<const MixJob *>(opaque);
    return job->interruptArmed.load() && job->stopRequested.load() != 0;
}

// Every demuxer but those whose files name other files to read (lists,
// manifests, scripts): they open those files on contexts of their own, out
// of reach of any hook on this one.
const std::string &selfContainedDemuxers() {
    static const std::string names = [] {
        const std::set<std::string_view> referencing = {"concat", "hls", "dash", "imf", "avisynth", "vapoursynth"};
        std::string list;
        void *state = nullptr;
        while (const AVInputFormat *format = av_demuxer_iterate(&state)) {
            if (referencing.count(format->name))
                continue;
            if (!list.empty())
                list += ',';
            list += format->name;
        }
        return list;
    }();
    return names;
}

// Sound claims any sample rate in its header; a resampler set up for an
// absurd one (hundreds of megahertz) asks for gigabytes before it converts
// a single sample. Real sound stays within this range.
constexpr int kHighestSampleRate = 768000;
bool usableSampleRate(int rate) { return rate > 0 && rate <= kHighestSampleRate; }

// A header can claim a chunk of gigabytes in a file of a few hundred bytes,
// and some readers allocate what it claims before reading it. No single
// buffer of real media comes near this (an 8K 16-bit 4:4:4 picture is
// 200 MB), so anything larger is refused as the damage it is.
constexpr std::size_t kLargestAllocation = std::size_t(256) << 20;

// Only a regular file is read: opening a pipe or a device would wait for a
// writer that may never come.
int refuseUnlessRegularFile(const std::string &path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return AVERROR(errno);
    if (S_ISDIR(info.st_mode))
        return AVERROR(EISDIR);
    return S_ISREG(info.st_mode) ? 0 : AVERROR(EINVAL);
}

} // namespace

int openLocalInput(MixJob &job, InputContextPtr &input, const std::string &path) {
    static const bool allocationsCapped = (av_max_alloc(kLargestAllocation), true);
    (void)allocationsCapped;
    input.reset();
    AVFormatContext *context = avformat_alloc_context();
    if (!context)
        return AVERROR(ENOMEM);
    context->interrupt_callback.callback = interruptWhenStopped;
    context->interrupt_callback.opaque = &job;
    // Only a job that fuzzers or tests registered a memory input for can be
    // served from memory; for every other job every name is a file.
    const int fromMemory = MemoryInput::attach(job, context, path);
    if (fromMemory < 0) {
        avformat_free_context(context);
        return fromMemory;
    }
    // The "file:" prefix makes a name like "concat:a|b" or "http://x" a plain
    // file name; the white list keeps every open on the file protocol, and
    // only the file itself is opened: playlists and references inside it
    // reach no other file.
    if (fromMemory == 0) {
        if (const int regular = refuseUnlessRegularFile(path); regular < 0) {
            avformat_free_context(context);
            return regular;
        }
        // The mark lets exactly one open through: the first one, of the
        // file itself. It is spent by that open, so every later open (of
        // this context, or of a nested one that inherits the mark) fails.
        static const char fileNotYetOpened = 0;
        static const auto defaultOpen = context->io_open;
        static const auto onlyTheFileItself = [](AVFormatContext *owner, AVIOContext **pb, const char *url, int flags,
                                                 AVDictionary **openOptions) -> int {
            if (owner->opaque != &fileNotYetOpened || pb != &owner->pb)
                return AVERROR(EPERM);
            owner->opaque = nullptr;
            return defaultOpen(owner, pb, url, flags, openOptions);
        };
        context->opaque = const_cast<char *>(&fileNotYetOpened);
        context->io_open = onlyTheFileItself;
    }
    AVDictionary *options = nullptr;
    int result = av_dict_set(&options, "protocol_whitelist", "file", 0);
    if (result >= 0)
        result = av_dict_set(&options, "format_whitelist", selfContainedDemuxers().c_str(), 0);
    if (result < 0) {
        // Without its white lists the open would not be local only.
        av_dict_free(&options);
        avformat_free_context(context);
        return result;
    }
    const std::string url = "file:" + path;
    result = avformat_open_input(&context, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (result < 0)
        return result; // avformat_open_input frees the context on failure
    input.reset(context);
    return 0;
}

int openDecoder(const AVStream *stream, CodecContextPtr &decoder) {
    const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec)
        return AVERROR_DECODER_NOT_FOUND;
    CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context)
        return AVERROR(ENOMEM);
    int result = avcodec_parameters_to_context(context.get(), stream->codecpar);
    if (result < 0)
        return result;
    context->pkt_timebase = stream->time_base;
    result = avcodec_open2(context.get(), codec, nullptr);
    if (result < 0)
        return result;
    decoder = std::move(context);
    return 0;
}

int openMusicStream(AVFormatContext *input, int &streamIndex, CodecContextPtr &decoder) {
    // The last audio stream that can be decoded is the music.
    int result = AVERROR_STREAM_NOT_FOUND;
    streamIndex = -1;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream *stream = input->streams[i];
        if (stream->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        CodecContextPtr candidate;
        result = openDecoder(stream, candidate);
        if (result < 0)
            continue;
        streamIndex = static_cast<int>(i);
        decoder = std::move(candidate);
    }
    return decoder ? 0 : result;
}

int openMusicInput(MixRun &run) {
    int result = openLocalInput(run.job, run.musicInput, run.request.musicPath);
    if (result < 0)
        return fail(run, "Could not open the music file", result);
    result = avformat_find_stream_info(run.musicInput.get(), nullptr);
    if (result < 0)
        return fail(run, "Could not read the music file's stream information", result);
    av_dump_format(run.musicInput.get(), 0, run.request.musicPath.c_str(), 0);

    result = openMusicStream(run.musicInput.get(), run.musicStreamIndex, run.musicDecoder);
    if (result < 0)
        return fail(run,
                    result == AVERROR_STREAM_NOT_FOUND ? "The music file holds no audio stream"
                                                       : "Could not open a decoder for the music",
                    result);
    run.musicStream = run.musicInput->streams[run.musicStreamIndex];
    if (!usableSampleRate(run.musicDecoder->sample_rate))
        return fail(run, "The music's sample rate (" + std::to_string(run.musicDecoder->sample_rate) + " Hz) is not usable",
                    AVERROR_INVALIDDATA);
    return 0;
}

int createResampler(MixRun &run, ResamplerPtr &target, const AVChannelLayout &inLayout, AVSampleFormat inFormat,
                    int inRate) {
    target.reset();
    if (!usableSampleRate(inRate))
        return fail(run, "The sound's sample rate (" + std::to_string(inRate) + " Hz) is not usable",
                    AVERROR_INVALIDDATA);
    SwrContext *resampler = nullptr;
    AVChannelLayout outLayout = stereoLayout();
    AVChannelLayout inputLayout = effectiveLayout(inLayout);
    int result = swr_alloc_set_opts2(&resampler, &outLayout, kOutputSampleFormat, kOutputSampleRate, &inputLayout,
                                     inFormat, inRate, 0, nullptr);
    if (result >= 0)
        result = swr_init(resampler);
    if (result < 0) {
        swr_free(&resampler);
        return fail(run, "Could not set up the audio resampler", result);
    }
    target.reset(resampler);
    return 0;
}

int openVideoInput(MixRun &run) {
    int result = openLocalInput(run.job, run.videoInput, run.request.videoPath);
    if (result < 0)
        return fail(run, "Could not open the video file", result);
    result = avformat_find_stream_info(run.videoInput.get(), nullptr);
    if (result < 0)
        return fail(run, "Could not read the video file's stream information", result);
    av_dump_format(run.videoInput.get(), 0, run.request.videoPath.c_str(), 0);

    // The own sound is the track a player plays: the decodable audio stream
    // marked default, else the first decodable one; an audio stream without
    // a decoder is not sound we can mix. The last video stream that is a
    // real picture sequence (not cover art) drives the run.
    int attachedPictureIndex = -1;
    for (unsigned i = 0; i < run.videoInput->nb_streams; ++i) {
        AVStream *stream = run.videoInput->streams[i];
        const AVMediaType type = stream->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_AUDIO) {
            const bool isDefault = stream->disposition & AV_DISPOSITION_DEFAULT;
            const bool defaultChosen = run.videoAudioStream && (run.videoAudioStream->disposition & AV_DISPOSITION_DEFAULT);
            if (defaultChosen || (run.videoAudioStream && !isDefault) || !avcodec_find_decoder(stream->codecpar->codec_id))
                continue;
            CodecContextPtr decoder;
            result = openDecoder(stream, decoder);
            if (result < 0)
                return fail(run, "Could not open a decoder for the video's sound", result);
            if (!usableSampleRate(decoder->sample_rate))
                return fail(run,
                            "The video's sound has an unusable sample rate (" + std::to_string(decoder->sample_rate) +
                                " Hz)",
                            AVERROR_INVALIDDATA);
            run.videoAudioStream = stream;
            run.videoAudioStreamIndex = static_cast<int>(i);
            run.videoAudioDecoder = std::move(decoder);
        } else if (type == AVMEDIA_TYPE_VIDEO) {
            if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC)
                attachedPictureIndex = static_cast<int>(i);
            else
                run.videoStreamIndex = static_cast<int>(i);
        }
    }
    if (run.videoStreamIndex < 0)
        run.videoStreamIndex = attachedPictureIndex;
    if (run.videoStreamIndex < 0)
        return fail(run, "The video file holds no video stream", AVERROR_STREAM_NOT_FOUND);

    if (run.videoAudioDecoder) {
        run.result.mode = MixMode::MixBoth;
        const AVChannelLayout videoLayout = effectiveLayout(run.videoAudioDecoder->ch_layout);
        return createResampler(run, run.videoAudioResampler, videoLayout, run.videoAudioDecoder->sample_fmt,
                               run.videoAudioDecoder->sample_rate);
    }
    const AVCodecID musicCodec = run.musicDecoder->codec_id;
    run.result.mode = (musicCodec == AV_CODEC_ID_WMAV1 || musicCodec == AV_CODEC_ID_WMAV2) ? MixMode::ReencodeMusic
                                                                                            : MixMode::CopyMusic;
    // Copied packets cannot fade, start later or loop otherwise.
    if (run.result.appliedMixSettings.changesMusicSound())
        run.result.mode = MixMode::ReencodeMusic;
    return 0;
}

} // namespace melvora
