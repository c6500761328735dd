#pragma once

// The small operations the mixing loop is made of. Engine-internal: this
// header brings in FFmpeg. Every result is an FFmpeg result code.

#include "engine/EngineInternal.h"
#include "engine/FFmpegHandles.h"

#include <cstdint>
#include <optional>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

namespace melvora {

struct MixRun;

// The target format of every re-encoded sound: 44100 Hz, planar float, stereo.
inline constexpr int kOutputSampleRate = 44100;
inline constexpr AVSampleFormat kOutputSampleFormat = AV_SAMPLE_FMT_FLTP;
inline constexpr int kOutputBitRate = 128000;
// The mix goes to the track encoder in frames of this many samples (AAC's
// frame; the last may be shorter).
inline constexpr int kMixChunkSamples = 1024;
AVChannelLayout stereoLayout();

// The layout a decoder or frame really has, or the default for its channel
// count when it carries none.
AVChannelLayout effectiveLayout(const AVChannelLayout &layout);

// Milliseconds of a time stamp, truncated toward zero.
std::int64_t timestampToMs(std::int64_t timestamp, AVRational timeBase);

// A new AAC encoder as every run encodes with: 128 kbit/s, 44100 Hz, planar
// float stereo, counting in samples. AVERROR_INVALIDDATA when there is no
// AAC encoder.
int openRunAacEncoder(CodecContextPtr &encoder);

// A frame of sampleCount samples in the format the track encoder takes
// (44100 Hz planar float stereo), with its buffers. AVERROR(ENOMEM) when it
// cannot be had.
int allocEncoderFrame(MixRun &run, FramePtr &frame, int sampleCount);

// Rescales a packet from inStream's clock to outStream's, gives it the output
// index and writes it interleaved; the write's result.
int copyPacket(MixRun &run, AVPacket *packet, const AVStream *inStream, const AVStream *outStream, int outIndex);

// Whether a resampler was set up for frames like this one (channels, rate,
// format): a stream may change its format midway.
bool resamplerTakes(SwrContext *resampler, const AVFrame *frame);

// Converts a decoded frame to 44100 Hz fltp stereo and appends it to the FIFO
// (created on first use). The number of samples the FIFO then holds, or a
// negative FFmpeg error.
int resampleToFifo(MixRun &run, ResamplerPtr &resampler, const AVFrame *frame, AudioFifoPtr &fifo);

// Lets out what the resampler still holds at the end of a stream.
int flushResamplerToFifo(MixRun &run, ResamplerPtr &resampler, AudioFifoPtr &fifo);

// Appends a 44100 Hz fltp stereo frame to the FIFO (made on first use).
int appendToFifo(AudioFifoPtr &fifo, const AVFrame *frame);

// Appends sampleCount samples of silence to the FIFO (made on first use).
int appendSilence(AudioFifoPtr &fifo, std::int64_t sampleCount);

// Moves sampleCount samples from the FIFO into the frame; the number read.
int readFifoFrame(MixRun &run, AVAudioFifo *fifo, AVFrame *frame, int sampleCount);

// A new encoder-format frame holding the next sampleCount samples of the
// FIFO (which must hold them), stamped pts.
int takeFifoFrame(MixRun &run, AVAudioFifo *fifo, int sampleCount, std::int64_t pts, FramePtr &frame);

// Hands a frame (or, when null, the end of the stream) to a buffer source.
int pushToSource(MixRun &run, AVFilterContext *source, AVFrame *frame);

// Back to a stream's very first packet, when its stamp is known (priming
// packets stamped before the stream's start come again), else to its start.
int seekToStreamStart(AVFormatContext *input, int streamIndex, std::optional<std::int64_t> firstPacketStamp);

// The next decoded music, resampled, until the FIFO (made on first use)
// holds at least minSamples; the music feed rewinds at the music's end.
int readNextMusicFrame(MixRun &run, AudioFifoPtr &fifo, int minSamples);

} // namespace melvora
