#pragma once

#include "engine/FFmpegHandles.h"
#include "engine/MixSettings.h"
#include "engine/OutputClaim.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
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

// The one record through which the front end and the worker meet. The front
// end writes the paths and the duration before a start and afterwards only
// reads status/progressPercent and sets stopRequested; everything else
// belongs to the worker while a run is in progress.
struct MixJob {
    MixJob();
    ~MixJob(); // stops a running worker and waits for it
    MixJob(const MixJob &) = delete;
    MixJob &operator=(const MixJob &) = delete;

    std::string musicPath;
    InputContextPtr musicInput;
    AVStream *musicStream = nullptr;
    CodecContextPtr musicDecoder;
    std::int32_t musicStreamIndex = -1;

    std::string videoPath;
    InputContextPtr videoInput;
    AVStream *videoAudioStream = nullptr;
    CodecContextPtr videoAudioDecoder;
    std::int32_t videoAudioStreamIndex = -1;
    std::int32_t videoStreamIndex = -1;

    std::string outputPath;
    // The file the start flow created for this run, when it did; a run that
    // fails before opening it removes it again.
    FileIdentity claimedOutput;
    FileIdentity writtenOutput; // the file the worker opened, while it is ours
    OutputContextPtr outputContext;
    AVStream *outputAudioStream = nullptr;
    CodecContextPtr audioEncoder;
    std::int32_t outputAudioStreamIndex = -1;

    AVFilterContext *sinkFilter = nullptr;
    AVFilterContext *firstSource = nullptr;
    AVFilterContext *secondSource = nullptr;
    FilterGraphPtr filterGraph;

    MixMode mode = MixMode::ReencodeMusic;
    std::int32_t streamMapCount = 0;
    std::vector<std::int32_t> streamMap;
    std::int32_t outputStreamCount = 0;
    // Copied music: how far its stamps go back so that its priming lies
    // before zero, where the container's edit list skips it (music time base).
    std::int64_t musicPrimingShift = 0;

    std::int64_t audioClockMs = 0;
    std::int64_t videoClockMs = 0;
    AudioFifoPtr musicFifo;
    ResamplerPtr musicResampler;
    AudioFifoPtr videoAudioFifo;
    ResamplerPtr videoAudioResampler;
    double positionSeconds = 0;
    FramePtr conversionBuffer; // resampler output before it enters a FIFO
    // The planes of whole frames on their way to the encoder: a run makes
    // one such frame for every 1024 samples, and the encoders free them on
    // other threads.
    BufferPoolPtr encoderFramePool;

    std::int32_t probeResult = 0;
    std::atomic<std::uint8_t> stopRequested{0};
    std::string probePath;
    std::atomic<JobStatus> status{JobStatus::Finished};
    double durationSeconds = 0;
    std::atomic<std::int32_t> progressPercent{0};
    MediaInfo info;
    std::int32_t segmentIndex = -1;

    // How the sound is mixed; the default is the plain mix. Written before a
    // start like the paths.
    MixSettings mixSettings;
    // What the run applies: mixSettings with a loudness target turned into a
    // level once the music was measured (its integrated loudness, LUFS, in
    // measuredMusicLoudness; NaN when not measured).
    MixSettings appliedMixSettings;
    double measuredMusicLoudness = 0;

    // The reason of a failed run, e.g. "Could not open the music file: No such
    // file or directory"; written by the worker before it publishes Failed.
    std::string errorMessage;
    // What of the video the output could not keep (a stream its container
    // cannot hold, chapters), one line each; written during the set-up.
    std::vector<std::string> warnings;

    // Lets the stop flag interrupt blocking reads; armed once the loop runs.
    std::atomic<bool> interruptArmed{false};

    // AAC encoders at once, each on a stretch of the sound spliced where
    // they agree: 0 one per core, 1 the single encoder as always.
    int encoderThreads = 0;
    // An MP4/MOV output gets its index before the data (for playing while
    // it downloads); other containers ignore it.
    bool fastStart = false;

    // True from startMixJob until the worker has released everything.
    std::atomic<bool> workerActive{false};
    std::thread worker;
    std::mutex workerMutex;
    std::condition_variable workerEnded;
};

// Resets a record to its initial state: waits for a worker, releases every
// object of a run and clears the probe's results. The constructor and every
// run go through the same list.
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
