#pragma once

#include "engine/MixSettings.h"
#include "engine/MusicFitReport.h"
#include "engine/OutputClaim.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace melvora {

// Outcome of the current or last run. Readers compare with Finished and
// Failed only; a run that was stopped without an error stays Running.
enum class JobStatus : std::uint8_t {
    Running = 255,
    Finished = 1,
    Failed = 2,
};

// How the output's sound track is made; chosen when the video is opened.
enum class MixMode : std::int32_t {
    ReencodeMusic = 0, // silent video, music decoded and encoded as AAC
    CopyMusic = 1,     // silent video, music packets copied
    MixBoth = 2,       // the video's own sound mixed with the music
};

// Stream parameters gathered by the media probe. Starts all zero so that
// callers testing startTime always read a defined value.
struct MediaInfo {
    std::int64_t startTime = 0;
    std::int64_t endTime = 0;
    std::int64_t audioDuration = 0;
    std::int64_t videoDuration = 0;
    std::int32_t videoProfile = 0;
    std::int32_t videoBitRate = 0;
    std::int32_t videoHeight = 0;
    std::int32_t videoWidth = 0;
    std::int32_t frameRateDen = 0;
    std::int32_t frameRateNum = 0;
    std::int32_t audioBitRate = 0;
    std::int32_t audioSampleRate = 0;
    std::int32_t audioChannels = 0;
};

// What a front end asks of a run: filled once, handed through the start
// flow unchanged, and not touched while the run is in progress.
struct MixRequest {
    std::string videoPath;
    std::string musicPath;
    std::string outputPath;
    // The file the start flow created for this run, when it did; a run that
    // fails before opening it removes it again.
    FileIdentity claimedOutput;
    double durationSeconds = 0; // the video's length from its probe; 0 when unknown
    MixSettings mixSettings;    // the default is the plain mix
    // AAC encoders at once, each on a stretch of the sound spliced where
    // they agree: 0 one per core, 1 the single encoder.
    int encoderThreads = 0;
    // An MP4/MOV output gets its index before the data (for playing while
    // it downloads); other containers ignore it.
    bool fastStart = false;
    // A video that ends well before the length its header gives (cut short,
    // still being written) fails the run unless this keeps it, with a warning.
    bool allowShortVideo = false;
};

// What a run leaves for the front end; written by the worker before it
// publishes the final status.
struct MixResult {
    MixMode mode = MixMode::ReencodeMusic;
    // The reason of a failed run, e.g. "Could not open the music file: No such
    // file or directory".
    std::string errorMessage;
    // What of the video the output could not keep (a stream its container
    // cannot hold, chapters), one line each.
    std::vector<std::string> warnings;
    // What the run applied: the request's settings with a loudness target
    // turned into a level once the music was measured (its integrated
    // loudness, LUFS, in measuredMusicLoudness; NaN when not measured).
    MixSettings appliedMixSettings;
    double measuredMusicLoudness = std::numeric_limits<double>::quiet_NaN();
    // With a loudness target for the whole mix: the mix as measured before
    // its gain (the gain itself is appliedMixSettings.wholeMixGainDb), the
    // measuring passes it took, and the loudness of the sound encoded (LUFS;
    // NaN when not measured).
    double measuredMixLoudness = std::numeric_limits<double>::quiet_NaN();
    int loudnessPasses = 0;
    double outputLoudness = std::numeric_limits<double>::quiet_NaN();
    double outputTruePeak = std::numeric_limits<double>::quiet_NaN(); // dBTP of the sound written
    // How often the sound was encoded: more than 1 where the written peaks
    // came out over the ceiling and the file was made again with a lower
    // limit (3 at most).
    int encodings = 1;
    bool stopped = false; // the user stopped the run; its output is finalised
    // What --fit or the loop at the song's seams did.
    MusicFitReport fit;
};

// The one record through which the front end and the worker meet. The front
// end fills the request before a start and afterwards only reads status and
// progressPercent and sets stopRequested; the result is the worker's until
// it ends. The run's own FFmpeg objects live with the worker, not here.
struct MixJob {
    MixJob();
    ~MixJob(); // stops a running worker and waits for it
    MixJob(const MixJob &) = delete;
    MixJob &operator=(const MixJob &) = delete;

    MixRequest request;
    MixResult result;

    std::atomic<std::uint8_t> stopRequested{0};
    std::atomic<JobStatus> status{JobStatus::Finished};
    std::atomic<std::int32_t> progressPercent{0};
    // Lets the stop flag interrupt blocking reads; armed once the loop runs.
    std::atomic<bool> interruptArmed{false};

    // The media probe: the file it examines next and what it found.
    std::string probePath;
    std::int32_t probeResult = 0;
    MediaInfo info;

    // True from startMixJob until the worker has released everything.
    std::atomic<bool> workerActive{false};
    std::thread worker;
    std::mutex workerMutex;
    std::condition_variable workerEnded;
};

// Resets a record to its initial state: waits for a worker and clears the
// request, the result and the probe's findings.
void initMixJob(MixJob &job);

// Starts the worker on the job. A previous worker is waited for first, so a
// new run never starts on a record that is still being torn down. Returns
// false when no thread could be started; the job is then marked Failed.
bool startMixJob(MixJob &job);

// Asks a running worker to stop and waits until it has finished its tear-down.
void stopAndJoinMixJob(MixJob &job);

// Waits for the worker to end without asking it to stop.
void joinMixJob(MixJob &job);

// Waits at most timeout for the worker to finish its tear-down; true when
// no worker is active any more. Lets a front end poll without lagging.
bool waitForMixJob(MixJob &job, std::chrono::milliseconds timeout);

// The worker's body; runs one whole job on the calling thread.
void mixWorker(MixJob &job);

} // namespace melvora
