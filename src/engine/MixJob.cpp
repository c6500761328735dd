#include "engine/MixJob.h"
#include "engine/MixSteps.h"

#include <cmath>
#include <system_error>

namespace melvora {

int fail(MixRun &run, std::string_view step, int code) {
    if (run.result.errorMessage.empty()) {
        run.result.errorMessage = std::string(step);
        if (code < 0)
            run.result.errorMessage += ": " + ffmpegErrorText(code);
    }
    return code;
}

void warn(MixRun &run, std::string what) { run.result.warnings.push_back(std::move(what)); }

MixJob::MixJob() { initMixJob(*this); }

MixJob::~MixJob() { stopAndJoinMixJob(*this); }

void initMixJob(MixJob &job) {
    joinMixJob(job);
    job.request = MixRequest{};
    job.result = MixResult{};
    job.probePath.clear();
    job.probeResult = 0;
    job.progressPercent = 0;
    job.stopRequested = 0;
    job.info = MediaInfo{};
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
    job.result = MixResult{};
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
        job.result.errorMessage = std::string("Could not start the worker thread: ") + error.what();
        job.status = JobStatus::Failed;
        return false;
    }
    return true;
}

} // namespace melvora
