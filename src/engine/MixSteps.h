#pragma once

// The steps of one run, in the order the worker calls them, and the run's
// own objects. Engine-internal: this header brings in FFmpeg. Every step
// returns an FFmpeg result; the caller acts on a negative one or hands it
// up. A step that fails records its reason once, through fail().

#include "engine/LoopHelpers.h"
#include "engine/MixJob.h"
#include "engine/MusicFeed.h"
#include "engine/SoundCodecs.h"
#include "engine/SoundTrackEncoder.h"

#include <memory>
#include <string_view>
#include <vector>

namespace melvora {

class LoudnessMeter;

// Everything one run opens and works with, owned by the worker for the run's
// length. Members are released in the reverse of their order here: the
// encoder threads and the music feed first, the inputs last.
struct MixRun {
    explicit MixRun(MixJob &owner)
        : job(owner), request(owner.request), result(owner.result), mode(owner.result.mode) {}
    MixRun(const MixRun &) = delete;
    MixRun &operator=(const MixRun &) = delete;

    MixJob &job;
    const MixRequest &request;
    MixResult &result;
    MixMode &mode; // how the sound track is made, chosen when the video is opened

    // The inputs.
    InputContextPtr musicInput;
    AVStream *musicStream = nullptr;
    CodecContextPtr musicDecoder;
    std::int32_t musicStreamIndex = -1;
    InputContextPtr videoInput;
    AVStream *videoAudioStream = nullptr; // the own sound, mixed with the music
    CodecContextPtr videoAudioDecoder;
    std::int32_t videoAudioStreamIndex = -1;
    std::int32_t videoStreamIndex = -1; // the picture that drives the run

    // The output.
    OutputContextPtr outputContext;
    FileIdentity writtenOutput;    // the file this run opened, while it is ours
    std::string partialOutputPath; // its name until it is published
    AVStream *outputAudioStream = nullptr;
    SoundCodec soundCodec = SoundCodec::Aac; // of the new sound, unless the music's packets are copied
    CodecContextPtr audioEncoder; // opened for the stream's parameters; the track encoder has its own
    std::int32_t outputAudioStreamIndex = -1;
    std::vector<std::int32_t> streamMap; // output stream of each video stream, or -1
    // Copied music: how far its stamps go back so that its priming lies
    // before zero, where the container's edit list skips it (music time base).
    std::int64_t musicPrimingShift = 0;

    // The filter graph.
    FilterGraphPtr filterGraph;
    AVFilterContext *sinkFilter = nullptr;
    AVFilterContext *firstSource = nullptr;
    AVFilterContext *secondSource = nullptr;

