#pragma once

// One owner per FFmpeg object: each holder releases its object through the
// matching FFmpeg free call, so no early return can leak and no object is
// released twice. The objects are only declared here and the deleters are
// defined in FFmpegHandles.cpp, so a front end that sees a job never sees
// an FFmpeg header.

#include <memory>
#include <string>

struct AVAudioFifo;
struct AVBufferPool;
struct AVCodecContext;
struct AVFilterContext;
struct AVFilterGraph;
struct AVFilterInOut;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwrContext;

namespace melvora {

struct InputContextDeleter {
    void operator()(AVFormatContext *context) const;
};
using InputContextPtr = std::unique_ptr<AVFormatContext, InputContextDeleter>;

// An output context owns its I/O context too when its muxer writes a file:
// our own file I/O (custom I/O) or one that FFmpeg opened.
struct OutputContextDeleter {
    void operator()(AVFormatContext *context) const;
};
using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextDeleter>;

struct CodecContextDeleter {
    void operator()(AVCodecContext *context) const;
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;

struct FilterGraphDeleter {
    void operator()(AVFilterGraph *graph) const;
};
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FilterGraphDeleter>;

struct ResamplerDeleter {
    void operator()(SwrContext *resampler) const;
};
using ResamplerPtr = std::unique_ptr<SwrContext, ResamplerDeleter>;

struct AudioFifoDeleter {
    void operator()(AVAudioFifo *fifo) const;
};
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;

// Buffers still in use when the pool is released stay valid; the pool goes
// with the last of them.
struct BufferPoolDeleter {
    void operator()(AVBufferPool *pool) const;
};
using BufferPoolPtr = std::unique_ptr<AVBufferPool, BufferPoolDeleter>;

struct FrameDeleter {
    void operator()(AVFrame *frame) const;
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

struct PacketDeleter {
    void operator()(AVPacket *packet) const;
};
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

struct FilterInOutDeleter {
    void operator()(AVFilterInOut *list) const;
};
using FilterInOutPtr = std::unique_ptr<AVFilterInOut, FilterInOutDeleter>;

// FFmpeg's own words for an error code.
std::string ffmpegErrorText(int code);

} // namespace melvora
