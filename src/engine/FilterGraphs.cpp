// The audio filter graphs: one source converting the music (re-encoded
// music), or two sources mixed by amix (the video's sound with the music).

#include "engine/MixSteps.h"

#include <cinttypes>
#include <cstdio>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/opt.h>
}

namespace melvora {
namespace {

// Argument text of an abuffer source, e.g.
// "time_base=1/44100:sample_rate=44100:sample_fmt=fltp:channel_layout=0x3".
std::string sourceArguments(AVRational timeBase, int sampleRate, AVSampleFormat format, const AVChannelLayout &layout) {
    const AVChannelLayout usable = effectiveLayout(layout);
    const char *formatName = av_get_sample_fmt_name(format);
    char text[512];
    std::snprintf(text, sizeof text, "time_base=%d/%d:sample_rate=%d:sample_fmt=%s:channel_layout=0x%" PRIx64,
                  timeBase.num, timeBase.den, sampleRate, formatName ? formatName : "none", usable.u.mask);
    return text;
}

std::string resampledSourceArguments(int sampleRate) {
    return sourceArguments(AVRational{1, sampleRate}, sampleRate, kOutputSampleFormat, stereoLayout());
}

// The sink accepts only planar float stereo at the graph's rate.
int constrainSink(AVFilterContext *sink, int sampleRate) {
    const AVSampleFormat formats[] = {kOutputSampleFormat, AV_SAMPLE_FMT_NONE};
    int result = av_opt_set_int_list(sink, "sample_fmts", formats, AV_SAMPLE_FMT_NONE, AV_OPT_SEARCH_CHILDREN);
    if (result < 0)
        return result;
    result = av_opt_set(sink, "ch_layouts", "stereo", AV_OPT_SEARCH_CHILDREN);
    if (result < 0)
        return result;
    const int rates[] = {sampleRate, -1};
    return av_opt_set_int_list(sink, "sample_rates", rates, -1, AV_OPT_SEARCH_CHILDREN);
}

FilterInOutPtr linkRecord(const char *name, AVFilterContext *filter) {
    FilterInOutPtr record(avfilter_inout_alloc());
    if (!record)
        return record;
    record->name = av_strdup(name);
    record->filter_ctx = filter;
    record->pad_idx = 0;
    record->next = nullptr;
    if (!record->name)
        record.reset();
    return record;
}

// Parses the description between the caller's open outputs and the sink, then
// configures the graph. Takes the link lists; they are freed on every path.
int parseAndConfigure(MixRun &run, const char *description, FilterInOutPtr outputs, FilterInOutPtr inputs) {
    AVFilterInOut *outputList = outputs.release();
    AVFilterInOut *inputList = inputs.release();
    int result = avfilter_graph_parse_ptr(run.filterGraph.get(), description, &inputList, &outputList, nullptr);
    avfilter_inout_free(&inputList);
    avfilter_inout_free(&outputList);
    if (result < 0)
        return fail(run, "Could not parse the audio filter graph", result);
    result = avfilter_graph_config(run.filterGraph.get(), nullptr);
    if (result < 0)
        return fail(run, "Could not configure the audio filter graph", result);
    return 0;
}

int createSink(MixRun &run, int sampleRate, AVFilterContext *&sink, const char *name) {
    const AVFilter *abuffersink = avfilter_get_by_name("abuffersink");
    int result = avfilter_graph_create_filter(&sink, abuffersink, name, nullptr, nullptr, run.filterGraph.get());
    if (result < 0)
        return fail(run, "Could not create the audio sink", result);
    result = constrainSink(sink, sampleRate);
    if (result < 0)
        return fail(run, "Could not set the audio sink's formats", result);
    return 0;
}

int createSource(MixRun &run, AVFilterContext *&source, const char *name, const std::string &arguments) {
    const AVFilter *abuffer = avfilter_get_by_name("abuffer");
    const int result =
        avfilter_graph_create_filter(&source, abuffer, name, arguments.c_str(), nullptr, run.filterGraph.get());
    if (result < 0)
        return fail(run, std::string("Could not create the audio source ") + name, result);
    return 0;
}

} // namespace

int buildSingleInputGraph(MixRun &run, const char *description, int sampleRate) {
    run.filterGraph.reset(avfilter_graph_alloc());
    if (!run.filterGraph)
        return fail(run, "Could not allocate the audio filter graph", AVERROR(ENOMEM));

    // The music feed hands over 44100 Hz planar float stereo, whatever the
    // music's own rate, format or layout.
    int result = createSource(run, run.firstSource, "in", resampledSourceArguments(sampleRate));
    if (result < 0)
        return result;
    result = createSink(run, sampleRate, run.sinkFilter, "out");
    if (result < 0)
        return result;

    FilterInOutPtr outputs = linkRecord("in", run.firstSource);
    FilterInOutPtr inputs = linkRecord("out", run.sinkFilter);
    if (!outputs || !inputs)
        return fail(run, "Could not allocate the audio filter links", AVERROR(ENOMEM));
    return parseAndConfigure(run, description, std::move(outputs), std::move(inputs));
}

namespace {

// Two sources, the sink "out" and, when laidSink is given, the sink "laid".
int buildTwoInputGraph(MixRun &run, const char *description, AVFilterContext **laidSink, int sampleRate) {
    run.filterGraph.reset(avfilter_graph_alloc());
    if (!run.filterGraph)
        return fail(run, "Could not allocate the audio filter graph", AVERROR(ENOMEM));

    // Both inputs come resampled: the own sound by its resampler, the music
    // by the feed.
    int result = createSource(run, run.firstSource, "in0", resampledSourceArguments(sampleRate));
    if (result < 0)
        return result;
    result = createSource(run, run.secondSource, "in1", resampledSourceArguments(sampleRate));
    if (result < 0)
        return result;
    result = createSink(run, sampleRate, run.sinkFilter, "out");
    if (result >= 0 && laidSink)
        result = createSink(run, sampleRate, *laidSink, "laid");
    if (result < 0)
        return result;
    FilterInOutPtr outputs = linkRecord("in0", run.firstSource);
    FilterInOutPtr second = linkRecord("in1", run.secondSource);
    FilterInOutPtr inputs = linkRecord("out", run.sinkFilter);
    FilterInOutPtr laid = laidSink ? linkRecord("laid", *laidSink) : nullptr;
    if (!outputs || !second || !inputs || (laidSink && !laid))
        return fail(run, "Could not allocate the audio filter links", AVERROR(ENOMEM));
    outputs->next = second.release();
    inputs->next = laid.release();
    result = parseAndConfigure(run, description, std::move(outputs), std::move(inputs));
    // The encoder takes whole frames of its frame size only.
    if (result >= 0)
        av_buffersink_set_frame_size(run.sinkFilter, kMixChunkSamples);
    return result;
}

} // namespace

int buildMixGraph(MixRun &run, const char *description, int sampleRate) {
    return buildTwoInputGraph(run, description, nullptr, sampleRate);
}

int buildMixAndLaidGraph(MixRun &run, const char *description, AVFilterContext *&laidSink, int sampleRate) {
    return buildTwoInputGraph(run, description, &laidSink, sampleRate);
}

} // namespace melvora
