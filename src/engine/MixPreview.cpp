// The mix preview: the own sound decoded once, and each rendering made by the
// run's steps (openMusicInput, the music feed, buildMixGraph with the run's
// descriptions) over it, so that what is seen and heard is what a run makes.

#include "engine/MixPreview.h"

#include "engine/Loudness.h"
#include "engine/MixGraphs.h"
#include "engine/MixSteps.h"

#include <ebur128.h>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

#include <algorithm>
#include <cmath>

namespace melvora {
namespace {

bool isAgainOrEnd(int result) {
    return result == AVERROR(EAGAIN) || result == AVERROR_EOF;
}

bool stopSeen(const std::atomic<std::uint8_t> *stopFlag) {
    return stopFlag && stopFlag->load();
}

std::int16_t toSample(float value) {
    return static_cast<std::int16_t>(std::lround(std::clamp(value, -1.0f, 1.0f) * 32767.0f));
}

// Takes the resampled own sound out of its FIFO: mono samples and the level
// of every whole step (and, at the end, of the last part of one).
class OwnSoundTaker {
public:
    explicit OwnSoundTaker(MixPreviewInputs &inputs) : m_inputs(inputs) {}

    int take(AVAudioFifo *fifo) {
        float left[1024], right[1024];
        while (fifo && av_audio_fifo_size(fifo) > 0) {
            void *planes[2] = {left, right};
            const int read = av_audio_fifo_read(fifo, planes, 1024);
            if (read < 0)
                return read;
            for (int i = 0; i < read; ++i) {
                m_inputs.ownSound.push_back(toSample((left[i] + right[i]) / 2));
                m_energy += (double(left[i]) * left[i] + double(right[i]) * right[i]) / 2;
                if (++m_inStep == kPreviewStepSamples)
                    endStep();
            }
        }
        return 0;
    }

    void finish() {
        if (m_inStep > 0)
            endStep();
    }

private:
    void endStep() {
        m_inputs.ownLevels.push_back(static_cast<float>(std::sqrt(m_energy / m_inStep)));
        m_energy = 0;
        m_inStep = 0;
    }

