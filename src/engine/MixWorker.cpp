// The worker: one whole run from opening the files to releasing them.

#include "engine/Loudness.h"
#include "engine/MixGraphs.h"
#include "engine/MixSteps.h"

#include <string_view>
#include <unistd.h>

extern "C" {
#include <libavutil/opt.h>
}

namespace melvora {
namespace {

bool setUpFailed(const MixJob &job) { return job.status.load() == JobStatus::Failed; }

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
    // After a failed write the file is broken off: no trailer is tried.
    const int trailerResult = state.writeFailed ? 0 : av_write_trailer(output);
    const bool stopped = job.stopRequested.load() != 0;
    // A read interrupted by the stop flag is the stop itself, not a failure.
    const bool interruptedByStop = stopped && state.lastResult == AVERROR_EXIT;

    if (setUpFailed(job))
        return;
    if (state.writeFailed) {
        failJob(job, "Could not write the output file",
                output->pb && output->pb->error < 0 ? output->pb->error : state.lastResult);
        return;
    }
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
    // Nor is a file without the new sound one: a video too short for a
    // single packet of music is reported, not passed off as finished.
    if (!stopped && job.outputAudioStreamIndex >= 0 &&
        output->streams[job.outputAudioStreamIndex]->nb_frames == 0) {
        failJob(job, "The video is too short to carry any sound", AVERROR_INVALIDDATA);
        return;
    }
    if (!stopped)
        job.status = JobStatus::Finished;
    // A stopped run without an error is left Running: it is not reported as finished.
}

// What is left of the output once everything is closed: a failed run's file
// is no usable video and goes, whether the run had written into it or only
// claimed it; a Matroska file without a packet goes too. Only the file this
// run created or opened is ever removed.
void settleOutputFile(MixJob &job, bool unreadable) {
    const bool failed = job.status.load() == JobStatus::Failed;
    if (job.writtenOutput.known()) {
        if (failed || unreadable)
            removeIfSameFile(job.outputPath, job.writtenOutput);
    } else if (failed) {
        removeIfSameEmptyFile(job.outputPath, job.claimedOutput);
    }
    job.writtenOutput = FileIdentity{};
}

// A loudness target becomes the music's level once the music is measured.
void measureMusicLoudness(MixJob &job) {
    if (!job.mixSettings.musicLoudnessLufs)
        return;
    double lufs = 0;
    const int result =
        measureIntegratedLoudness(job.musicInput.get(), job.musicStreamIndex, job.musicDecoder.get(), lufs,
                                  &job.stopRequested);
    if (result < 0) {
        failJob(job, "Could not measure the music's loudness", result);
        return;
    }
    job.measuredMusicLoudness = lufs;
    job.appliedMixSettings = withMeasuredLoudness(job.mixSettings, lufs);
}

// The graph of the mode, from the mix settings, and the feed that reads
// and shapes the music for it.
void buildGraph(MixJob &job, LoopState &state) {
    const MixSettings &settings = job.appliedMixSettings;
    if (job.mode == MixMode::CopyMusic)
        return;
    state.musicFeed = std::make_unique<MusicFeed>(job.musicInput.get(), job.musicStreamIndex, job.musicDecoder.get(),
                                                  settings, &job.stopRequested);
    if (job.mode == MixMode::MixBoth)
        buildMixGraph(job, mixGraphDescription(settings, job.durationSeconds).c_str());
    else
        buildSingleInputGraph(job, musicGraphDescription(settings, job.durationSeconds).c_str());
}

} // namespace

void mixWorker(MixJob &job) {
    releaseRunObjects(job);
    resetRunFields(job);
    job.status = JobStatus::Running;

    LoopState state;
    state.videoSoundFrame.reset(av_frame_alloc());
    state.sinkFrame.reset(av_frame_alloc());
    state.readPacket.reset(av_packet_alloc());
    state.encodedPacket.reset(av_packet_alloc());
    if (!state.videoSoundFrame || !state.sinkFrame || !state.readPacket || !state.encodedPacket)
        failJob(job, "Out of memory", AVERROR(ENOMEM));

    if (!setUpFailed(job))
        openMusicInput(job);
    if (!setUpFailed(job))
        measureMusicLoudness(job);
    if (!setUpFailed(job))
        openVideoInput(job);
    if (!setUpFailed(job))
        openOutput(job);
    if (!setUpFailed(job))
        buildGraph(job, state);

    bool unreadable = false;
    if (!setUpFailed(job)) {
        AVDictionary *options = nullptr;
        // Only the MP4 family knows the flag; it writes the file once more
        // at the end, with the index moved to the front.
        const AVClass *const *muxerOptions = &job.outputContext->oformat->priv_class;
        if (job.fastStart && *muxerOptions &&
            av_opt_find(const_cast<AVClass **>(muxerOptions), "movflags", nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ))
            av_dict_set(&options, "movflags", "+faststart", 0);
        const int result = avformat_write_header(job.outputContext.get(), &options);
        av_dict_free(&options);
        if (result < 0) {
            failJob(job, "Could not write the output file's header", result);
        } else {
            state.lastResult = result;
            anchorSoundToVideo(job, state);
            job.interruptArmed = true;
            runMixingLoop(job, state);
            job.interruptArmed = false;
            finishOutput(job, state);
            unreadable = unreadableWhenEmpty(job);
        }
    }
    releaseRunObjects(job);
    settleOutputFile(job, unreadable);
}

} // namespace melvora
