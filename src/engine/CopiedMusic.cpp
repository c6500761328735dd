// A silent video with copied music: the music's packets, their time stamps
// running on across each rewind.

#include "engine/MixSteps.h"

#include <algorithm>

namespace melvora {
namespace {

// One frame's duration of the music, so the next pass starts right after
// the last packet.
std::int64_t musicFrameDuration(const MixJob &job, const LoopState &state) {
    const AVCodecParameters *parameters = job.musicStream->codecpar;
    const AVRational timeBase = job.musicStream->time_base;
    std::int64_t frameDuration = 0;
    if (parameters->frame_size > 0 && parameters->sample_rate > 0 && timeBase.num > 0)
        frameDuration = std::int64_t(parameters->frame_size) * timeBase.den / timeBase.num / parameters->sample_rate;
    if (frameDuration <= 0)
        frameDuration = state.lastMusicDuration > 0 ? state.lastMusicDuration : 1;
    return frameDuration;
}

// Gives a music packet its place on the output's clock. Stamps are carried
// over in samples, so that a container with a coarse clock (AVI counts whole
// packets) sees no gap where rounding would open one at a loop seam.
void stampCopiedMusic(MixJob &job, LoopState &state, AVPacket *packet, const AVStream *outStream) {
    const AVRational musicBase = job.musicStream->time_base;
    const AVCodecParameters *parameters = job.musicStream->codecpar;
    const AVRational sampleBase{1, parameters->sample_rate};
    int samples = static_cast<int>(av_rescale_q(packet->duration, musicBase, sampleBase));
    if (samples <= 0)
        samples = parameters->frame_size > 0 ? parameters->frame_size : 1;
    const std::int64_t decodeStamp =
        av_rescale_delta(musicBase, packet->dts, sampleBase, samples, &state.musicRescaleLast, outStream->time_base);
    packet->pts = packet->dts = decodeStamp;
    packet->duration = av_rescale_q(packet->duration, musicBase, outStream->time_base);
}

} // namespace

bool copyMusicPass(MixJob &job, LoopState &state) {
    AVPacket *packet = state.readPacket.get();
    int result = av_read_frame(job.musicInput.get(), packet);
    state.lastResult = result;
    if (result == AVERROR_EOF) {
        // The next pass starts one frame after the last packet. Its offset is
        // fixed by its own first packet: a seek back may skip packets that
        // the first pass had (AAC priming), which would leave a gap.
        state.nextPassStart = state.lastMusicPts + musicFrameDuration(job, state);
        state.passStartPending = true;
        result = rewindMusic(job, state);
        if (result < 0) {
            state.lastResult = result;
            return false;
        }
        return true;
    }
    if (result < 0)
        return false;
    if (packet->stream_index != job.musicStreamIndex) {
        av_packet_unref(packet);
        return true;
    }
    state.musicSoundSinceRewind = true;

    // A packet without time stamps continues from the last one.
    if (packet->pts == AV_NOPTS_VALUE)
        packet->pts = packet->dts != AV_NOPTS_VALUE ? packet->dts
                                                    : state.lastMusicPts - state.loopOffset + state.lastMusicDuration;
    if (packet->dts == AV_NOPTS_VALUE)
        packet->dts = packet->pts;
    if (state.passStartPending) {
        state.loopOffset = state.nextPassStart - packet->dts;
        state.passStartPending = false;
    }
    packet->pts += state.loopOffset;
    packet->dts += state.loopOffset;

    job.audioClockMs = timestampToMs(packet->dts, job.musicStream->time_base);
    state.lastMusicPts = packet->pts;
    if (packet->duration > 0)
        state.lastMusicDuration = packet->duration;
    state.copiedMusicEndSamples =
        av_rescale_q(packet->pts + std::max<std::int64_t>(packet->duration, 0), job.musicStream->time_base,
                     AVRational{1, kOutputSampleRate}) -
        state.soundStartSamples;

    const AVStream *outStream = job.outputContext->streams[job.outputAudioStreamIndex];
    if (job.musicStream->codecpar->sample_rate > 0) {
        stampCopiedMusic(job, state, packet, outStream);
        // Already on the output's clock: the copy's own rescale is the identity.
        result = copyPacket(job, packet, outStream, outStream, job.outputAudioStreamIndex);
    } else {
        result = copyPacket(job, packet, job.musicStream, outStream, job.outputAudioStreamIndex);
    }
    av_packet_unref(packet);
    if (result < 0) {
        state.lastResult = result;
        state.writeFailed = true;
        return false;
    }
    // The music copy's own result is not the run's: the video read decides.
    state.lastResult = 0;
    return true;
}

bool finishCopiedMusic(MixJob &job, LoopState &state) {
    while (state.videoEndSamples != AV_NOPTS_VALUE && state.copiedMusicEndSamples < state.videoEndSamples) {
        if (job.stopRequested.load())
            return true;
        if (!copyMusicPass(job, state))
            return false;
    }
    return true;
}

} // namespace melvora
