// The mix preview: the own sound decoded once, and each rendering made by the
// run's steps (openMusicInput, the music feed, buildMixGraph with the run's
// descriptions) over it, so that what is seen and heard is what a run makes.

#include "engine/MixPreview.h"

#include "engine/Loudness.h"
#include "engine/MixGraphs.h"
#include "engine/MixPreviewPlan.h"
#include "engine/MixSteps.h"

#include <ebur128.h>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <functional>

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

} // namespace

// What a sketch takes: the own sound resampled once for the session, and the
// music feed's sound for the settings that shape it, kept while they stay.
struct MixPreviewInputs::SketchSources {
    std::mutex mutex;
    std::atomic<bool> making{false}; // held for longer than a look: a sound is being made
    bool ownMade = false;
    std::vector<float> own; // mono
    struct Music {
        MixSettings shaping;                         // only what the music feed reads
        std::shared_ptr<const PlannedMusic> planned; // what it plays instead, when set
        std::vector<float> left, right;
        // The feed's own samples at 44100 Hz, where the video is not too
        // long to keep them: a pass from a point takes them from there
        // rather than decode the music up to it.
        std::vector<float> fullLeft, fullRight;
    };
    std::shared_ptr<const Music> music;
};

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
    inputs.sketchSources = std::make_shared<MixPreviewInputs::SketchSources>();
    inputs.planner = std::make_shared<MixPreviewPlanner>(musicPath, inputs.videoSeconds, inputs.hasOwnSound);
    return 0;
}

struct MixPreviewRender::Block {
    const float *mix[2];
    const float *bed[2];
    int samples;
};

// The levels of the steps in progress at a pass's rate, carried from block
// to block.
struct MixPreviewRender::Meter {
    struct StateDeleter {
        void operator()(ebur128_state *state) const { ebur128_destroy(&state); }
    };
    explicit Meter(int sampleRate)
        : rate(sampleRate), stepSamples(kPreviewStepSamples * sampleRate / kPreviewSampleRate),
          loudness(ebur128_init(2, unsigned(sampleRate), EBUR128_MODE_M)) {}
    int rate;
    int stepSamples;
    std::unique_ptr<ebur128_state, StateDeleter> loudness;
    double mixEnergy = 0;
    double bedEnergy = 0;
    int inStep = 0;
    float lastLoudness = -70;
    std::vector<float> interleaved;
    Levels made; // of this pass
};

namespace {

// The momentary loudness is looked at every tenth step: each look sums 400 ms.
constexpr int kStepsPerLoudness = 10;

// A pass from a point starts this long before it, and before it once more
// by the music's delay, and drops what it made there. The ducking's noise
// floor, starting at full scale, falls 200 dB/s to the key's first dip and
// is the run's from there; its hold and ramp are the run's once the key has
// come and gone, the limiters' and resamplers' memory is milliseconds long;
// the delay's filter lets out silence for as long as the delay before the
// music it holds.
constexpr double kAheadWarmUpSeconds = 3;
// It starts where the run hands its graph a chunk and the ducking takes a
// step, so that both fall where they fall in the run.
constexpr std::int64_t kAheadAlignment = std::int64_t(kMixChunkSamples) * kDuckControlStep;
// The mix from the start waits until the pass from a point is this far
// past it.
constexpr std::int64_t kAheadLeadSamples = 5 * kPreviewSampleRate;

std::int64_t samplesAtRate(double seconds, int rate) {
    return seconds > 0 ? std::llround(seconds * rate) : 0;
}

// The settings that make the music feed's sound what it is.
MixSettings musicShaping(const MixSettings &settings) {
    MixSettings shaping;
    shaping.loop = settings.loop;
    shaping.crossfadeSeconds = settings.loop ? settings.crossfadeSeconds : 0;
    shaping.musicStartSeconds = settings.musicStartSeconds;
    return shaping;
}

int planarFrame(int rate, int count, std::int64_t pts, FramePtr &frame) {
    frame.reset(av_frame_alloc());
    if (!frame)
        return AVERROR(ENOMEM);
    frame->nb_samples = count;
    frame->format = kOutputSampleFormat;
    frame->sample_rate = rate;
    frame->ch_layout = stereoLayout();
    frame->pts = pts;
    const int result = av_frame_get_buffer(frame.get(), 0);
    if (result < 0)
        frame.reset();
    return result;
}

struct SwrDeleter {
    void operator()(SwrContext *context) const { swr_free(&context); }
};

// Planar float from 44100 Hz to the sketch's rate, through libswresample,
// a piece at a time.
class SketchResampler {
public:
    explicit SketchResampler(int channels) : m_planes(std::size_t(channels)), m_out(std::size_t(channels)) {
        AVChannelLayout layout;
        av_channel_layout_default(&layout, channels);
        SwrContext *raw = nullptr;
        m_result = swr_alloc_set_opts2(&raw, &layout, AV_SAMPLE_FMT_FLTP, kSketchSampleRate, &layout,
                                       AV_SAMPLE_FMT_FLTP, kPreviewSampleRate, 0, nullptr);
        m_resampler.reset(raw);
        if (m_result >= 0)
            m_result = swr_init(m_resampler.get());
    }

