// The encoding of the new sound track and the writing of every packet.
// Frames are stamped in samples from the first sample of the new sound; the
// encoder's packets start one frame earlier (its priming, which it reports as
// initial padding), and that reaches the muxer as it is, so that each
// container can tell players to skip it (an MP4 edit list, Matroska's codec
// delay) and the first sample plays with the video's first frame.

#include "engine/Loudness.h"
#include "engine/MixSteps.h"
#include "engine/PlainTrackEncoder.h"
#include "engine/SegmentedAacEncoder.h"

#include <algorithm>
#include <string_view>
#include <thread>

namespace melvora {
namespace {

// Hands what the decoder of the written sound has made to its meter; a
// null packet drains it at the end.
int meterEncodedPacket(MixRun &run, const AVPacket *packet) {
    AVCodecContext *decoder = run.encodedSoundDecoder.get();
    int result = avcodec_send_packet(decoder, packet);
    if (result == AVERROR_INVALIDDATA)
        result = 0; // a packet the decoder refuses is not the meter's to report
    while (result >= 0) {
        result = avcodec_receive_frame(decoder, run.encodedSoundFrame.get());
        if (result < 0)
            break;
        result = run.encodedSoundMeter->add(run.encodedSoundFrame.get());
        av_frame_unref(run.encodedSoundFrame.get());
    }
    return result == AVERROR(EAGAIN) || result == AVERROR_EOF ? 0 : result;
}

int startEncodedSoundMeter(MixRun &run) {
    if (!run.encodedSoundMeter)
        return 0;
    run.encodedSoundFrame.reset(av_frame_alloc());
    const int result = run.encodedSoundFrame ? openDecoder(run.outputAudioStream, run.encodedSoundDecoder)
                                             : AVERROR(ENOMEM);
    return result < 0 ? fail(run, "Could not start measuring the new sound", result) : 0;
}

// Writes one encoded packet of the new sound track.
int writeEncodedPacket(MixRun &run, AVPacket *packet) {
    packet->stream_index = run.outputAudioStreamIndex;
    packet->pts -= run.leadSamples;
    packet->dts -= run.leadSamples;
    av_packet_rescale_ts(packet, run.audioEncoder->time_base, run.outputAudioStream->time_base);
    if (packet->pts != AV_NOPTS_VALUE)
        packet->pts += run.encodedPtsShift;
    if (packet->dts != AV_NOPTS_VALUE) {
        packet->dts += run.encodedPtsShift;
        run.audioClockMs = timestampToMs(packet->dts, run.outputAudioStream->time_base);
    }
    if (run.encodedSoundDecoder) {
        if (const int measured = meterEncodedPacket(run, packet); measured < 0) {
            av_packet_unref(packet);
            return measured;
        }
    }
    return writeToOutput(run, packet);
}

// Writes what the encoder finished so far.
int writeReadyPackets(MixRun &run) {
    run.trackEncoder->takePackets(run.readyPackets);
    int result = 0;
    for (PacketPtr &packet : run.readyPackets)
        if (result >= 0)
            result = writeEncodedPacket(run, packet.get());
    run.readyPackets.clear();
    return result;
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
int sendToEncoder(MixRun &run, AVFrame *frame) {
    FramePtr queued(av_frame_alloc());
    if (!queued)
        return AVERROR(ENOMEM);
    av_frame_move_ref(queued.get(), frame);
    // The encoder counts frames from 0: the lead silence is its start.
    queued->pts += run.leadSamples;
    const int result = run.trackEncoder->submit(std::move(queued));
    const int written = writeReadyPackets(run);
    return written < 0 ? written : result;
}

// Cuts whole encoder frames (or, at the end, what is left) out of the lead
// FIFO and sends them on.
int sendLeadFrames(MixRun &run, bool last) {
    const int chunk = kMixChunkSamples;
    for (;;) {
        const int available = av_audio_fifo_size(run.leadFifo.get());
        if (available == 0 || (available < chunk && !last))
            return 0;
        const int samples = std::min(available, chunk);
        FramePtr frame;
        int result = takeFifoFrame(run, run.leadFifo.get(), samples, run.leadFramePts, frame);
        if (result >= 0) {
            run.leadFramePts += samples;
            result = sendToEncoder(run, frame.get());
        }
        if (result < 0)
            return result;
    }
}

} // namespace

int writeToOutput(MixRun &run, AVPacket *packet) {
    // The muxer takes the packet's contents, whatever the result.
    const int result = av_interleaved_write_frame(run.outputContext.get(), packet);
    if (result < 0)
        run.writeFailed = true;
    return result;
}

int copyToOutput(MixRun &run, AVPacket *packet, const AVStream *in, int outIndex) {
    if (run.measuringOnly) {
        av_packet_unref(packet);
        return 0;
    }
    const int result = copyPacket(run, packet, in, run.outputContext->streams[outIndex], outIndex);
    av_packet_unref(packet);
    if (result < 0)
        run.writeFailed = true;
    return result;
}

int startSoundEncoding(MixRun &run) {
    if (!run.audioEncoder)
        return 0;
    if (const int result = startEncodedSoundMeter(run); result < 0)
        return result;
    if (run.soundCodec != SoundCodec::Aac) {
        CodecContextPtr encoder;
        int result = openSoundEncoder(run.soundCodec, encoder);
        if (result >= 0) {
            // This release's Matroska muxer, given a packet before 0, moves
            // every stream later instead of counting the codec delay in.
            const std::string_view muxer = run.outputContext->oformat->name;
            const bool nonNegative = muxer == "matroska" || muxer == "webm";
            run.trackEncoder = std::make_unique<PlainTrackEncoder>(
                std::move(encoder), run.outputAudioStream->codecpar->initial_padding, nonNegative);
            result = run.trackEncoder->error();
        }
        return result < 0 ? fail(run, "Could not start the sound encoder", result) : 0;
    }
    int threads = run.request.encoderThreads > 0
                      ? run.request.encoderThreads
                      : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    // A video too short for two segments is one encoder's work either way:
    // the single encoder does it without holding a segment of sound.
    const SegmentPlan nominal = SegmentPlan::defaultPlan();
    const int frameSize = kMixChunkSamples;
    const double segmentSeconds = double(nominal.segmentFrames) * frameSize / kOutputSampleRate;
    if (run.request.durationSeconds < 2 * segmentSeconds)
        threads = 1;
    const auto totalFrames = static_cast<std::int64_t>(run.request.durationSeconds * kOutputSampleRate / frameSize);
    const SegmentPlan plan = SegmentPlan::balanced(totalFrames, threads);
    try {
        run.trackEncoder = std::make_unique<SegmentedAacEncoder>(openRunAacEncoder, threads, plan);
    } catch (const std::bad_alloc &) {
        return fail(run, "Could not start the sound encoder", AVERROR(ENOMEM));
    }
    if (const int result = run.trackEncoder->error(); result < 0)
        return fail(run, "Could not start the sound encoder", result);
    if (threads > 1) {
        // A segment's sound comes out only once the next one has begun, so
        // the sound runs up to two segments behind the picture. The muxer
        // waits that long for it, so that the file stays interleaved by time
        // (and the same from run to run) instead of holding the picture far
        // ahead of its sound.
        const std::int64_t behindFrames =
            2 * std::int64_t(plan.segmentFrames) + plan.prerollFrames + plan.postrollFrames;
        const std::int64_t behind = av_rescale(behindFrames * frameSize, AV_TIME_BASE, kOutputSampleRate);
        AVFormatContext *output = run.outputContext.get();
        output->max_interleave_delta = std::max(output->max_interleave_delta, behind + 10 * AV_TIME_BASE);
    }
    // Without the lead the sound is at most one tick off: a lead that cannot
    // be had is done without.
    const int lead = leadSamplesFor(run.outputAudioStream->time_base, run.audioEncoder->initial_padding);
    if (lead == 0 || appendSilence(run.leadFifo, lead) < 0) {
        run.leadFifo.reset();
        return 0;
    }
    run.leadFramePts = -lead;
    run.leadSamples = lead;
    return 0;
}

int encodeFrame(MixRun &run, AVFrame *frame) {
    if (run.soundMeter) {
        const int measured = run.soundMeter->add(frame);
        if (measured < 0 || run.measuringOnly) {
            av_frame_unref(frame);
            return measured;
        }
    }
    if (!run.leadFifo)
        return sendToEncoder(run, frame);
    const int result = appendToFifo(run.leadFifo, frame);
    av_frame_unref(frame);
    return result < 0 ? result : sendLeadFrames(run, false);
}

int finishSoundEncoding(MixRun &run, bool flush) {
    if (!run.trackEncoder)
        return 0;
    int result = flush && run.leadFifo ? sendLeadFrames(run, true) : 0;
    // Everything handed to the encoder is encoded, after a stop too; only a
    // broken-off run drops what the encoder holds.
    if (flush && result >= 0)
        result = run.trackEncoder->finish();
    else
        run.trackEncoder->cancel();
    if (!run.writeFailed) {
        const int written = writeReadyPackets(run);
        if (result >= 0)
            result = written;
    }
    if (const int error = run.trackEncoder->error(); error < 0 && result >= 0)
        result = error;
    run.trackEncoder.reset();
    if (run.encodedSoundDecoder && result >= 0 && flush)
        result = meterEncodedPacket(run, nullptr);
    return result;
}

} // namespace melvora
