// The AAC encoding of the new sound track and the writing of every packet.
// Frames are stamped in samples from the first sample of the new sound; the
// encoder's packets start one frame earlier (its priming, which it reports as
// initial padding), and that reaches the muxer as it is, so that each
// container can tell players to skip it (an MP4 edit list, Matroska's codec
// delay) and the first sample plays with the video's first frame.

#include "engine/MixSteps.h"

#include <algorithm>
#include <thread>

extern "C" {
#include <libavutil/samplefmt.h>
}

namespace melvora {
namespace {

// Writes one encoded packet of the new sound track.
bool writeEncodedPacket(MixJob &job, LoopState &state, AVPacket *packet) {
    packet->stream_index = job.outputAudioStreamIndex;
    packet->pts -= state.leadSamples;
    packet->dts -= state.leadSamples;
    av_packet_rescale_ts(packet, job.audioEncoder->time_base, job.outputAudioStream->time_base);
    if (packet->pts != AV_NOPTS_VALUE)
        packet->pts += state.encodedPtsShift;
    if (packet->dts != AV_NOPTS_VALUE) {
        packet->dts += state.encodedPtsShift;
        job.audioClockMs = timestampToMs(packet->dts, job.outputAudioStream->time_base);
    }
    return writeToOutput(job, state, packet);
}

// Writes what the encoder finished so far.
bool writeReadyPackets(MixJob &job, LoopState &state) {
    state.trackEncoder->takePackets(state.readyPackets);
    bool written = true;
    for (PacketPtr &packet : state.readyPackets)
        if (written)
            written = writeEncodedPacket(job, state, packet.get());
    state.readyPackets.clear();
    return written;
}

int leadSamplesFor(AVRational timeBase, int priming) {
    // The smallest lead that makes priming + lead samples a whole number of
    // ticks of the stream's clock; none for clocks that count samples.
    if (timeBase.num <= 0 || timeBase.den <= 0)
        return 0;
    const std::int64_t perTick = std::int64_t(kOutputSampleRate) * timeBase.num;
    for (std::int64_t lead = 0; lead <= kOutputSampleRate; ++lead) {
        if (((priming + lead) * timeBase.den) % perTick == 0)
            return static_cast<int>(lead);
    }
    return 0;
}

// Hands one frame to the encoder and writes what has come out.
bool sendToEncoder(MixJob &job, LoopState &state, AVFrame *frame) {
    FramePtr queued(av_frame_alloc());
    if (!queued) {
        state.lastResult = AVERROR(ENOMEM);
        return false;
    }
    av_frame_move_ref(queued.get(), frame);
    // The encoder counts frames from 0: the lead silence is its start.
    queued->pts += state.leadSamples;
    const int result = state.trackEncoder->submit(std::move(queued));
    if (!writeReadyPackets(job, state))
        return false;
    if (result < 0)
        state.lastResult = result;
    return result >= 0;
}

} // namespace

bool writeToOutput(MixJob &job, LoopState &state, AVPacket *packet) {
    // The muxer takes the packet's contents, whatever the result.
    const int result = av_interleaved_write_frame(job.outputContext.get(), packet);
    if (result < 0) {
        state.lastResult = result;
        state.writeFailed = true;
        return false;
    }
    state.lastResult = result;
    return true;
}

void startSoundEncoding(MixJob &job, LoopState &state) {
    if (!job.audioEncoder)
        return;
    int threads = job.encoderThreads > 0 ? job.encoderThreads
                                         : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    // A video too short for two segments is one encoder's work either way:
    // the single encoder does it without holding a segment of sound.
    const SegmentPlan nominal = SegmentPlan::defaultPlan();
    const double segmentSeconds = double(nominal.segmentFrames) * job.audioEncoder->frame_size / kOutputSampleRate;
    if (job.durationSeconds < 2 * segmentSeconds)
        threads = 1;
    const auto totalFrames =
        static_cast<std::int64_t>(job.durationSeconds * kOutputSampleRate / job.audioEncoder->frame_size);
    const SegmentPlan plan = SegmentPlan::balanced(totalFrames, threads);
    state.trackEncoder = std::make_unique<SegmentedAacEncoder>(openRunAacEncoder, threads, plan);
    if (threads > 1) {
        // A segment's sound comes out only once the next one has begun, so
        // the sound runs up to two segments behind the picture. The muxer
        // waits that long for it, so that the file stays interleaved by time
        // (and the same from run to run) instead of holding the picture far
        // ahead of its sound.
        const std::int64_t behindFrames = 2 * std::int64_t(plan.segmentFrames) + plan.prerollFrames +
                                          plan.postrollFrames;
        const std::int64_t behind =
            av_rescale(behindFrames * job.audioEncoder->frame_size, AV_TIME_BASE, kOutputSampleRate);
        AVFormatContext *output = job.outputContext.get();
        output->max_interleave_delta = std::max(output->max_interleave_delta, behind + 10 * AV_TIME_BASE);
    }
    const int lead = leadSamplesFor(job.outputAudioStream->time_base, job.audioEncoder->initial_padding);
    if (lead == 0)
        return;
    FramePtr silence;
    if (allocEncoderFrame(job, silence, job.audioEncoder.get(), lead) < 0)
        return; // without the lead the sound is at most one tick off
    av_samples_set_silence(silence->extended_data, 0, lead, silence->ch_layout.nb_channels,
                           static_cast<AVSampleFormat>(silence->format));
    state.leadFifo.reset(av_audio_fifo_alloc(kOutputSampleFormat, 2, lead + 2 * job.audioEncoder->frame_size));
    if (state.leadFifo &&
        av_audio_fifo_write(state.leadFifo.get(), reinterpret_cast<void **>(silence->extended_data), lead) < lead)
        state.leadFifo.reset();
    if (state.leadFifo) {
        state.leadFramePts = -lead;
        state.leadSamples = lead;
    }
}

namespace {

// Cuts whole encoder frames (or, at the end, what is left) out of the lead
// FIFO and sends them on.
bool sendLeadFrames(MixJob &job, LoopState &state, bool last) {
    const int chunk = job.audioEncoder->frame_size;
    for (;;) {
        const int available = av_audio_fifo_size(state.leadFifo.get());
        if (available == 0 || (available < chunk && !last))
            return true;
        const int samples = std::min(available, chunk);
        FramePtr frame;
        const int result = takeFifoFrame(job, state.leadFifo.get(), samples, state.leadFramePts, frame);
        if (result < 0) {
            state.lastResult = result;
            return false;
        }
        state.leadFramePts += samples;
        if (!sendToEncoder(job, state, frame.get()))
            return false;
    }
}

} // namespace

bool encodeFrame(MixJob &job, LoopState &state, AVFrame *frame) {
    if (!state.leadFifo)
        return sendToEncoder(job, state, frame);
    const int written =
        av_audio_fifo_write(state.leadFifo.get(), reinterpret_cast<void **>(frame->extended_data), frame->nb_samples);
    const int expected = frame->nb_samples;
    av_frame_unref(frame);
    if (written < expected) {
        state.lastResult = written < 0 ? written : AVERROR(ENOMEM);
        return false;
    }
    return sendLeadFrames(job, state, false);
}

void finishSoundEncoding(MixJob &job, LoopState &state, bool flush) {
    if (!state.trackEncoder)
        return;
    // The loop's own ending result (the end of the video) stands unless
    // encoding or writing fails here.
    const int endingResult = state.lastResult;
    bool ok = true;
    if (flush && state.leadFifo)
        ok = sendLeadFrames(job, state, true);
    // A stop keeps what is ready so far; only the end of the sound waits for
    // everything the encoder holds.
    int error = 0;
    if (flush && ok && !job.stopRequested.load())
        error = state.trackEncoder->finish();
    else
        state.trackEncoder->cancel();
    if (!state.writeFailed && !writeReadyPackets(job, state))
        ok = false;
    if (error == 0)
        error = state.trackEncoder->error();
    state.trackEncoder.reset();
    if (error < 0) {
        state.lastResult = error;
        return;
    }
    if (ok)
        state.lastResult = endingResult;
}

} // namespace melvora