    // count samples of each plane; none at the end, to let out what it holds.
    int add(const float *const *planes, int count) {
        if (m_result < 0)
            return m_result;
        const int room = count / kSketchRateDivisor + 256;
        std::vector<const std::uint8_t *> in(m_planes.size());
        std::vector<std::uint8_t *> out(m_planes.size());
        for (std::size_t c = 0; c < m_planes.size(); ++c) {
            m_out[c].resize(std::size_t(room));
            out[c] = reinterpret_cast<std::uint8_t *>(m_out[c].data());
            if (planes)
                in[c] = reinterpret_cast<const std::uint8_t *>(planes[c]);
        }
        const int made = swr_convert(m_resampler.get(), out.data(), room, planes ? in.data() : nullptr, count);
        if (made < 0)
            return made;
        for (std::size_t c = 0; c < m_planes.size(); ++c)
            m_planes[c].insert(m_planes[c].end(), m_out[c].begin(), m_out[c].begin() + made);
        return 0;
    }

    std::vector<std::vector<float>> &planes() { return m_planes; }

private:
    struct SwrDeleter {
        void operator()(SwrContext *context) const { swr_free(&context); }
    };
    std::unique_ptr<SwrContext, SwrDeleter> m_resampler;
    int m_result = 0;
    std::vector<std::vector<float>> m_planes;
    std::vector<std::vector<float>> m_out;
};

// The own sound at the sketch's rate.
int sketchOwnSound(const MixPreviewInputs &inputs, std::vector<float> &into, const std::atomic<std::uint8_t> &stop) {
    SketchResampler resampler(1);
    constexpr int kPiece = 1 << 16;
    std::vector<float> piece(kPiece);
    const std::int64_t total = std::int64_t(inputs.ownSound.size());
    for (std::int64_t at = 0; at < total; at += kPiece) {
        if (stop.load())
            return AVERROR_EXIT;
        const int count = int(std::min<std::int64_t>(kPiece, total - at));
        for (int i = 0; i < count; ++i)
            piece[std::size_t(i)] = inputs.ownSound[std::size_t(at + i)] / 32768.0f;
        const float *planes[1] = {piece.data()};
        const int result = resampler.add(planes, count);
        if (result < 0)
            return result;
    }
    const int result = resampler.add(nullptr, 0);
    if (result >= 0)
        into = std::move(resampler.planes()[0]);
    return result;
}

// Up to this length the feed's samples are kept at 44100 Hz as well (212 MB
// for ten minutes); beyond it a pass from a point decodes the music itself.
constexpr double kLongestKeptFeedSeconds = 30 * 60;

// The music feed's sound over the whole video, as a run's feed gives it,
// brought to the sketch's rate; into full, when given, as it is.
int sketchMusic(const MixPreviewInputs &inputs, const MixSettings &shaping,
                const std::shared_ptr<const PlannedMusic> &planned, std::vector<std::vector<float>> &into,
                std::vector<float> *full, const std::atomic<std::uint8_t> &stop) {
    MixJob job;
    job.request.musicPath = inputs.musicPath;
    MixRun run(job);
    int result = openMusicInput(run);
    if (result < 0)
        return result;
    MusicFeed feed(run.musicInput.get(), run.musicStreamIndex, run.musicDecoder.get(), shaping, &stop);
    if (planned)
        feed.playPlanned(planned);
    AudioFifoPtr fifo(av_audio_fifo_alloc(kOutputSampleFormat, 2, kMixChunkSamples));
    if (!fifo)
        return AVERROR(ENOMEM);
    SketchResampler resampler(2);
    constexpr int kPiece = 1 << 15;
    std::vector<float> left(kPiece), right(kPiece);
    const std::int64_t total = inputs.videoSamples();
    for (std::int64_t at = 0; at < total; at += kPiece) {
        const int count = int(std::min<std::int64_t>(kPiece, total - at));
        result = feed.read(fifo.get(), count);
        if (result < 0)
            return result;
        void *planes[2] = {left.data(), right.data()};
        const int read = av_audio_fifo_read(fifo.get(), planes, count);
        if (read < count)
            return read < 0 ? read : AVERROR_BUG;
        const float *made[2] = {left.data(), right.data()};
        if (full)
            for (int c = 0; c < 2; ++c)
                full[c].insert(full[c].end(), made[c], made[c] + count);
        result = resampler.add(made, count);
        if (result < 0)
            return result;
    }
    result = resampler.add(nullptr, 0);
    if (result >= 0)
        into = std::move(resampler.planes());
    return result;
}

} // namespace

MixPreviewRender::MixPreviewRender(std::shared_ptr<const MixPreviewInputs> inputs, const MixSettings &settings,
                                   bool soundFirst)
    : m_inputs(std::move(inputs)), m_settings(settings), m_planner(m_inputs->planner), m_soundFirst(soundFirst) {
    if (!m_planner)
        m_planner =
            std::make_shared<MixPreviewPlanner>(m_inputs->musicPath, m_inputs->videoSeconds, m_inputs->hasOwnSound);
    m_thread = std::thread(&MixPreviewRender::run, this);
    m_sketchThread = std::thread(&MixPreviewRender::runSketch, this);
}

