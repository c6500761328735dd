// The worker: one whole run from opening the files to releasing them.

#include "engine/MixSteps.h"

#include <string_view>
#include <unistd.h>

namespace melvora {
namespace {

constexpr const char *kMixDescription = "[in0][in1]amix=inputs=2[out]";
constexpr const char *kMusicOnlyDescription = "aresample=44100,aformat=sample_fmts=fltp:channel_layouts=stereo";

bool setUpFailed(const MixJob &job) { return job.status.load() == JobStatus::Failed; }

void resetRunFields(MixJob &job) {
    job.audioClockMs = 0;
    job.videoClockMs = 0;
    job.positionSeconds = 0;
    job.videoAudioStreamIndex = 0;
    job.videoStreamIndex = 0;
    job.musicStreamIndex = 0;
    job.outputAudioStreamIndex = 0;
    job.mode = MixMode::ReencodeMusic;
    job.streamMapCount = 0;
    job.outputStreamCount = 0;
    job.musicFifo.reset();
    job.videoAudioFifo.reset();
    job.musicResampler.reset();
    job.videoAudioResampler.reset();
    job.interruptArmed = false;
}

// Releases everything the run opened, in reverse order of need: buffers and
// converters, the inputs, the output (closing its file), then the graph and
// the codecs.
void tearDown(MixJob &job) {
    job.interruptArmed = false;
    job.conversionBuffer.reset();
    job.musicFifo.reset();
    job.videoAudioFifo.reset();
    job.musicResampler.reset();
    job.videoAudioResampler.reset();
    job.videoAudioStream = nullptr;
    job.videoInput.reset();
    job.musicStream = nullptr;
    job.musicInput.reset();
    job.outputAudioStream = nullptr;
    job.outputContext.reset();
    job.streamMap.clear();
    job.sinkFilter = job.firstSource = job.secondSource = nullptr;
    job.filterGraph.reset();
    job.musicDecoder.reset();
    job.videoAudioDecoder.reset();
    job.audioEncoder.reset();
}

// Packets the muxer took for the output stream of a video stream, or for
// every output stream when the index is negative.
std::int64_t packetsWritten(const MixJob &job, int videoStream) {
    const AVFormatContext *output = job.outputContext.get();
    if (!output)
        return 0;
    if (videoStream >= 0) {
        if (videoStream >= job.streamMapCount || job.streamMap[videoStream] < 0)
            return 0;
        return output->streams[job.streamMap[videoStream]]->nb_frames;
    }
    std::int64_t count = 0;
    for (unsigned i = 0; i < output->nb_streams; ++i)
        count += output->streams[i]->nb_frames;
    return count;
}

// FFmpeg's Matroska muxer writes a file that no demuxer reads back when it
// holds no packet at all; such a file is removed rather than left behind
// as an output that will not open.
bool unreadableWhenEmpty(const MixJob &job) {
    const AVFormatContext *output = job.outputContext.get();
    if (!output || !output->oformat || packetsWritten(job, -1) > 0)
        return false;
    const std::string_view name = output->oformat->name;
    return name == "matroska" || name == "webm";
}

// Ends the run: the trailer, a check that every byte reached the file, and
// the final status, decided once.
void finishOutput(MixJob &job, LoopState &state) {
    AVFormatContext *output = job.outputContext.get();
    const int trailerResult = av_write_trailer(output);
    const bool stopped = job.stopRequested.load() != 0;
    // A read interrupted by the stop flag is the stop itself, not a failure.
    const bool interruptedByStop = stopped && state.lastResult == AVERROR_EXIT;

    if (setUpFailed(job))
        return;
    if (trailerResult < 0) {
        failJob(job, "Could not finish the output file", trailerResult);
        return;
    }
    if (output->pb && output->pb->error < 0) {
        failJob(job, "Could not write the output file", output->pb->error);
        return;
    }
    if (state.lastResult < 0 && state.lastResult != AVERROR_EOF && !interruptedByStop) {
        failJob(job, "The mix stopped on an error", state.lastResult);
        return;
    }
    // A video that gave not one picture (cut short, say) made no video.
    if (!stopped && packetsWritten(job, job.videoStreamIndex) == 0) {
        failJob(job, "The video file holds no picture that could be copied", AVERROR_INVALIDDATA);
        return;
    }
    if (!stopped)
        job.status = JobStatus::Finished;
    // A stopped run without an error is left Running: it is not reported as finished.
}

} // namespace

void mixWorker(MixJob &job) {
    LoopState state;
    state.musicFrame.reset(av_frame_alloc());
    state.videoSoundFrame.reset(av_frame_alloc());
    state.sinkFrame.reset(av_frame_alloc());
    state.readPacket.reset(av_packet_alloc());
    state.musicPacket.reset(av_packet_alloc());
    state.encodedPacket.reset(av_packet_alloc());

    resetRunFields(job);
    job.status = JobStatus::Running;

    if (!state.musicFrame || !state.videoSoundFrame || !state.sinkFrame || !state.readPacket || !state.musicPacket ||
        !state.encodedPacket) {
        failJob(job, "Out of memory", AVERROR(ENOMEM));
        tearDown(job);
        return;
    }

    openMusicInput(job);
    if (!setUpFailed(job))
        openVideoInput(job);
    if (!setUpFailed(job))
        openOutput(job);
    if (!setUpFailed(job)) {
        if (job.mode == MixMode::MixBoth)
            buildMixGraph(job, kMixDescription);
        else if (job.mode == MixMode::ReencodeMusic)
            buildSingleInputGraph(job, kMusicOnlyDescription);
    }

    bool removeOutput = false;
    if (!setUpFailed(job)) {
        AVFormatContext *output = job.outputContext.get();
        int result = 0;
        if (!(output->oformat->flags & AVFMT_NOFILE)) {
            // Our own file I/O: the name is only ever a local file (never
            // "concat:x" or another protocol), and a link is never followed.
            result = openOutputFile(job.outputPath, &output->pb);
            if (result >= 0)
                output->flags |= AVFMT_FLAG_CUSTOM_IO;
            if (result < 0)
                failJob(job, "Could not create the output file", result);
        }
        if (result >= 0) {
            result = avformat_write_header(output, nullptr);
            if (result < 0) {
                failJob(job, "Could not write the output file's header", result);
            } else {
                state.lastResult = result;
                anchorSoundToVideo(job, state);
                job.interruptArmed = true;
                runMixingLoop(job, state);
                job.interruptArmed = false;
                finishOutput(job, state);
                removeOutput = unreadableWhenEmpty(job);
            }
        }
    }
    tearDown(job);
    if (removeOutput)
        ::unlink(job.outputPath.c_str());
}

} // namespace melvora
