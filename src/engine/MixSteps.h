#pragma once

// The steps of one run, in the order the worker calls them. Each set-up step
// marks the job Failed (with a reason) when it fails and returns an FFmpeg
// result; the worker looks at the job's status after each step.

#include "engine/AudioEncodeStage.h"
#include "engine/MixJob.h"

#include <memory>
#include <vector>

#include <string_view>

namespace melvora {

// Working state of the mixing loop, private to the worker thread.
struct LoopState {
    std::int64_t sampleCounter = 0;
    std::int64_t loopOffset = 0;
    std::int64_t lastMusicPts = 0;
    std::int64_t lastMusicDuration = 0;
    std::int64_t nextPassStart = 0;   // where the music's next pass begins (music time base)
    bool passStartPending = false;    // the next music packet opens a pass
    std::int64_t musicRescaleLast = AV_NOPTS_VALUE; // carried between copied music packets
    std::int64_t mixInputSamples = 0; // samples handed to each mix source so far
    // Where the new sound starts on the output's clock (output audio time
    // base): videos whose clock starts late (MPEG-TS, offset MP4) keep sync.
    std::int64_t encodedPtsShift = 0;
    int lastResult = 0;
    FramePtr musicFrame;
    FramePtr videoSoundFrame;
    FramePtr sinkFrame;
    PacketPtr readPacket;
    PacketPtr musicPacket;
    PacketPtr encodedPacket;
    // A whole pass through the music that gave no sound ends the run instead
    // of rewinding for ever.
    bool musicSoundSinceRewind = false;
    // Mixing runs beside the encoder: frames go to this stage, its packets
    // are written by the loop. Null when encoding on the loop's own thread.
    std::unique_ptr<AudioEncodeStage> encodeStage;
    std::vector<PacketPtr> readyPackets;
};

// Records a failure: status Failed and, for the first failure, its reason.
int failJob(MixJob &job, std::string_view step, int code);

// Opens a local file for reading; no other protocol can be reached from the
// name or from inside the file. The stop flag interrupts blocking reads.
int openLocalInput(MixJob &job, InputContextPtr &input, const std::string &path);

int openMusicInput(MixJob &job);
int openVideoInput(MixJob &job);
int createResampler(MixJob &job, ResamplerPtr &target, const AVChannelLayout &inLayout, AVSampleFormat inFormat,
                    int inRate);
int openOutput(MixJob &job);

int buildSingleInputGraph(MixJob &job, const char *description);
int buildMixGraph(MixJob &job, const char *description);

// Lines the new sound up with the start of the video's own clock; call after
// the header is written, when the output time bases are final.
void anchorSoundToVideo(MixJob &job, LoopState &state);

// Runs passes until the video is exhausted, an error ends the loop, or a stop is seen.
void runMixingLoop(MixJob &job, LoopState &state);

// Helpers of the loop.
int allocEncoderFrame(MixJob &job, FramePtr &frame, const AVCodecContext *encoder, int sampleCount);
int copyPacket(MixJob &job, AVPacket *packet, const AVStream *inStream, const AVStream *outStream, int outIndex);
int resampleToFifo(MixJob &job, ResamplerPtr &resampler, const AVFrame *frame, AudioFifoPtr &fifo);
int readFifoFrame(MixJob &job, AVAudioFifo *fifo, AVFrame *frame, int sampleCount);
int pushToSource(MixJob &job, AVFilterContext *source, AVFrame *frame);
int readNextMusicFrame(MixJob &job, LoopState &state, AVFrame *frame);
int rewindMusic(MixJob &job, LoopState &state);

// Result of resampleToFifo when the FIFO does not yet hold a whole chunk.
inline constexpr int kFifoNeedsMore = -1;

// Milliseconds of a time stamp, truncated toward zero.
std::int64_t timestampToMs(std::int64_t timestamp, AVRational timeBase);

// The target format of every re-encoded sound: 44100 Hz, planar float, stereo.
inline constexpr int kOutputSampleRate = 44100;
inline constexpr AVSampleFormat kOutputSampleFormat = AV_SAMPLE_FMT_FLTP;
inline constexpr int kOutputBitRate = 128000;
AVChannelLayout stereoLayout();

// The layout a decoder or frame really has, or the default for its channel
// count when it carries none.
AVChannelLayout effectiveLayout(const AVChannelLayout &layout);

} // namespace melvora