MixPreviewRender::~MixPreviewRender() {
    stopMaking();
    if (m_aheadThread.joinable())
        m_aheadThread.join();
    if (m_sketchThread.joinable())
        m_sketchThread.join();
    if (m_thread.joinable())
        m_thread.join();
}

void MixPreviewRender::stopMaking() {
    m_stop = 1;
    m_aheadStop = 1;
    // A pass that waits for the pass from a point, or that one for a pass
    // to begin, sees it at once.
    std::lock_guard lock(m_mutex);
    m_over.notify_all();
}

MixPreviewRender::Levels MixPreviewRender::levels() const {
    std::lock_guard lock(m_mutex);
    Levels shown = m_finished && m_result >= 0                 ? m_final
                   : m_sketchFinished && !m_sketch.mix.empty() ? m_sketch
                                                               : m_levels;
    shown.seamSeconds = m_seams;
    return shown;
}

MixPreviewRender::Levels MixPreviewRender::sketchLevels() const {
    std::lock_guard lock(m_mutex);
    Levels shown = m_sketch;
    shown.seamSeconds = m_seams;
    return shown;
}

bool MixPreviewRender::planning() const {
    std::lock_guard lock(m_mutex);
    return m_planning > 0;
}

std::string MixPreviewRender::planWarning() const {
    std::lock_guard lock(m_mutex);
    return m_planWarning;
}

int MixPreviewRender::applySettings(MixSettings &applied, std::shared_ptr<const PlannedMusic> &planned) {
    const MixPreviewInputs &inputs = *m_inputs;
    // A loudness target for the music becomes its level, as the run turns it.
    applied = m_settings.musicLoudnessLufs ? withMeasuredLoudness(m_settings, inputs.musicLoudnessLufs) : m_settings;
    if (!MixPreviewPlanner::needsPlan(applied))
        return 0;
    {
        std::lock_guard lock(m_mutex);
        ++m_planning;
        ++m_changes;
    }
    std::shared_ptr<const MixPreviewPlan> plan;
    std::string error;
    const int result = m_planner->planFor(applied, m_stop, plan, error);
    std::lock_guard lock(m_mutex);
    --m_planning;
    ++m_changes;
    if (result < 0) {
        if (result != AVERROR_EXIT)
            m_error = error.empty() ? "Could not plan the music" : error;
        return result;
    }
    // The plan gives the song's order; every other setting is the render's
    // own, a fade-out changed since the plan was made among them.
    planned = plan->planned;
    applied = MixPreviewPlanner::applied(applied, *plan);
    m_planWarning = plan->warning;
    m_seams.clear();
    for (double seconds : plan->seamSeconds)
        if (seconds + applied.delaySeconds < inputs.videoSeconds)
            m_seams.push_back(seconds + applied.delaySeconds);
    return 0;
}

void MixPreviewRender::hurrySound() {
    std::lock_guard lock(m_mutex);
    m_soundFirst = true;
    m_over.notify_all();
}

std::uint64_t MixPreviewRender::changes() const {
    std::lock_guard lock(m_mutex);
    return m_changes;
}

bool MixPreviewRender::sketchFinished() const {
    std::lock_guard lock(m_mutex);
    return m_sketchFinished;
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
    m_over.wait(lock, [this] { return m_finished && m_sketchFinished; });
}

std::int64_t MixPreviewRender::readMixed(std::int64_t fromSample, std::int64_t count, std::int16_t *into) const {
    std::lock_guard lock(m_mutex);
    // The pass under way where it got, then the pass from a point, then
    // what an earlier pass left.
    std::int64_t copied = 0;
    while (copied < count) {
        const std::int64_t at = fromSample + copied, wanted = count - copied;
        std::int64_t frames = std::clamp<std::int64_t>(m_done - at, 0, wanted);
        if (frames == 0) {
            if (const std::int64_t ahead = copyAhead(at, wanted, into + copied * 2); ahead > 0) {
                copied += ahead;
                continue;
            }
            // An earlier pass's, up to where the pass from a point has it.
            frames = std::clamp<std::int64_t>(m_readable - at, 0, wanted);
            if (m_ahead && at < m_aheadFrom)
                frames = std::min(frames, m_aheadFrom - at);
        }
        if (frames <= 0)
            break;
        std::copy_n(m_mixed.get() + at * 2, frames * 2, into + copied * 2);
        copied += frames;
    }
    return copied;
}

std::int64_t MixPreviewRender::copyAhead(std::int64_t fromSample, std::int64_t count, std::int16_t *into) const {
    if (!m_ahead || fromSample < m_aheadFrom)
        return 0;
    const std::int64_t frames = std::clamp<std::int64_t>(m_aheadFrom + m_aheadDone - fromSample, 0, count);
    if (frames > 0)
        std::copy_n(m_ahead.get() + (fromSample - m_aheadFrom) * 2, frames * 2, into);
    return frames;
}

std::int64_t MixPreviewRender::readAhead(std::int64_t fromSample, std::int64_t count, std::int16_t *into) const {
    std::lock_guard lock(m_mutex);
    return copyAhead(fromSample, count, into);
}