    // The clocks of what was written.
    std::int64_t audioClockMs = 0;
    std::int64_t videoClockMs = 0;
    double positionSeconds = 0;
    // Where the video file's last packet of any stream ends, in seconds from
    // the file's start: what it really holds, against its header's length.
    double inputEndSeconds = 0;
    // Set once a stop ended the reading: the sound owed to the pictures
    // already written is still made, and the stop checks let it through.
    bool finishingAfterStop = false;
    // A pass that makes the new sound only to measure it: nothing is opened
    // for output and nothing is written or encoded.
    bool measuringOnly = false;
    // The warnings told before the output was opened: encoding the same job
    // again tells the rest anew.
    std::size_t warningsBeforeOutput = 0;
    LoudnessMeter *soundMeter = nullptr; // hears every frame of the new sound, when set
    // Hears the new sound as the file holds it (its packets decoded), when
    // set: what the encoder adds to the peaks shows only there.
    LoudnessMeter *encodedSoundMeter = nullptr;
    CodecContextPtr encodedSoundDecoder;
    FramePtr encodedSoundFrame;
    // The stretch of the progress bar this pass fills, in percent.
    int progressFrom = 0;
    int progressSpan = 100;
    std::int64_t sampleCounter = 0;
    // Copied music: the offset added to its stamps, and where its next pass
    // begins (music time base).
    std::int64_t loopOffset = 0;
    std::int64_t lastMusicPts = 0;
    std::int64_t lastMusicDuration = 0;
    std::int64_t nextPassStart = 0;
    bool passStartPending = false; // the next music packet opens a pass
    std::int64_t musicRescaleLast = AV_NOPTS_VALUE; // carried between copied music packets
    bool musicSoundSinceRewind = false; // a pass without sound ends the run instead of rewinding for ever
    std::int64_t mixInputSamples = 0; // samples handed to each mix source so far
    // Where the new sound starts on the output's clock (output audio time
    // base): videos whose clock starts late (MPEG-TS, offset MP4) keep sync.
    std::int64_t encodedPtsShift = 0;
    // Where the new sound starts on the video's clock, and where the picture
    // written so far ends, both in samples (1/44100 s); the latter counted
    // from the former. The sound is made up to the picture's end.
    std::int64_t soundStartSamples = 0;
    std::int64_t ownSoundLead = 0; // silence before own sound that starts after the picture
    std::int64_t videoEndSamples = AV_NOPTS_VALUE;
    std::int64_t copiedMusicEndSamples = 0; // where the copied music written so far ends, counted the same way
    // A write or muxing error broke the file off: nothing more is written,
    // not even the trailer.
    bool writeFailed = false;

    // Sound on its way.
    AudioFifoPtr musicFifo;      // the music, resampled, for the mix
    AudioFifoPtr videoAudioFifo; // the own sound, resampled
    AudioFifoPtr feedFifo;       // the music for the single-input graph
    ResamplerPtr videoAudioResampler;
    FramePtr conversionBuffer; // resampler output before it enters a FIFO
    FramePtr videoSoundFrame;
    FramePtr sinkFrame;
    PacketPtr readPacket;
    // The planes of whole frames on their way to the encoder: a run makes
    // one such frame for every 1024 samples, and the encoders free them on
    // other threads.
    BufferPoolPtr encoderFramePool;
    // Silence put before the first sample so that the encoder's first packet
    // (its priming) starts exactly on the output clock's grid: Matroska
    // counts milliseconds, and 1024 samples are no whole number of them.
    // The frames are cut anew behind it. Null when the grid fits as it is.
    AudioFifoPtr leadFifo;
    std::int64_t leadFramePts = 0;
    int leadSamples = 0;

