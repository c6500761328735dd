// The body of a run: copies the video's packets and makes the new sound
// track, pass by pass, until the video is exhausted, an error ends the loop
// or the user stops it. The sound of each mode is made in its own file.

#include "engine/MixSteps.h"

#include <algorithm>

#include <cmath>
#include <limits>

namespace melvora {
namespace {

void publishProgress(MixRun &run) {
    const double quotient = run.positionSeconds / run.request.durationSeconds;
    const double share = std::isfinite(quotient) ? std::clamp(quotient, 0.0, 1.0) : 0.0;
    run.job.progressPercent = run.progressFrom + static_cast<int>(share * run.progressSpan);
}

// Notes where the picture ends, in samples of the new sound: the sound is
// made up to there.
void noteVideoEnd(MixRun &run, const AVPacket *packet, const AVStream *in) {
    std::int64_t stamp = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (stamp == AV_NOPTS_VALUE)
        return;
    if (packet->duration > 0)
        stamp += packet->duration;
    const std::int64_t end =
        av_rescale_q(stamp, in->time_base, AVRational{1, kOutputSampleRate}) - run.soundStartSamples;
    if (run.videoEndSamples == AV_NOPTS_VALUE || end > run.videoEndSamples)
        run.videoEndSamples = end;
}

void noteInputEnd(MixRun &run, const AVPacket *packet) {
    const AVFormatContext *input = run.videoInput.get();
    std::int64_t stamp = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (stamp == AV_NOPTS_VALUE || packet->stream_index < 0 ||
        packet->stream_index >= static_cast<int>(input->nb_streams))
        return;
    stamp += std::max<std::int64_t>(packet->duration, 0);
    const double start = input->start_time != AV_NOPTS_VALUE ? double(input->start_time) / AV_TIME_BASE : 0.0;
    const double end = double(stamp) * av_q2d(input->streams[packet->stream_index]->time_base) - start;
    run.inputEndSeconds = std::max(run.inputEndSeconds, end);
}

// One packet of the video file.
int videoPass(MixRun &run) {
    AVPacket *packet = run.readPacket.get();
    const int result = av_read_frame(run.videoInput.get(), packet);
    if (result < 0)
        return result; // the end of the video, or an error
    noteInputEnd(run, packet);
    const int index = packet->stream_index;
    if (index < 0 || index >= static_cast<int>(run.streamMap.size()) || run.streamMap[index] < 0) {
        av_packet_unref(packet);
        return 0;
    }
    if (run.mode == MixMode::MixBoth && index == run.videoAudioStreamIndex)
        return mixOwnSoundPacket(run, packet);

    const AVStream *in = run.videoInput->streams[index];
    if (index == run.videoStreamIndex) {
        if (packet->dts != AV_NOPTS_VALUE)
            run.videoClockMs = timestampToMs(packet->dts, in->time_base);
        if (packet->pts != AV_NOPTS_VALUE)
            run.positionSeconds = static_cast<double>(packet->pts) * av_q2d(in->time_base);
        noteVideoEnd(run, packet, in);
    }
    return copyToOutput(run, packet, in, run.streamMap[index]);
}

// Where the next packet comes from: the video, unless the sound of a silent
// video is behind it.
bool soundIsBehind(const MixRun &run) {
    if (run.mode == MixMode::MixBoth)
        return false;
    // The music is made up to the end of the picture written so far (the
    // latest picture's end, not the last packet's decode time, which lags
    // behind it by the pictures a B-frame stream holds back): re-encoded
    // music sample for sample, so that it can end exactly with the video.
    if (run.videoEndSamples == AV_NOPTS_VALUE)
        return false;
    if (run.mode == MixMode::CopyMusic)
        return run.copiedMusicEndSamples < run.videoEndSamples;
    return soundMadeSamples(run) < run.videoEndSamples;
}

} // namespace

std::int64_t soundMadeSamples(const MixRun &run) {
    return run.sampleCounter + (run.musicFifo ? av_audio_fifo_size(run.musicFifo.get()) : 0);
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

void anchorSoundToVideo(MixRun &run) {
    // The sound starts where the video's clock starts: at the picture, or
    // at the video's own sound when that is mixed in and starts earlier.
    // Own sound that starts after the picture is preceded by silence, so
    // that the music still starts with the first picture.
    const AVStream *picture = run.videoStreamIndex >= 0 ? run.videoInput->streams[run.videoStreamIndex] : nullptr;
    const std::int64_t pictureStart = startSamples(picture);
    std::int64_t start = pictureStart;
    if (run.mode == MixMode::MixBoth && run.videoAudioStream) {
        const std::int64_t ownStart = startSamples(run.videoAudioStream);
        start = std::min(ownStart, pictureStart);
        run.ownSoundLead = ownStart - start;
    }
    run.loopOffset = -run.musicPrimingShift;
    run.soundStartSamples = start;
    if (start <= 0)
        return;
    const AVRational samples{1, kOutputSampleRate};
    if (run.mode == MixMode::CopyMusic)
        run.loopOffset += av_rescale_q(start, samples, run.musicStream->time_base);
    else if (run.outputAudioStream)
        run.encodedPtsShift = av_rescale_q(start, samples, run.outputAudioStream->time_base);
}

int rewindMusic(MixRun &run) {
    if (!run.musicSoundSinceRewind)
        return AVERROR_INVALIDDATA; // a whole pass through the music gave no sound
    run.musicSoundSinceRewind = false;
    return seekToStreamStart(run.musicInput.get(), run.musicStreamIndex, std::nullopt);
}

namespace {

// At the video's end: the sound still held in the chain, up to the last
// picture.
int finishSound(MixRun &run) {
    switch (run.mode) {
    case MixMode::MixBoth:
        return finishMixedSound(run);
    case MixMode::ReencodeMusic:
        return finishReencodedMusic(run);
    case MixMode::CopyMusic:
        return finishCopiedMusic(run);
    }
    return AVERROR_BUG;
}

// A stop leaves the sound behind the picture by what the chain held (the
// interleaving of the video file, the encoders' segments). It is made up,
// but by no more than this, so that a stop stays quick even where the own
// sound ended long before the picture.
constexpr std::int64_t kStopCatchUpSamples = 30 * std::int64_t(kOutputSampleRate);

void beginCatchUpAfterStop(MixRun &run) {
    run.finishingAfterStop = true;
    run.job.interruptArmed = false; // the catch-up may read more music
    if (run.musicFeed)
        run.musicFeed->ignoreStop();
    if (run.videoEndSamples == AV_NOPTS_VALUE)
        return;
    const std::int64_t made = run.mode == MixMode::MixBoth     ? run.mixInputSamples
                              : run.mode == MixMode::CopyMusic ? run.copiedMusicEndSamples
                                                               : soundMadeSamples(run);
    run.videoEndSamples = std::min(run.videoEndSamples, made + kStopCatchUpSamples);
}

} // namespace

int runMixingLoop(MixRun &run) {
    int result = startSoundEncoding(run);
    if (result >= 0 && run.mode == MixMode::MixBoth)
        result = mixSilentOwnSound(run, run.ownSoundLead);
    while (result >= 0) {
        if (run.job.stopRequested.load()) {
            result = AVERROR_EXIT;
            break;
        }
        publishProgress(run);
        if (!soundIsBehind(run))
            result = videoPass(run);
        else if (run.mode == MixMode::CopyMusic)
            result = copyMusicPass(run);
        else
            result = reencodeMusicPass(run);
    }
    // At the video's end, and after a stop, the sound still owed to the
    // pictures written is made and encoded, so that it covers the picture to
    // its last frame; a broken-off file takes nothing more.
    const bool stopped = result == AVERROR_EXIT;
    // A stopped measurement has nothing to catch up.
    if ((result == AVERROR_EOF || (stopped && !run.measuringOnly)) && !run.writeFailed) {
        if (stopped)
            beginCatchUpAfterStop(run);
        const int finished = finishSound(run);
        if (!stopped)
            result = finished; // a stopped run stays stopped: its file is as far as it got
    }
    const bool whole = result >= 0 || result == AVERROR_EOF;
    const int encoding = finishSoundEncoding(run, (whole || stopped) && !run.writeFailed);
    if (whole)
        return encoding < 0 ? encoding : AVERROR_EOF;
    // A stop is no failure, unless the encoding failed on its own.
    return result == AVERROR_EXIT && encoding < 0 ? encoding : result;
}

} // namespace melvora