int MixPreviewRender::appendBlock(const Block &block, Meter &meter, bool keepSamples) {
    std::vector<float> music, mix;
    meter.interleaved.resize(std::size_t(block.samples) * 2);
    std::vector<std::int16_t> mixed(keepSamples ? std::size_t(block.samples) * 2 : 0);
    for (int i = 0; i < block.samples; ++i) {
        const float left = block.mix[0][i], right = block.mix[1][i];
        meter.interleaved[2 * i] = left;
        meter.interleaved[2 * i + 1] = right;
        if (keepSamples) {
            mixed[2 * i] = toSample(left);
            mixed[2 * i + 1] = toSample(right);
        }
        meter.mixEnergy += (double(left) * left + double(right) * right) / 2;
        meter.bedEnergy += (double(block.bed[0][i]) * block.bed[0][i] + double(block.bed[1][i]) * block.bed[1][i]) / 2;
        if (++meter.inStep < meter.stepSamples)
            continue;
        mix.push_back(static_cast<float>(std::sqrt(meter.mixEnergy / meter.stepSamples)));
        music.push_back(static_cast<float>(std::sqrt(meter.bedEnergy / meter.stepSamples)));
        meter.mixEnergy = meter.bedEnergy = 0;
        meter.inStep = 0;
    }
    // The loudness meter sees the whole block; it is read once per step taken.
    if (meter.loudness && ebur128_add_frames_float(meter.loudness.get(), meter.interleaved.data(),
                                                   std::size_t(block.samples)) != EBUR128_SUCCESS)
        return AVERROR(ENOMEM);
    // The mix's own levels and samples are read while they are made; a
    // sketch's are shown once whole.
    Levels &made = keepSamples ? m_levels : meter.made;
    std::unique_lock lock(m_mutex, std::defer_lock);
    if (keepSamples)
        lock.lock();
    for (std::size_t i = 0; i < mix.size(); ++i) {
        const std::size_t step = made.mix.size();
        if (step % kStepsPerLoudness == 0 && meter.loudness) {
            double lufs = -70;
            if (ebur128_loudness_momentary(meter.loudness.get(), &lufs) == EBUR128_SUCCESS && std::isfinite(lufs))
                meter.lastLoudness = static_cast<float>(std::max(lufs, -70.0));
            else
                meter.lastLoudness = -70;
        }
        made.mix.push_back(mix[i]);
        made.music.push_back(music[i]);
        made.loudness.push_back(meter.lastLoudness);
    }
    if (keepSamples) {
        std::copy(mixed.begin(), mixed.end(), m_mixed.get() + m_done * 2);
        m_done += block.samples;
        m_readable = std::max(m_readable, m_done);
        ++m_changes;
        // What is played goes first: the pass from a point has the cores
        // until it is its lead ahead of the point (or at the end).
        const std::int64_t lead = std::min<std::int64_t>(kAheadLeadSamples, m_inputs->videoSamples() - m_aheadFrom);
        m_over.wait(lock, [&] { return !m_aheadMaking || m_aheadDone >= lead || m_stop.load(); });
    }
    return 0;
}

