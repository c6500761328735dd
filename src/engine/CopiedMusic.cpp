// A silent video with copied music: the music's packets, their time stamps
// running on across each rewind.

#include "engine/MixSteps.h"

#include <algorithm>

namespace melvora {
namespace {

// One frame's duration of the music, so the next pass starts right after
// the last packet.
std::int64_t musicFrameDuration(const MixRun &run) {
    const AVCodecParameters *parameters = run.musicStream->codecpar;
    const AVRational timeBase = run.musicStream->time_base;
    std::int64_t frameDuration = 0;
    if (parameters->frame_size > 0 && parameters->sample_rate > 0 && timeBase.num > 0)
        frameDuration = std::int64_t(parameters->frame_size) * timeBase.den / timeBase.num / parameters->sample_rate;
    if (frameDuration <= 0)
        frameDuration = run.lastMusicDuration > 0 ? run.lastMusicDuration : 1;
    return frameDuration;
}

// Gives a music packet its place on the output's clock. Stamps are carried
// over in samples, so that a container with a coarse clock (AVI counts whole
// packets) sees no gap where rounding would open one at a loop seam.
void stampCopiedMusic(MixRun &run, AVPacket *packet, const AVStream *outStream) {
    const AVRational musicBase = run.musicStream->time_base;
    const AVCodecParameters *parameters = run.musicStream->codecpar;
    const AVRational sampleBase{1, parameters->sample_rate};
    int samples = static_cast<int>(av_rescale_q(packet->duration, musicBase, sampleBase));
    if (samples <= 0)
        samples = parameters->frame_size > 0 ? parameters->frame_size : 1;
    const std::int64_t decodeStamp =
        av_rescale_delta(musicBase, packet->dts, sampleBase, samples, &run.musicRescaleLast, outStream->time_base);
    packet->pts = packet->dts = decodeStamp;
    packet->duration = av_rescale_q(packet->duration, musicBase, outStream->time_base);
}

} // namespace

int copyMusicPass(MixRun &run) {
    AVPacket *packet = run.readPacket.get();
    int result = av_read_frame(run.musicInput.get(), packet);
    if (result == AVERROR_EOF) {
        // The next pass starts one frame after the last packet. Its offset is
        // fixed by its own first packet: a seek back may skip packets that
        // the first pass had (AAC priming), which would leave a gap.
        run.nextPassStart = run.lastMusicPts + musicFrameDuration(run);
        run.passStartPending = true;
        return rewindMusic(run);
    }
    if (result < 0)
        return result;
    if (packet->stream_index != run.musicStreamIndex) {
        av_packet_unref(packet);
        return 0;
    }
    run.musicSoundSinceRewind = true;

    // A packet without time stamps continues from the last one.
    if (packet->pts == AV_NOPTS_VALUE)
        packet->pts = packet->dts != AV_NOPTS_VALUE ? packet->dts
                                                    : run.lastMusicPts - run.loopOffset + run.lastMusicDuration;
    if (packet->dts == AV_NOPTS_VALUE)
        packet->dts = packet->pts;
    if (run.passStartPending) {
        run.loopOffset = run.nextPassStart - packet->dts;
        run.passStartPending = false;
    }
    packet->pts += run.loopOffset;
    packet->dts += run.loopOffset;

    run.audioClockMs = timestampToMs(packet->dts, run.musicStream->time_base);
    run.lastMusicPts = packet->pts;
    if (packet->duration > 0)
        run.lastMusicDuration = packet->duration;
    run.copiedMusicEndSamples =
        av_rescale_q(packet->pts + std::max<std::int64_t>(packet->duration, 0), run.musicStream->time_base,
                     AVRational{1, kOutputSampleRate}) -
        run.soundStartSamples;

    const AVStream *outStream = run.outputContext->streams[run.outputAudioStreamIndex];
    if (run.musicStream->codecpar->sample_rate > 0) {
        stampCopiedMusic(run, packet, outStream);
        // Already on the output's clock: the copy's own rescale is the identity.
        return copyToOutput(run, packet, outStream, run.outputAudioStreamIndex);
    }
    return copyToOutput(run, packet, run.musicStream, run.outputAudioStreamIndex);
}

int finishCopiedMusic(MixRun &run) {
    while (run.videoEndSamples != AV_NOPTS_VALUE && run.copiedMusicEndSamples < run.videoEndSamples) {
        if (stopWanted(run))
            return AVERROR_EXIT;
        if (const int result = copyMusicPass(run); result < 0)
            return result;
    }
    return 0;
}

} // namespace melvora
