#include "engine/FFmpegHandles.h"
#include "engine/OutputFile.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/buffer.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

namespace melvora {

void InputContextDeleter::operator()(AVFormatContext *context) const { avformat_close_input(&context); }

void OutputContextDeleter::operator()(AVFormatContext *context) const {
    if (context->flags & AVFMT_FLAG_CUSTOM_IO)
        closeOutputFile(&context->pb); // a run that wanted its result closed it already
    else if (context->oformat && !(context->oformat->flags & AVFMT_NOFILE))
        avio_closep(&context->pb);
    avformat_free_context(context);
}

void CodecContextDeleter::operator()(AVCodecContext *context) const { avcodec_free_context(&context); }

void FilterGraphDeleter::operator()(AVFilterGraph *graph) const { avfilter_graph_free(&graph); }

void ResamplerDeleter::operator()(SwrContext *resampler) const { swr_free(&resampler); }

void AudioFifoDeleter::operator()(AVAudioFifo *fifo) const { av_audio_fifo_free(fifo); }

void BufferPoolDeleter::operator()(AVBufferPool *pool) const { av_buffer_pool_uninit(&pool); }

void FrameDeleter::operator()(AVFrame *frame) const { av_frame_free(&frame); }

void PacketDeleter::operator()(AVPacket *packet) const { av_packet_free(&packet); }

void FilterInOutDeleter::operator()(AVFilterInOut *list) const { avfilter_inout_free(&list); }

std::string ffmpegErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(code, text, sizeof text) < 0)
        return "error " + std::to_string(code);
    return text;
}

} // namespace melvora