namespace {

// Where a pass's two inputs come from, a chunk at a time, and where what the
// graphs make goes.
struct PassPlan {
    int rate;
    std::int64_t total;
    bool ownSound;
    std::function<int(std::int64_t from, int count, FramePtr &frame)> own;
    std::function<int(std::int64_t from, int count, FramePtr &frame)> music;
    LoudnessMeter *whole; // hears every frame of the mix, when given
    std::function<int(const float *const mix[2], const float *const bed[2], int count)> take;
    // Where the pass starts (a multiple of kMixChunkSamples), and whether
    // the music as laid is made beside the mix (else take gets the mix twice).
    std::int64_t from = 0;
    bool withBed = true;
};

// Moves every frame the sink has ready into the FIFO, and to the meter.
int drainSink(AVFilterContext *sink, AVFrame *frame, AudioFifoPtr &fifo, LoudnessMeter *meter) {
    for (;;) {
        int result = av_buffersink_get_frame(sink, frame);
        if (isAgainOrEnd(result))
            return 0;
        if (result < 0)
            return result;
        result = appendToFifo(fifo, frame);
        if (result >= 0 && meter)
            result = meter->add(frame);
        av_frame_unref(frame);
        if (result < 0)
            return result;
    }
}

// Runs the graphs built in mixRun (the mix) and bedRun (the music as laid,
// with own sound) over the whole video, as the run hands its graph chunks.
int runGraphs(MixRun &mixRun, MixRun &bedRun, const PassPlan &plan, const std::atomic<std::uint8_t> &stop) {
    const bool ownSound = plan.ownSound;
    const bool withBed = ownSound && plan.withBed;
    // Whether the bed's sink is fed by a graph of its own.
    const bool bedGraph = withBed && bedRun.firstSource;
    FramePtr sinkFrame(av_frame_alloc());
    if (!sinkFrame)
        return AVERROR(ENOMEM);
    AudioFifoPtr mixOut, bedOut;
    std::int64_t handed = plan.from;
    std::vector<float> planes[4];
    // Hands on what both graphs have made, as far as both have it.
    const auto handOn = [&]() {
        int ready = mixOut ? av_audio_fifo_size(mixOut.get()) : 0;
        if (withBed)
            ready = std::min(ready, bedOut ? av_audio_fifo_size(bedOut.get()) : 0);
        ready = static_cast<int>(std::min<std::int64_t>(ready, plan.total - handed));
        if (ready <= 0)
            return 0;
        for (std::vector<float> &plane : planes)
            plane.resize(std::size_t(ready));
        void *mixPlanes[2] = {planes[0].data(), planes[1].data()};
        void *bedPlanes[2] = {planes[2].data(), planes[3].data()};
        if (av_audio_fifo_read(mixOut.get(), mixPlanes, ready) < ready)
            return AVERROR_BUG;
        if (withBed && av_audio_fifo_read(bedOut.get(), bedPlanes, ready) < ready)
            return AVERROR_BUG;
        handed += ready;
        const int bed = withBed ? 2 : 0;
        const float *const mix[2] = {planes[0].data(), planes[1].data()};
        const float *const laid[2] = {planes[bed].data(), planes[bed + 1].data()};
        return plan.take(mix, laid, ready);
    };
    const auto drain = [&]() {
        int step = drainSink(mixRun.sinkFilter, sinkFrame.get(), mixOut, plan.whole);
        if (step >= 0 && withBed)
            step = drainSink(bedRun.sinkFilter, sinkFrame.get(), bedOut, nullptr);
        return step < 0 ? step : handOn();
    };
    // A frame to a source of each graph: the mix's takes it, the bed's a copy.
    const auto pushToBoth = [&](AVFilterContext *mixSource, AVFilterContext *bedSource, FramePtr &frame) {
        if (!bedGraph)
            return pushToSource(mixRun, mixSource, frame.get());
        FramePtr copy(frame ? av_frame_clone(frame.get()) : nullptr);
        if (!copy)
            return AVERROR(ENOMEM);
        const int step = pushToSource(bedRun, bedSource, copy.get());
        return step < 0 ? step : pushToSource(mixRun, mixSource, frame.get());
    };
    int result = 0;
    // The chunks the run hands its graph: the own sound and as much music.
    for (std::int64_t position = plan.from; result >= 0 && position < plan.total; position += kMixChunkSamples) {
        if (stop.load())
            return AVERROR_EXIT;
        const int chunk = static_cast<int>(std::min<std::int64_t>(kMixChunkSamples, plan.total - position));
        FramePtr music, own;
        result = plan.music(position, chunk, music);
        if (result >= 0 && ownSound) {
            result = plan.own(position, chunk, own);
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
    return result;
}

// Builds the mix graph and, with own sound and withBed, the music as laid
// beside it; a video without sound gets the music alone, which is both.
int buildGraphs(MixRun &mixRun, MixRun &bedRun, const MixSettings &applied, double videoSeconds, bool ownSound,
                int rate, bool withBed = true) {
    if (!ownSound)
        return buildSingleInputGraph(mixRun, musicGraphDescription(applied, videoSeconds, rate).c_str(), rate);
    if (withBed) {
        // With ducking one graph makes both, its envelope made once; the bed
        // has a sink in it and no graph of its own.
        if (const std::string both = mixAndLaidGraphDescription(applied, videoSeconds, rate); !both.empty())
            return buildMixAndLaidGraph(mixRun, both.c_str(), bedRun.sinkFilter, rate);
    }
    int result = buildMixGraph(mixRun, mixGraphDescription(applied, videoSeconds, rate).c_str(), rate);
    if (result >= 0 && withBed)
        result = buildMixGraph(bedRun, musicBedGraphDescription(applied, videoSeconds, rate).c_str(), rate);
    return result;
}

std::string failureText(const MixJob &job, int result) {
    if (!job.result.errorMessage.empty())
        return job.result.errorMessage;
    char words[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(result, words, sizeof words);
    return std::string("Could not make the preview: ") + words;
}

} // namespace

// One pass of the mix itself at 44100 Hz, its samples kept for Play.
int MixPreviewRender::renderPass(const MixSettings &applied, const std::shared_ptr<const PlannedMusic> &planned,
                                 std::optional<double> gainDb, LoudnessMeter *whole) {
    const MixPreviewInputs &inputs = *m_inputs;
    MixSettings settings = applied;
    settings.wholeMixGainDb = gainDb;
    MixJob job;
    job.request.videoPath = inputs.videoPath;
    job.request.musicPath = inputs.musicPath;
    MixRun mixRun(job);
    MixRun bedRun(job); // its graph only
    Meter meter(kPreviewSampleRate);
    {
        std::unique_lock lock(m_mutex);
        m_done = 0; // the samples beyond stay readable until this pass gets there
        m_levels = Levels{};
        m_passSettings = settings;
        m_passPlanned = planned;
        m_over.notify_all();
        // A pass from a point that waits for this one starts first.
        m_over.wait(lock, [&] { return !m_aheadWaiting || !aheadTakes(settings) || m_stop.load(); });
    }
    int result = openMusicInput(mixRun);
    if (result >= 0) {
        mixRun.musicFeed = std::make_unique<MusicFeed>(mixRun.musicInput.get(), mixRun.musicStreamIndex,
                                                       mixRun.musicDecoder.get(), settings, &m_stop);
        if (planned)
            mixRun.musicFeed->playPlanned(planned);
        result = buildGraphs(mixRun, bedRun, settings, inputs.videoSeconds, inputs.hasOwnSound, kPreviewSampleRate);
    }
    PassPlan plan{kPreviewSampleRate,
                  inputs.videoSamples(),
                  inputs.hasOwnSound,
                  [&](std::int64_t from, int count, FramePtr &frame) {
                      return ownSoundFrame(mixRun, inputs, from, count, frame);
                  },
                  [&](std::int64_t from, int count, FramePtr &frame) {
                      const int step = readNextMusicFrame(mixRun, mixRun.musicFifo, count);
                      return step < 0 ? step : takeFifoFrame(mixRun, mixRun.musicFifo.get(), count, from, frame);
                  },
                  whole,
                  [&](const float *const mix[2], const float *const bed[2], int count) {
                      return appendBlock(Block{{mix[0], mix[1]}, {bed[0], bed[1]}, count}, meter, true);
                  }};
    if (result >= 0)
        result = runGraphs(mixRun, bedRun, plan, m_stop);
    if (result < 0 && result != AVERROR_EXIT) {
        std::lock_guard lock(m_mutex);
        m_error = failureText(job, result);
    }
    return result;
}

void MixPreviewRender::playFrom(std::int64_t sample) {
    hurrySound();
    if (m_stop.load())
        return;
    if (m_aheadThread.joinable()) {
        m_aheadStop = 1;
        {
            std::lock_guard lock(m_mutex);
            m_over.notify_all();
        }
        m_aheadThread.join();
    }
    {
        std::lock_guard lock(m_mutex);
        // Played at once from what the pass under way has made.
        if (sample < 0 || sample >= m_inputs->videoSamples() || sample < m_done || (m_finished && m_result >= 0))
            return;
        m_ahead.reset();
        m_aheadFrom = sample;
        m_aheadDone = 0;
        m_aheadWaiting = true;
    }
    m_aheadStop = 0;
    m_aheadThread = std::thread(&MixPreviewRender::runAhead, this, sample);
}

bool MixPreviewRender::aheadTakes(const MixSettings &settings) {
    // With a loudness target: a pass made with the gain a measurement found.
    return !settings.loudnessLufs || settings.wholeMixGainDb;
}

void MixPreviewRender::runAhead(std::int64_t point) {
    MixSettings settings;
    std::shared_ptr<const PlannedMusic> planned;
    bool going = false;
    {
        // The pass under way, once there is one it makes the same mix as.
        std::unique_lock lock(m_mutex);
        m_over.wait(lock, [this] {
            return m_aheadStop.load() || m_finished || (m_passSettings && aheadTakes(*m_passSettings));
        });
        going = !m_aheadStop.load() && !m_finished;
        if (going) {
            settings = *m_passSettings;
            planned = m_passPlanned;
        }
    }
    const int result = going ? makeAhead(point, settings, planned) : 0;
    std::lock_guard lock(m_mutex);
    m_aheadMaking = false;
    m_aheadWaiting = false;
    if (result < 0 && result != AVERROR_EXIT && m_error.empty())
        m_error = "Could not make the mix from the chosen point";
    m_over.notify_all();
}

// The mix from a little before the point, by the pass's own feed (its
// samples kept by the sketch, else decoded up to there) and graph.
int MixPreviewRender::makeAhead(std::int64_t point, const MixSettings &settings,
                                const std::shared_ptr<const PlannedMusic> &planned) {
    const MixPreviewInputs &inputs = *m_inputs;
    const std::int64_t total = inputs.videoSamples();
    const std::int64_t warmUp = secondsToSamples(kAheadWarmUpSeconds + settings.delaySeconds);
    const std::int64_t from = std::max<std::int64_t>(0, point - warmUp) / kAheadAlignment * kAheadAlignment;
    std::shared_ptr<const MixPreviewInputs::SketchSources::Music> kept;
    // The sketch looks at its sources for a moment; while it makes them,
    // the feed's samples are no nearer than decoding.
    for (MixPreviewInputs::SketchSources *sources = inputs.sketchSources.get(); sources && !sources->making;
         std::this_thread::yield()) {
        if (sources->mutex.try_lock()) {
            kept = sources->music;
            sources->mutex.unlock();
            break;
        }
    }
    if (kept && (!(kept->shaping == musicShaping(settings)) || kept->planned != planned ||
                 std::int64_t(kept->fullLeft.size()) < total))
        kept.reset();
    {
        std::lock_guard lock(m_mutex);
        // The mix from the start is as near: nothing to gain.
        m_aheadWaiting = false;
        m_over.notify_all();
        if (from <= m_done)
            return 0;
        m_ahead.reset(new std::int16_t[std::size_t(total - point) * 2]);
        m_aheadMaking = true;
    }
    MixJob job;
    job.request.videoPath = inputs.videoPath;
    job.request.musicPath = inputs.musicPath;
    MixRun mixRun(job), bedRun(job);
    int result = 0;
    if (!kept) {
        result = openMusicInput(mixRun);
        if (result >= 0) {
            mixRun.musicFeed = std::make_unique<MusicFeed>(mixRun.musicInput.get(), mixRun.musicStreamIndex,
                                                           mixRun.musicDecoder.get(), settings, &m_aheadStop);
            if (planned)
                mixRun.musicFeed->playPlanned(planned);
        }
        // The feed's samples before the start, read and dropped.
        for (std::int64_t skipped = 0; result >= 0 && skipped < from;) {
            const int piece = int(std::min<std::int64_t>(1 << 15, from - skipped));
            result = readNextMusicFrame(mixRun, mixRun.musicFifo, piece);
            if (result >= 0)
                result = av_audio_fifo_drain(mixRun.musicFifo.get(), piece);
            skipped += piece;
        }
    }
    if (result >= 0)
        result =
            buildGraphs(mixRun, bedRun, settings, inputs.videoSeconds, inputs.hasOwnSound, kPreviewSampleRate, false);
    PassPlan plan{
        kPreviewSampleRate,
        total,
        inputs.hasOwnSound,
        [&](std::int64_t at, int count, FramePtr &frame) { return ownSoundFrame(mixRun, inputs, at, count, frame); },
        [&](std::int64_t at, int count, FramePtr &frame) {
            if (!kept) {
                const int step = readNextMusicFrame(mixRun, mixRun.musicFifo, count);
                return step < 0 ? step : takeFifoFrame(mixRun, mixRun.musicFifo.get(), count, at, frame);
            }
            const int step = allocEncoderFrame(mixRun, frame, count);
            if (step < 0)
                return step;
            std::copy_n(kept->fullLeft.data() + at, count, reinterpret_cast<float *>(frame->data[0]));
            std::copy_n(kept->fullRight.data() + at, count, reinterpret_cast<float *>(frame->data[1]));
            frame->pts = at;
            return 0;
        },
        nullptr,
        [&, at = from](const float *const mix[2], const float *const *, int count) mutable {
            const std::int64_t first = std::max<std::int64_t>(at, point);
            const std::int64_t end = at + count;
            at = end;
            if (end <= point)
                return 0;
            std::lock_guard lock(m_mutex);
            // The mix from the start got here: it has the rest.
            if (m_done >= point + m_aheadDone)
                return AVERROR_EXIT;
            std::int16_t *into = m_ahead.get() + (first - point) * 2;
            for (std::int64_t i = first - (end - count); i < count; ++i) {
                *into++ = toSample(mix[0][i]);
                *into++ = toSample(mix[1][i]);
            }
            m_aheadDone = end - point;
            m_over.notify_all();
            return 0;
        },
        from,
        false};
    if (result >= 0)
        result = runGraphs(mixRun, bedRun, plan, m_aheadStop);
    return result;
}

void MixPreviewRender::run() {
    const MixPreviewInputs &inputs = *m_inputs;
    {
        // The sketch, a fraction of the work, goes first: beside the mix on
        // two shared cores it took four times as long to show.
        std::unique_lock lock(m_mutex);
        m_over.wait(lock, [this] { return m_soundFirst || m_sketchFinished || m_stop.load(); });
        // Left unset: only what a pass made is ever read.
        m_mixed.reset(new std::int16_t[std::size_t(inputs.videoSamples()) * 2]);
    }
    MixSettings applied;
    std::shared_ptr<const PlannedMusic> planned;
    int result = applySettings(applied, planned);
    Levels loudness; // what the target came to
    if (result < 0) {
        // the plan failed or the render was stopped while it waited
    } else if (!applied.loudnessLufs) {
        result = renderPass(applied, planned, std::nullopt, nullptr);
    } else {
        // The run's own search, each of its passes a whole mix made here; the
        // gain it ends on is made once more unless its last pass had it.
        std::optional<double> lastGain;
        bool rendered = false;
        const auto pass = [&](std::optional<double> gainDb, LoudnessMeter &measure, int) {
            const int step = renderPass(applied, planned, gainDb, &measure);
            lastGain = gainDb;
            rendered = true;
            if (gainDb)
                loudness.reachedLufs = measure.integrated();
            return step;
        };
        WholeMixGain found;
        result = searchWholeMixGain(applied, pass, found);
        if (result >= 0 && (!rendered || lastGain != found.gain)) {
            LoudnessMeter reached;
            result = renderPass(applied, planned, found.gain, &reached);
            loudness.reachedLufs = reached.integrated();
        }
        loudness.targetLufs = applied.loudnessLufs;
        loudness.measuredLufs = found.measuredLufs;
        loudness.gainDb = found.gain;
    }
    std::lock_guard lock(m_mutex);
    m_result = result;
    if (result >= 0) {
        m_final = m_levels;
        m_final.targetLufs = loudness.targetLufs;
        m_final.measuredLufs = loudness.measuredLufs;
        m_final.gainDb = loudness.gainDb;
        m_final.reachedLufs = loudness.reachedLufs;
    }
    m_finished = true;
    ++m_changes;
    m_over.notify_all();
}

void MixPreviewRender::runSketch() {
    const MixPreviewInputs &inputs = *m_inputs;
    MixSettings applied;
    std::shared_ptr<const PlannedMusic> planned;
    int result = applySettings(applied, planned);
    const std::int64_t total = samplesAtRate(inputs.videoSeconds, kSketchSampleRate);
    // The sources, from the session's store when it has them.
    auto sources = inputs.sketchSources ? inputs.sketchSources : std::make_shared<MixPreviewInputs::SketchSources>();
    std::shared_ptr<const MixPreviewInputs::SketchSources::Music> music;
    if (result >= 0) {
        std::lock_guard lock(sources->mutex);
        struct Making {
            std::atomic<bool> &flag;
            ~Making() { flag = false; }
        } making{sources->making};
        if (!sources->ownMade && inputs.hasOwnSound) {
            sources->making = true;
            result = sketchOwnSound(inputs, sources->own, m_stop);
            sources->ownMade = result >= 0;
        }
        const MixSettings shaping = musicShaping(applied);
        if (result >= 0 &&
            (!sources->music || !(sources->music->shaping == shaping) || sources->music->planned != planned)) {
            sources->making = true;
            std::vector<std::vector<float>> made;
            auto kept = std::make_shared<MixPreviewInputs::SketchSources::Music>();
            std::vector<float> full[2];
            const bool keepFull = inputs.videoSeconds <= kLongestKeptFeedSeconds;
            if (keepFull)
                for (std::vector<float> &plane : full)
                    plane.reserve(std::size_t(inputs.videoSamples()));
            result = sketchMusic(inputs, shaping, planned, made, keepFull ? full : nullptr, m_stop);
            if (result >= 0) {
                kept->shaping = shaping;
                kept->planned = planned;
                kept->left = std::move(made[0]);
                kept->right = std::move(made[1]);
                kept->fullLeft = std::move(full[0]);
                kept->fullRight = std::move(full[1]);
                sources->music = std::move(kept);
            }
        }
        music = sources->music;
    }
    const std::vector<float> &own = sources->own; // made once, never changed after
    // A frame of the kept planes from a point, silence past their end.
    const auto frameOf = [](const float *left, const float *right, std::int64_t kept, std::int64_t from, int count,
                            FramePtr &frame) {
        const int step = planarFrame(kSketchSampleRate, count, from, frame);
        if (step < 0)
            return step;
        auto *outLeft = reinterpret_cast<float *>(frame->data[0]);
        auto *outRight = reinterpret_cast<float *>(frame->data[1]);
        for (int i = 0; i < count; ++i) {
            const std::int64_t at = from + i;
            outLeft[i] = at < kept ? left[at] : 0.0f;
            outRight[i] = at < kept ? right[at] : 0.0f;
        }
        return 0;
    };
    std::unique_ptr<Meter> last;
    const auto sketchPass = [&](std::optional<double> gainDb, LoudnessMeter *whole) {
        MixSettings settings = applied;
        settings.wholeMixGainDb = gainDb;
        MixJob job;
        MixRun mixRun(job), bedRun(job);
        last = std::make_unique<Meter>(kSketchSampleRate);
        int step = buildGraphs(mixRun, bedRun, settings, inputs.videoSeconds, inputs.hasOwnSound, kSketchSampleRate);
        PassPlan plan{kSketchSampleRate,
                      total,
                      inputs.hasOwnSound,
                      [&](std::int64_t from, int count, FramePtr &frame) {
                          return frameOf(own.data(), own.data(), std::int64_t(own.size()), from, count, frame);
                      },
                      [&](std::int64_t from, int count, FramePtr &frame) {
                          return frameOf(music->left.data(), music->right.data(), std::int64_t(music->left.size()),
                                         from, count, frame);
                      },
                      whole,
                      [&](const float *const mix[2], const float *const bed[2], int count) {
                          return appendBlock(Block{{mix[0], mix[1]}, {bed[0], bed[1]}, count}, *last, false);
                      }};
        if (step >= 0)
            step = runGraphs(mixRun, bedRun, plan, m_stop);
        return step;
    };
    if (result >= 0 && !applied.loudnessLufs) {
        result = sketchPass(std::nullopt, nullptr);
    } else if (result >= 0) {
        // The mix as it is, measured; the gain that brings it to the target
        // raises the mix's levels and loudness alike, the music as laid
        // lies before it. Where the limiter would hold peaks, the mix
        // itself shows it.
        LoudnessMeter measure;
        result = sketchPass(std::nullopt, &measure);
        if (result >= 0) {
            Levels &made = last->made;
            const double measured = measure.integrated().value_or(-70.0);
            const double gain = measured <= -70.0 ? 0.0 : loudnessGainDb(measured, *applied.loudnessLufs);
            const auto factor = static_cast<float>(decibelsToFactor(gain));
            for (float &level : made.mix)
                level *= factor;
            for (float &lufs : made.loudness)
                lufs = lufs <= -70 ? lufs : lufs + static_cast<float>(gain);
            made.targetLufs = applied.loudnessLufs;
            made.measuredLufs = measured;
            made.gainDb = gain;
            made.reachedLufs = measured + gain;
        }
    }
    std::lock_guard lock(m_mutex);
    if (result >= 0 && last) {
        m_sketch = std::move(last->made);
        m_sketch.sketch = true;
    }
    m_sketchFinished = true;
    ++m_changes;
    m_over.notify_all();
}

} // namespace melvora
