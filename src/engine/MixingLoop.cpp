// The body of a run: copies the video's packets and makes the new sound
// track, pass by pass, until the video is exhausted, an error ends the loop
// or the user stops it. The sound of each mode is made in its own file.

#include "engine/MixSteps.h"

#include <cmath>
#include <limits>

namespace melvora {
namespace {

void publishProgress(MixJob &job) {
    const double quotient = job.positionSeconds * 100.0 / job.durationSeconds;
    int percent = 0;
    if (std::isfinite(quotient))
        percent = quotient <= 0 ? 0 : quotient >= 100 ? 100 : static_cast<int>(quotient);
    job.progressPercent = percent;
}

// Notes where the picture ends, in samples of the new sound: re-encoded
// music is cut there.
void noteVideoEnd(LoopState &state, const AVPacket *packet, const AVStream *in) {
    std::int64_t stamp = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (stamp == AV_NOPTS_VALUE)
        return;
    if (packet->duration > 0)
        stamp += packet->duration;
    const std::int64_t end = av_rescale_q(stamp, in->time_base, AVRational{1, kOutputSampleRate}) -
                             state.soundStartSamples;
    if (state.videoEndSamples == AV_NOPTS_VALUE || end > state.videoEndSamples)
        state.videoEndSamples = end;
}

// One packet of the video file. False ends the loop.
bool videoPass(MixJob &job, LoopState &state) {
    AVPacket *packet = state.readPacket.get();
    state.lastResult = av_read_frame(job.videoInput.get(), packet);
    if (state.lastResult < 0)
        return false;

    const int index = packet->stream_index;
    if (index < 0 || index >= job.streamMapCount || job.streamMap[index] < 0) {
        av_packet_unref(packet);
        return true;
    }
    if (job.mode == MixMode::MixBoth && index == job.videoAudioStreamIndex)
        return mixOwnSoundPacket(job, state, packet);

    const AVStream *in = job.videoInput->streams[index];
    const int outIndex = job.streamMap[index];
    const AVStream *out = job.outputContext->streams[outIndex];
    if (index == job.videoStreamIndex) {
        if (packet->dts != AV_NOPTS_VALUE)
            job.videoClockMs = timestampToMs(packet->dts, in->time_base);
        if (packet->pts != AV_NOPTS_VALUE)
            job.positionSeconds = static_cast<double>(packet->pts) * av_q2d(in->time_base);
        noteVideoEnd(state, packet, in);
    }
    const int result = copyPacket(job, packet, in, out, outIndex);
    av_packet_unref(packet);
    state.lastResult = result;
    if (result < 0) {
        state.writeFailed = true; // the file is broken off: nothing more can be written
        return false;
    }
    return true;
}

// Where the next packet comes from: the video, unless the sound of a silent
// video is behind it.
bool soundIsBehind(const MixJob &job, const LoopState &state) {
    if (job.mode == MixMode::MixBoth)
        return false;
    // The music is made up to the end of the picture written so far (the
    // latest picture's end, not the last packet's decode time, which lags
    // behind it by the pictures a B-frame stream holds back): re-encoded
    // music sample for sample, so that it can end exactly with the video.
    if (state.videoEndSamples == AV_NOPTS_VALUE)
        return false;
    if (job.mode == MixMode::CopyMusic)
        return state.copiedMusicEndSamples < state.videoEndSamples;
    return soundMadeSamples(job, state) < state.videoEndSamples;
}

} // namespace

std::int64_t soundMadeSamples(const MixJob &job, const LoopState &state) {
    return state.sampleCounter + (job.musicFifo ? av_audio_fifo_size(job.musicFifo.get()) : 0);
}

namespace {

// Where a stream's clock starts, in samples of the new sound; clocks that
// start before zero (encoder priming) count as zero.
std::int64_t startSamples(const AVStream *stream) {
    if (!stream || stream->start_time == AV_NOPTS_VALUE || stream->start_time <= 0)
        return 0;
    return av_rescale_q(stream->start_time, stream->time_base, AVRational{1, kOutputSampleRate});
}

} // namespace

void anchorSoundToVideo(MixJob &job, LoopState &state) {
    // The sound starts where the video's clock starts: at the picture, or
    // at the video's own sound when that is mixed in and starts earlier.
    // Own sound that starts after the picture is preceded by silence, so
    // that the music still starts with the first picture.
    const AVStream *picture = job.videoStreamIndex >= 0 ? job.videoInput->streams[job.videoStreamIndex] : nullptr;
    const std::int64_t pictureStart = startSamples(picture);
    std::int64_t start = pictureStart;
    if (job.mode == MixMode::MixBoth && job.videoAudioStream) {
        const std::int64_t ownStart = startSamples(job.videoAudioStream);
        start = std::min(ownStart, pictureStart);
        state.ownSoundLead = ownStart - start;
    }
    state.loopOffset = -job.musicPrimingShift;
    state.soundStartSamples = start;
    if (start <= 0)
        return;
    const AVRational samples{1, kOutputSampleRate};
    if (job.mode == MixMode::CopyMusic)
        state.loopOffset += av_rescale_q(start, samples, job.musicStream->time_base);
    else
        state.encodedPtsShift = av_rescale_q(start, samples, job.outputAudioStream->time_base);
}

int rewindMusic(MixJob &job, LoopState &state) {
    if (!state.musicSoundSinceRewind)
        return AVERROR_INVALIDDATA; // a whole pass through the music gave no sound
    state.musicSoundSinceRewind = false;
    const AVStream *stream = job.musicStream;
    const std::int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    int result = av_seek_frame(job.musicInput.get(), job.musicStreamIndex, start, AVSEEK_FLAG_BACKWARD);
    if (result < 0)
        result = avformat_seek_file(job.musicInput.get(), -1, std::numeric_limits<std::int64_t>::min(), 0, 0, 0);
    return result;
}

void runMixingLoop(MixJob &job, LoopState &state) {
    startSoundEncoding(job, state);
    if (job.mode == MixMode::MixBoth && !mixSilentOwnSound(job, state, state.ownSoundLead)) {
        finishSoundEncoding(job, state, false);
        return;
    }
    for (;;) {
        if (job.stopRequested.load())
            break;
        publishProgress(job);
        bool goOn = false;
        if (!soundIsBehind(job, state))
            goOn = videoPass(job, state);
        else if (job.mode == MixMode::CopyMusic)
            goOn = copyMusicPass(job, state);
        else
            goOn = reencodeMusicPass(job, state);
        if (!goOn)
            break;
    }
    if (state.writeFailed) {
        finishSoundEncoding(job, state, false);
        return;
    }
    // At the video's end the sound still held in the chain is let out, so
    // that it covers the picture to its last frame; a stop keeps what the
    // encoder has and ends there.
    const int endingResult = state.lastResult;
    bool finished = true;
    if (endingResult == AVERROR_EOF && !job.stopRequested.load()) {
        if (job.mode == MixMode::MixBoth)
            finished = finishMixedSound(job, state);
        else if (job.mode == MixMode::ReencodeMusic)
            finished = finishReencodedMusic(job, state);
        else
            finished = finishCopiedMusic(job, state);
    }
    finishSoundEncoding(job, state, finished && !state.writeFailed);
    if (finished && state.lastResult >= 0)
        state.lastResult = endingResult;
}

} // namespace melvora
