#include "engine/MixJob.h"
#include "engine/MixSteps.h"

#include <system_error>

extern "C" {
#include <libavutil/error.h>
}

namespace melvora {

std::string ffmpegErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(code, text, sizeof text) < 0)
        return "error " + std::to_string(code);
    return text;
}

int failJob(MixJob &job, std::string_view step, int code) {
    if (job.errorMessage.empty()) {
        job.errorMessage = std::string(step);
        if (code < 0)
            job.errorMessage += " (" + ffmpegErrorText(code) + ")";
    }
    job.status = JobStatus::Failed;
    return code;
}

MixJob::MixJob() = default;

MixJob::~MixJob() { stopAndJoinMixJob(*this); }

void initMixJob(MixJob &job) {
    joinMixJob(job);
    job.musicInput.reset();
    job.musicStream = nullptr;
    job.musicDecoder.reset();
    job.videoInput.reset();
    job.videoAudioStream = nullptr;
    job.videoAudioDecoder.reset();
    job.outputContext.reset();
    job.outputAudioStream = nullptr;
    job.audioEncoder.reset();
    job.filterGraph.reset();
    job.sinkFilter = job.firstSource = job.secondSource = nullptr;
    job.streamMap.clear();
    job.musicFifo.reset();
    job.videoAudioFifo.reset();
    job.musicResampler.reset();
    job.videoAudioResampler.reset();
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

std::int64_t timestampToMs(std::int64_t timestamp, AVRational timeBase) {
    // Integer milliseconds first, then the time base as a floating quotient.
    return static_cast<std::int64_t>(static_cast<double>(timestamp * 1000) * av_q2d(timeBase));
}

AVChannelLayout stereoLayout() {
    AVChannelLayout layout{};
    av_channel_layout_default(&layout, 2);
    return layout;
}

AVChannelLayout effectiveLayout(const AVChannelLayout &layout) {
    // Only native (mask) layouts are kept as they are; anything else becomes
    // the default layout for its channel count, which needs no allocation.
    AVChannelLayout result{};
    if (layout.order == AV_CHANNEL_ORDER_NATIVE && av_channel_layout_check(&layout))
        av_channel_layout_from_mask(&result, layout.u.mask);
    else
        av_channel_layout_default(&result, layout.nb_channels > 0 ? layout.nb_channels : 2);
    return result;
}

} // namespace melvora
