#pragma once

// One owner per FFmpeg object: each holder releases its object through the
// matching FFmpeg free call, so no early return can leak and no object is
// released twice.

#include "engine/OutputFile.h"

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

namespace melvora {

struct InputContextDeleter {
    void operator()(AVFormatContext *context) const { avformat_close_input(&context); }
};
using InputContextPtr = std::unique_ptr<AVFormatContext, InputContextDeleter>;

// An output context owns its I/O context too when its muxer writes a file:
// our own file I/O (custom I/O) or one that FFmpeg opened.
struct OutputContextDeleter {
    void operator()(AVFormatContext *context) const {
        if (context->flags & AVFMT_FLAG_CUSTOM_IO)
            closeOutputFile(&context->pb);
        else if (context->oformat && !(context->oformat->flags & AVFMT_NOFILE))
            avio_closep(&context->pb);
        avformat_free_context(context);
    }
};
using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextDeleter>;

struct CodecContextDeleter {
    void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;

struct FilterGraphDeleter {
    void operator()(AVFilterGraph *graph) const { avfilter_graph_free(&graph); }
};
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FilterGraphDeleter>;

struct ResamplerDeleter {
    void operator()(SwrContext *resampler) const { swr_free(&resampler); }
};
using ResamplerPtr = std::unique_ptr<SwrContext, ResamplerDeleter>;

struct AudioFifoDeleter {
    void operator()(AVAudioFifo *fifo) const { av_audio_fifo_free(fifo); }
};
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;

struct FrameDeleter {
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

struct PacketDeleter {
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

struct FilterInOutDeleter {
    void operator()(AVFilterInOut *list) const { avfilter_inout_free(&list); }
};
using FilterInOutPtr = std::unique_ptr<AVFilterInOut, FilterInOutDeleter>;

// FFmpeg's own words for an error code.
std::string ffmpegErrorText(int code);

} // namespace melvora