    MixPreviewInputs &m_inputs;
    double m_energy = 0;
    int m_inStep = 0;
};

int decodeOwnSound(MixRun &run, MixPreviewInputs &inputs, const std::atomic<std::uint8_t> *stopFlag) {
    OwnSoundTaker taker(inputs);
    AVCodecContext *decoder = run.videoAudioDecoder.get();
    run.readPacket.reset(av_packet_alloc());
    run.videoSoundFrame.reset(av_frame_alloc());
    if (!run.readPacket || !run.videoSoundFrame)
        return fail(run, "Could not allocate the preview's frames", AVERROR(ENOMEM));
    AVPacket *packet = run.readPacket.get();
    AVFrame *frame = run.videoSoundFrame.get();
    const auto receiveAll = [&]() {
        for (;;) {
            int result = avcodec_receive_frame(decoder, frame);
            if (isAgainOrEnd(result))
                return 0;
            if (result < 0)
                return result == AVERROR(ENOMEM) ? result : 0; // a frame that fails to decode is skipped, as in a run
            result = resampleToFifo(run, run.videoAudioResampler, frame, run.videoAudioFifo);
            av_frame_unref(frame);
            if (result >= 0)
                result = taker.take(run.videoAudioFifo.get());
            if (result < 0)
                return result;
        }
    };
    for (;;) {
        if (stopSeen(stopFlag))
            return AVERROR_EXIT;
        int result = av_read_frame(run.videoInput.get(), packet);
        if (result == AVERROR_EOF)
            break;
        if (result < 0)
            return fail(run, "Could not read the video file", result);
        if (packet->stream_index == run.videoAudioStreamIndex) {
            result = avcodec_send_packet(decoder, packet);
            av_packet_unref(packet);
            if (result == AVERROR(ENOMEM))
                return result;
            result = result < 0 ? 0 : receiveAll(); // an undecodable packet is skipped
            if (result < 0)
                return fail(run, "Could not decode the video's sound", result);
        } else {
            av_packet_unref(packet);
        }
    }
    int result = avcodec_send_packet(decoder, nullptr);
    result = result < 0 ? 0 : receiveAll();
    if (result >= 0)
        result = flushResamplerToFifo(run, run.videoAudioResampler, run.videoAudioFifo);
    if (result >= 0)
        result = taker.take(run.videoAudioFifo.get());
    if (result < 0)
        return fail(run, "Could not decode the video's sound", result);
    taker.finish();
    return 0;
}

double containerSeconds(const AVFormatContext *input) {
    return input->duration > 0 ? double(input->duration) / AV_TIME_BASE : 0;
}

// A frame of the own sound from the kept mono samples (silence past their end).
int ownSoundFrame(MixRun &run, const MixPreviewInputs &inputs, std::int64_t from, int count, FramePtr &frame) {
    const int result = allocEncoderFrame(run, frame, count);
    if (result < 0)
        return result;
    auto *left = reinterpret_cast<float *>(frame->data[0]);
    auto *right = reinterpret_cast<float *>(frame->data[1]);
    const std::int64_t kept = static_cast<std::int64_t>(inputs.ownSound.size());
    for (int i = 0; i < count; ++i) {
        const std::int64_t at = from + i;
        left[i] = right[i] = at < kept ? inputs.ownSound[std::size_t(at)] / 32768.0f : 0.0f;
    }
    frame->pts = from;
    return 0;
}

// Moves every frame the sink has ready into the FIFO.
int drainSink(AVFilterContext *sink, AVFrame *frame, AudioFifoPtr &fifo) {
    for (;;) {
        int result = av_buffersink_get_frame(sink, frame);
        if (isAgainOrEnd(result))
            return 0;
        if (result < 0)
            return result;
        result = appendToFifo(fifo, frame);
        av_frame_unref(frame);
        if (result < 0)
            return result;
    }
}

} // namespace

std::int64_t MixPreviewInputs::videoSamples() const {
    return secondsToSamples(videoSeconds);
}

int analyseMixPreview(const std::string &videoPath, const std::string &musicPath, MixPreviewInputs &inputs,
                      std::string &error, const std::atomic<std::uint8_t> *stopFlag) {
    inputs = MixPreviewInputs{};
    inputs.videoPath = videoPath;
    inputs.musicPath = musicPath;
    MixJob job;
    job.request.videoPath = videoPath;
    job.request.musicPath = musicPath;
    MixRun run(job);
    // As the run opens them: the music first, as a video without sound
    // falls back to it.
    int result = openMusicInput(run);
    if (result >= 0) {
        result = measureIntegratedLoudness(run.musicInput.get(), run.musicStreamIndex, run.musicDecoder.get(),
                                           inputs.musicLoudnessLufs, stopFlag);
        if (result < 0 && result != AVERROR_EXIT)
            fail(run, "Could not measure the music's loudness", result);
    }
    if (result >= 0)
        result = openVideoInput(run);
    if (result >= 0 && run.videoAudioDecoder) {
        inputs.hasOwnSound = true;
        result = decodeOwnSound(run, inputs, stopFlag);
    }
    if (result < 0) {
        error = job.result.errorMessage;
        return result;
    }
    inputs.videoSeconds = containerSeconds(run.videoInput.get());
    if (inputs.videoSeconds <= 0)
        inputs.videoSeconds = double(inputs.ownSound.size()) / kPreviewSampleRate;
    if (inputs.videoSeconds <= 0) {
        error = "The video's length is not known";
        return AVERROR_INVALIDDATA;
    }
    return 0;
}

struct MixPreviewRender::Block {
    const float *mix[2];
    const float *bed[2];
    int samples;
};

// The levels of the steps in progress, carried from block to block.
struct MixPreviewRender::Meter {
    struct StateDeleter {
        void operator()(ebur128_state *state) const { ebur128_destroy(&state); }
    };
    std::unique_ptr<ebur128_state, StateDeleter> loudness{ebur128_init(2, kPreviewSampleRate, EBUR128_MODE_M)};
    double mixEnergy = 0;
    double bedEnergy = 0;
    int inStep = 0;
    float lastLoudness = -70;
    std::vector<float> interleaved;
};

// The momentary loudness is looked at every tenth step: each look sums 400 ms.
constexpr int kStepsPerLoudness = 10;

MixPreviewRender::MixPreviewRender(std::shared_ptr<const MixPreviewInputs> inputs, const MixSettings &settings)
    : m_inputs(std::move(inputs)), m_settings(settings), m_meter(std::make_unique<Meter>()) {
    m_thread = std::thread(&MixPreviewRender::run, this);
}

MixPreviewRender::~MixPreviewRender() {
    m_stop = 1;
    if (m_thread.joinable())
        m_thread.join();
}

MixPreviewRender::Levels MixPreviewRender::levels() const {
    std::lock_guard lock(m_mutex);
    return m_levels;
}

std::int64_t MixPreviewRender::doneSamples() const {
    std::lock_guard lock(m_mutex);
    return m_done;
}

bool MixPreviewRender::finished() const {
    std::lock_guard lock(m_mutex);
    return m_finished;
}

int MixPreviewRender::result(std::string *error) const {
    std::lock_guard lock(m_mutex);
    if (error)
        *error = m_error;
    return m_result;
}

void MixPreviewRender::wait() const {
    std::unique_lock lock(m_mutex);
    m_over.wait(lock, [this] { return m_finished; });
}

std::int64_t MixPreviewRender::readMixed(std::int64_t fromSample, std::int64_t count, std::int16_t *into) const {
    std::lock_guard lock(m_mutex);
    const std::int64_t frames = std::clamp<std::int64_t>(m_done - fromSample, 0, count);
    if (frames > 0)
        std::copy_n(m_mixed.begin() + std::ptrdiff_t(fromSample * 2), std::size_t(frames * 2), into);
    return frames;
}

int MixPreviewRender::appendBlock(const Block &block) {
    Meter &meter = *m_meter;
    std::vector<float> music, mix, loudness;
    meter.interleaved.resize(std::size_t(block.samples) * 2);
    std::vector<std::int16_t> mixed(std::size_t(block.samples) * 2);
    for (int i = 0; i < block.samples; ++i) {
        const float left = block.mix[0][i], right = block.mix[1][i];
        meter.interleaved[2 * i] = left;
        meter.interleaved[2 * i + 1] = right;
        mixed[2 * i] = toSample(left);
        mixed[2 * i + 1] = toSample(right);
        meter.mixEnergy += (double(left) * left + double(right) * right) / 2;
        meter.bedEnergy += (double(block.bed[0][i]) * block.bed[0][i] + double(block.bed[1][i]) * block.bed[1][i]) / 2;
        if (++meter.inStep < kPreviewStepSamples)
            continue;
        mix.push_back(static_cast<float>(std::sqrt(meter.mixEnergy / kPreviewStepSamples)));
        music.push_back(static_cast<float>(std::sqrt(meter.bedEnergy / kPreviewStepSamples)));
        meter.mixEnergy = meter.bedEnergy = 0;
        meter.inStep = 0;
    }
    // The loudness meter sees the whole block; it is read once per step taken.
    if (meter.loudness && ebur128_add_frames_float(meter.loudness.get(), meter.interleaved.data(),
                                                   std::size_t(block.samples)) != EBUR128_SUCCESS)
        return AVERROR(ENOMEM);
    std::lock_guard lock(m_mutex);
    for (std::size_t i = 0; i < mix.size(); ++i) {
        const std::size_t step = m_levels.mix.size();
        if (step % kStepsPerLoudness == 0 && meter.loudness) {
            double lufs = -70;
            if (ebur128_loudness_momentary(meter.loudness.get(), &lufs) == EBUR128_SUCCESS && std::isfinite(lufs))
                meter.lastLoudness = static_cast<float>(std::max(lufs, -70.0));
            else
                meter.lastLoudness = -70;
        }
        m_levels.mix.push_back(mix[i]);
        m_levels.music.push_back(music[i]);
        m_levels.loudness.push_back(meter.lastLoudness);
    }
    m_mixed.insert(m_mixed.end(), mixed.begin(), mixed.end());
    m_done += block.samples;
    return 0;
}

void MixPreviewRender::run() {
    const MixPreviewInputs &inputs = *m_inputs;
    const std::int64_t total = inputs.videoSamples();
    {
        std::lock_guard lock(m_mutex);
        m_mixed.reserve(std::size_t(total) * 2);
    }
    MixJob job;
    job.request.videoPath = inputs.videoPath;
    job.request.musicPath = inputs.musicPath;
    MixRun mixRun(job);
    MixRun bedRun(job); // its graph only
    // A loudness target becomes the music's level, as the run turns it.
    const MixSettings applied =
        m_settings.musicLoudnessLufs ? withMeasuredLoudness(m_settings, inputs.musicLoudnessLufs) : m_settings;
    const bool ownSound = inputs.hasOwnSound;

    // The mix is the run's own graph; beside it, with own sound, a graph of
    // the music as that mix lays it, fed the same frames.
    int result = openMusicInput(mixRun);
    if (result >= 0) {
        mixRun.musicFeed = std::make_unique<MusicFeed>(mixRun.musicInput.get(), mixRun.musicStreamIndex,
                                                       mixRun.musicDecoder.get(), applied, &m_stop);
        if (ownSound) {
            result = buildMixGraph(mixRun, mixGraphDescription(applied, inputs.videoSeconds).c_str());
            if (result >= 0)
                result = buildMixGraph(bedRun, musicBedGraphDescription(applied, inputs.videoSeconds).c_str());
        } else {
            // A video without sound gets the music alone: that graph is both.
            result = buildSingleInputGraph(mixRun, musicGraphDescription(applied, inputs.videoSeconds).c_str());
        }
    }
    mixRun.sinkFrame.reset(av_frame_alloc());
    if (result >= 0 && !mixRun.sinkFrame)
        result = AVERROR(ENOMEM);

    AudioFifoPtr mixOut, bedOut;
    // Hands on what both graphs have made, as far as both have it.
    const auto handOn = [&]() {
        int ready = mixOut ? av_audio_fifo_size(mixOut.get()) : 0;
        if (ownSound)
            ready = std::min(ready, bedOut ? av_audio_fifo_size(bedOut.get()) : 0);
        ready = static_cast<int>(std::min<std::int64_t>(ready, total - m_done));
        if (ready <= 0)
            return 0;
        std::vector<float> planes[4];
        for (std::vector<float> &plane : planes)
            plane.resize(std::size_t(ready));
        void *mixPlanes[2] = {planes[0].data(), planes[1].data()};
        void *bedPlanes[2] = {planes[2].data(), planes[3].data()};
        if (av_audio_fifo_read(mixOut.get(), mixPlanes, ready) < ready)
            return AVERROR_BUG;
        if (ownSound && av_audio_fifo_read(bedOut.get(), bedPlanes, ready) < ready)
            return AVERROR_BUG;
        const int bed = ownSound ? 2 : 0;
        return appendBlock(
            Block{{planes[0].data(), planes[1].data()}, {planes[bed].data(), planes[bed + 1].data()}, ready});
    };
    const auto drain = [&]() {
        int step = drainSink(mixRun.sinkFilter, mixRun.sinkFrame.get(), mixOut);
        if (step >= 0 && ownSound)
            step = drainSink(bedRun.sinkFilter, mixRun.sinkFrame.get(), bedOut);
        return step < 0 ? step : handOn();
    };
    // A frame to a source of each graph: the mix's takes it, the bed's a copy.
    const auto pushToBoth = [&](AVFilterContext *mixSource, AVFilterContext *bedSource, FramePtr &frame) {
        FramePtr copy(frame ? av_frame_clone(frame.get()) : nullptr);
        if (!copy)
            return AVERROR(ENOMEM);
        const int step = pushToSource(bedRun, bedSource, copy.get());
        return step < 0 ? step : pushToSource(mixRun, mixSource, frame.get());
    };

    // The chunks the run hands its graph: the own sound and as much music.
    for (std::int64_t position = 0; result >= 0 && position < total; position += kMixChunkSamples) {
        if (m_stop.load()) {
            result = AVERROR_EXIT;
            break;
        }
        const int chunk = static_cast<int>(std::min<std::int64_t>(kMixChunkSamples, total - position));
        FramePtr music, own;
        result = readNextMusicFrame(mixRun, mixRun.musicFifo, chunk);
        if (result >= 0)
            result = takeFifoFrame(mixRun, mixRun.musicFifo.get(), chunk, position, music);
        if (result >= 0 && ownSound) {
            result = ownSoundFrame(mixRun, inputs, position, chunk, own);
            if (result >= 0)
                result = pushToBoth(mixRun.firstSource, bedRun.firstSource, own);
            if (result >= 0)
                result = pushToBoth(mixRun.secondSource, bedRun.secondSource, music);
        } else if (result >= 0) {
            result = pushToSource(mixRun, mixRun.firstSource, music.get());
        }
        if (result >= 0)
            result = drain();
    }
    // Every source ends at once, as the run ends its graph's, and the graphs
    // let out what they still hold.
    for (AVFilterContext *source : {mixRun.firstSource, mixRun.secondSource, bedRun.firstSource, bedRun.secondSource})
        if (source && result >= 0)
            result = pushToSource(mixRun, source, nullptr);
    if (result >= 0)
        result = drain();

    std::lock_guard lock(m_mutex);
    m_result = result;
    if (result < 0 && result != AVERROR_EXIT) {
        m_error = job.result.errorMessage;
        if (m_error.empty()) {
            char words[AV_ERROR_MAX_STRING_SIZE] = {};
            av_strerror(result, words, sizeof words);
            m_error = std::string("Could not make the preview: ") + words;
        }
    }
    m_finished = true;
    m_over.notify_all();
}

} // namespace melvora
