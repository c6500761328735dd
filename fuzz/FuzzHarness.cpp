#include "FuzzHarness.h"

#include "engine/MediaProbe.h"
#include "engine/MemoryInput.h"
#include "engine/MixJob.h"

#include <memory>

namespace melvora::fuzz {
namespace {

const char *const kInputName = "fuzz-input";
const char *const kPartnerName = "fuzz-partner";

// A budget whose end asks the job to stop.
std::shared_ptr<MemoryInput::ReadBudget> stoppingBudget(MixJob &job) {
    return std::make_shared<MemoryInput::ReadBudget>(kReadBudget, [&job] { job.stopRequested = 1; });
}

} // namespace

ProbeResults probeBytes(const std::uint8_t *data, std::size_t size) {
    MixJob job;
    // A probe has no loop that would arm the interrupt: armed from the
    // start, so that the spent budget ends FFmpeg's own waits too.
    job.interruptArmed = true;
    MemoryInput input(job, kInputName, std::vector<std::uint8_t>(data, data + size), stoppingBudget(job),
                      kReadBufferSize);
    ProbeResults results;
    job.probePath = kInputName;
    results.asVideo = probeVideo(job);
    job.probePath = kInputName;
    results.asMusic = probeAudio(job);
    return results;
}

JobStatus mixBytes(const std::uint8_t *data, std::size_t size, MixRole role, const std::vector<std::uint8_t> &partner,
              const std::string &outputPath) {
    MixJob job;
    const auto budget = stoppingBudget(job);
    MemoryInput input(job, kInputName, std::vector<std::uint8_t>(data, data + size), budget, kReadBufferSize);
    MemoryInput other(job, kPartnerName, partner, budget, kReadBufferSize);
    job.request.videoPath = role == MixRole::Video ? kInputName : kPartnerName;
    job.request.musicPath = role == MixRole::Video ? kPartnerName : kInputName;
    job.request.outputPath = outputPath;
    job.request.durationSeconds = 1;
    mixWorker(job); // on this thread: the same input always does the same work
    return job.status.load();
}

} // namespace melvora::fuzz
