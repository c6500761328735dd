#pragma once

// The steps of one run, in the order the worker calls them, and the working
// state of the mixing loop. Engine-internal: this header brings in FFmpeg.
// Each set-up step marks the job Failed (with a reason) when it fails and
// returns an FFmpeg result; the worker looks at the job's status after each.

#include "engine/LoopHelpers.h"
#include "engine/MixJob.h"
#include "engine/MusicFeed.h"
#include "engine/SegmentedAacEncoder.h"

#include <memory>
#include <string_view>
#include <vector>

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
    // Where the new sound starts on the video's clock, and where the picture
    // written so far ends, both in samples (1/44100 s); the latter counted
    // from the former. Re-encoded music is cut at the picture's end.
    std::int64_t soundStartSamples = 0;
    std::int64_t ownSoundLead = 0; // silence before the own sound, which starts after the picture
    std::int64_t videoEndSamples = AV_NOPTS_VALUE;
    std::int64_t copiedMusicEndSamples = 0; // where the copied music written so far ends, counted the same way
    int lastResult = 0;
    // Set when a write or muxing error ended the loop: nothing more is
    // written, not even the rest of the sound.
    bool writeFailed = false;
    FramePtr videoSoundFrame;
    FramePtr sinkFrame;
    PacketPtr readPacket;
    PacketPtr encodedPacket;
    // A whole pass through the music that gave no sound ends the run instead
    // of rewinding for ever.
    bool musicSoundSinceRewind = false;
    // The encoder of the new sound track, on threads of its own; its
    // packets are written by the loop. It counts frames from 0, so frames
    // reach it leadSamples later and its packets come back that much earlier.
    std::unique_ptr<SoundTrackEncoder> trackEncoder;
    std::vector<PacketPtr> readyPackets;
    int leadSamples = 0;
    // The music as the mix settings shape it (start point, no loop,
    // crossfade), resampled; null when the music's packets are copied.
    std::unique_ptr<MusicFeed> musicFeed;
    AudioFifoPtr feedFifo; // the feed's samples waiting for the single-input graph
    // Silence put before the first sample so that the encoder's first packet
    // (its priming) starts exactly on the output clock's grid: Matroska
    // counts milliseconds, and 1024 samples are no whole number of them.
    // The frames are cut anew behind it. Null when the grid fits as it is.
    AudioFifoPtr leadFifo;
    std::int64_t leadFramePts = 0;
};

// Records a failure: status Failed and, for the first failure, its reason
// ("step: FFmpeg's words"). Returns code.
int failJob(MixJob &job, std::string_view step, int code);
// Notes something of the video that the output leaves out.
void warnJob(MixJob &job, std::string what);

// MixJob.cpp: the one list of a run's objects and start values.
void releaseRunObjects(MixJob &job);
void resetRunFields(MixJob &job);

// Inputs.cpp
// Opens a local file for reading; no other protocol can be reached from the
// name or from inside the file. The stop flag interrupts blocking reads.
int openLocalInput(MixJob &job, InputContextPtr &input, const std::string &path);
int openMusicInput(MixJob &job);
int openVideoInput(MixJob &job);
int createResampler(MixJob &job, ResamplerPtr &target, const AVChannelLayout &inLayout, AVSampleFormat inFormat,
                    int inRate);

// Output.cpp: the muxer, its streams, the encoder, and the file itself
// (opened through our own descriptor unless the muxer writes no file).
int openOutput(MixJob &job);

// FilterGraphs.cpp
// The source takes the music feed's 44100 Hz fltp stereo.
int buildSingleInputGraph(MixJob &job, const char *description);
int buildMixGraph(MixJob &job, const char *description);

// MixingLoop.cpp
// Lines the new sound up with the start of the video's own clock; call after
// the header is written, when the output time bases are final.
void anchorSoundToVideo(MixJob &job, LoopState &state);
// Runs passes until the video is exhausted, an error ends the loop, or a
// stop is seen; then lets the sound still held in the chain reach the file.
void runMixingLoop(MixJob &job, LoopState &state);
// Back to the start of the music, unless a whole pass gave no sound.
int rewindMusic(MixJob &job, LoopState &state);
// Re-encoded music made so far: encoded, and waiting in the FIFO.
std::int64_t soundMadeSamples(const MixJob &job, const LoopState &state);

// CopiedMusic.cpp: silent video, the music's packets copied.
bool copyMusicPass(MixJob &job, LoopState &state);
// After the video's end: music packets until they cover its last picture.
bool finishCopiedMusic(MixJob &job, LoopState &state);

// ReencodedMusic.cpp: silent video, the music decoded and encoded as AAC.
bool reencodeMusicPass(MixJob &job, LoopState &state);
// After the video's end: the music up to the video's last moment. False
// when that failed (the reason in state.lastResult).
bool finishReencodedMusic(MixJob &job, LoopState &state);

// MixedSound.cpp: the video's own sound mixed with the music.
bool mixOwnSoundPacket(MixJob &job, LoopState &state, AVPacket *packet);
// Silence in place of own sound where the picture has none (before the own
// sound starts, after it ends), mixed with the music chunk by chunk.
bool mixSilentOwnSound(MixJob &job, LoopState &state, std::int64_t samples);
// After the video's end: the own sound still held by the decoder, the
// resampler and the FIFO, mixed and let out of the graph. False when that
// failed (the reason in state.lastResult).
bool finishMixedSound(MixJob &job, LoopState &state);

// SoundEncoding.cpp: every AAC frame goes through here.
void startSoundEncoding(MixJob &job, LoopState &state);
// Sends one stamped frame to the encoder and writes what comes out; false
// when encoding or writing failed. The frame is left blank.
bool encodeFrame(MixJob &job, LoopState &state, AVFrame *frame);
// The encoder's delayed packets after its last frame (flush), then the end
// of the encoding thread. A failed run only ends the thread.
void finishSoundEncoding(MixJob &job, LoopState &state, bool flush);
// Writes one packet of a copied stream, or of the new sound; a failed write
// ends the loop (state.writeFailed).
bool writeToOutput(MixJob &job, LoopState &state, AVPacket *packet);

} // namespace melvora
