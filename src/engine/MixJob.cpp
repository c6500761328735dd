#include "engine/MixJob.h"
#include "engine/MixSteps.h"

#include <cmath>
#include <system_error>

namespace melvora {

int failJob(MixJob &job, std::string_view step, int code) {
    if (job.errorMessage.empty()) {
        job.errorMessage = std::string(step);
        if (code < 0)
            job.errorMessage += ": " + ffmpegErrorText(code);
    }
    job.status = JobStatus::Failed;
    return code;
}

void warnJob(MixJob &job, std::string what) { job.warnings.push_back(std::move(what)); }

// Every object a run creates, released in the order of need: buffers and
// converters, the inputs, the output (closing its file), then the graph and
// the codecs. The worker's start and tear-down and initMixJob use this list.
void releaseRunObjects(MixJob &job) {
    job.interruptArmed = false;
    job.conversionBuffer.reset();
    job.encoderFramePool.reset();
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

// The start values of the fields every run writes before it reads them.
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
    job.musicPrimingShift = 0;
    job.writtenOutput = FileIdentity{};
    job.warnings.clear();
    job.appliedMixSettings = job.mixSettings;
    job.measuredMusicLoudness = std::nan("");
}

MixJob::MixJob() { initMixJob(*this); }

MixJob::~MixJob() { stopAndJoinMixJob(*this); }

void initMixJob(MixJob &job) {
    joinMixJob(job);
    releaseRunObjects(job);
    resetRunFields(job);
    job.claimedOutput = FileIdentity{};
    job.probePath.clear();
    job.probeResult = 0;
    job.progressPercent = 0;
    job.segmentIndex = -1;
    job.stopRequested = 0;
    job.info = MediaInfo{};
    job.errorMessage.clear();
}

void joinMixJob(MixJob &job) {
    if (job.worker.joinable())
        job.worker.join();
}

void stopAndJoinMixJob(MixJob &job) {
    if (job.worker.joinable()) {
        job.stopRequested = 1;
        job.worker.join();
    }
}

bool waitForMixJob(MixJob &job, std::chrono::milliseconds timeout) {
    std::unique_lock lock(job.workerMutex);
    return job.workerEnded.wait_for(lock, timeout, [&job] { return !job.workerActive.load(); });
}

bool startMixJob(MixJob &job) {
    joinMixJob(job);
    job.errorMessage.clear();
    // Published before the thread exists, so a poll right after the start
    // never sees the previous run's outcome.
    job.status = JobStatus::Running;
    job.workerActive = true;
    try {
        job.worker = std::thread([&job] {
            mixWorker(job);
            std::lock_guard lock(job.workerMutex);
            job.workerActive = false;
            job.workerEnded.notify_all();
        });
    } catch (const std::system_error &error) {
        job.workerActive = false;
        failJob(job, std::string("Could not start the worker thread: ") + error.what(), 0);
        return false;
    }
    return true;
}

} // namespace melvora