    // The music as the mix settings shape it, resampled; null when the
    // music's packets are copied.
    std::unique_ptr<MusicFeed> musicFeed;
    // A fitted song or one looped at its own seam, decoded whole; null to
    // decode as usual.
    std::shared_ptr<const PlannedMusic> plannedMusic;
    // The encoder of the new sound track, on threads of its own; its packets
    // are written by the loop. It counts frames from 0, so frames reach it
    // leadSamples later and its packets come back that much earlier.
    std::unique_ptr<SoundTrackEncoder> trackEncoder;
    std::vector<PacketPtr> readyPackets;
};

// Records a failure's reason, once: "step: FFmpeg's words". Returns code.
int fail(MixRun &run, std::string_view step, int code);
// Notes something of the video that the output leaves out.
void warn(MixRun &run, std::string what);

// Inputs.cpp
// Opens a local file for reading; no other protocol can be reached from the
// name or from inside the file. The job's stop flag interrupts blocking reads.
int openLocalInput(MixJob &job, InputContextPtr &input, const std::string &path);
// Opens a decoder for a stream; the context is handed over only once open.
int openDecoder(const AVStream *stream, CodecContextPtr &decoder);
// The music of a file: its last audio stream that can be decoded.
int openMusicStream(AVFormatContext *input, int &streamIndex, CodecContextPtr &decoder);
int openMusicInput(MixRun &run);
int openVideoInput(MixRun &run);
int createResampler(MixRun &run, ResamplerPtr &target, const AVChannelLayout &inLayout, AVSampleFormat inFormat,
                    int inRate);

// Output.cpp: the muxer, its streams, the encoder, and the file itself
// (opened through our own descriptor unless the muxer writes no file).
int openOutput(MixRun &run);
// Writes the trailer and closes the file, so that every byte is known to
// have reached it.
int closeOutput(MixRun &run);

// MusicFitting.cpp: with --fit or the loop at the song's seams, the music is
// decoded, analysed and planned; without a plan the run goes on plainly,
// with a warning.
int fitMusic(MixRun &run);
// What the settings become when no plan was found: a fit fades the music
// out at the end instead, a loop at the song's seams loops it plainly.
void dropMusicPlan(MixSettings &settings);

// FilterGraphs.cpp
// The source takes the music feed's 44100 Hz fltp stereo; a preview's
// sketch builds the same graphs at a lower rate.
int buildSingleInputGraph(MixRun &run, const char *description, int sampleRate = kOutputSampleRate);
int buildMixGraph(MixRun &run, const char *description, int sampleRate = kOutputSampleRate);
// The same with a second sink, "laid", for the music as the mix lays it
// (mixAndLaidGraphDescription); it belongs to the run's graph.
int buildMixAndLaidGraph(MixRun &run, const char *description, AVFilterContext *&laidSink,
                         int sampleRate = kOutputSampleRate);

// MixingLoop.cpp
// Lines the new sound up with the start of the video's own clock; call after
// the header is written, when the output time bases are final.
void anchorSoundToVideo(MixRun &run);
// Runs passes until the video is exhausted, an error ends the loop, or a
// stop is seen; then lets the sound still held in the chain reach the file.
// AVERROR_EOF at the video's end, AVERROR_EXIT after a stop, or the error.
int runMixingLoop(MixRun &run);
// Back to the start of the music, unless a whole pass gave no sound.
int rewindMusic(MixRun &run);
// Re-encoded music made so far: encoded, and waiting in the FIFO.
std::int64_t soundMadeSamples(const MixRun &run);

// Each mode's sound, a pass at a time: 0 to go on, or the error. The
// finishing steps make the sound to the last picture after the video's end.
// CopiedMusic.cpp: silent video, the music's packets copied.
int copyMusicPass(MixRun &run);
int finishCopiedMusic(MixRun &run);
// ReencodedMusic.cpp: silent video, the music decoded and encoded as AAC.
int reencodeMusicPass(MixRun &run);
int finishReencodedMusic(MixRun &run);
// MixedSound.cpp: the video's own sound mixed with the music.
int mixOwnSoundPacket(MixRun &run, AVPacket *packet);
// Silence in place of own sound where the picture has none (before the own
// sound starts, after it ends), mixed with the music chunk by chunk.
int mixSilentOwnSound(MixRun &run, std::int64_t samples);
int finishMixedSound(MixRun &run);

// SoundEncoding.cpp: every frame of the new sound goes through here.
int startSoundEncoding(MixRun &run);
// Sends one stamped frame to the encoder and writes what has come out. The
// frame is left blank.
int encodeFrame(MixRun &run, AVFrame *frame);
// With flush, the sound still held (lead silence, the encoders' last
// frames) reaches the file; without, the encoders stop where they are.
int finishSoundEncoding(MixRun &run, bool flush);

// Whether a stop asks the current step to end now.
inline bool stopWanted(const MixRun &run) { return run.job.stopRequested.load() && !run.finishingAfterStop; }
// Writes one packet of a copied stream, or of the new sound; a failed write
// breaks the file off (run.writeFailed).
int writeToOutput(MixRun &run, AVPacket *packet);
// The same for a packet on an input stream's clock, copied to an output stream.
int copyToOutput(MixRun &run, AVPacket *packet, const AVStream *in, int outIndex);

} // namespace melvora
