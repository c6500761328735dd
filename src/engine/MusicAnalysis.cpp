// The song beat by beat: aubio finds the beats, the frames' own spectra give
// the chroma, the cepstrum and the loudness; each beat's span gets the mean
// of its frames.

#include "engine/MusicFit.h"

// The beat tracker is assembled from aubio's own parts, some of which it
// counts as unstable.
#define AUBIO_UNSTABLE 1
#include <aubio/aubio.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <thread>

namespace melvora {
namespace {

// The song is analysed at half its rate (after a low-pass), which keeps
// every band the features look at (the mel bank ends near 7 kHz) at half
// the work; windows and hops are halved with it, so that beats and frames
// keep their length in seconds.
constexpr uint_t kWindow = 2048; // at the song's rate
constexpr uint_t kHop = 512;
constexpr uint_t kTempoWindow = 1024;
constexpr uint_t kFilters = 40;
constexpr int kLowestDecimatedRate = 16000;
// Stand-in beats for music without a beat.
constexpr double kGridSeconds = 0.5;
// A beat is taken when it comes steadily: most intervals within a fifth of
// their median, and enough of them.
constexpr std::size_t kFewestBeats = 16;
constexpr double kSteadyShare = 0.7;
// How many hops pass between two looks at the stop flag.
constexpr std::size_t kStopLookHops = 256;

using StopFlag = const std::atomic<std::uint8_t> *;
bool stopped(StopFlag stop) {
    return stop && stop->load(std::memory_order_relaxed) != 0;
}

struct AubioDeleter {
    void operator()(fvec_t *p) const { del_fvec(p); }
    void operator()(cvec_t *p) const { del_cvec(p); }
    void operator()(aubio_fft_t *p) const { del_aubio_fft(p); }
    void operator()(aubio_filterbank_t *p) const { del_aubio_filterbank(p); }
    void operator()(aubio_specdesc_t *p) const { del_aubio_specdesc(p); }
    void operator()(aubio_peakpicker_t *p) const { del_aubio_peakpicker(p); }
    void operator()(aubio_beattracking_t *p) const { del_aubio_beattracking(p); }
};
template <typename T> using AubioPtr = std::unique_ptr<T, AubioDeleter>;

void fillHop(fvec_t *hop, const float *mono, std::size_t count, std::size_t at) {
    for (uint_t i = 0; i < hop->length; ++i)
        hop->data[i] = at + i < count ? mono[at + i] : 0.0f;
}

// A half-band low-pass (Blackman-windowed sinc, 63 taps: flat to about
// 9 kHz at 44.1 kHz, 70 dB down from 13 kHz), every other output kept.
constexpr int kHalfBandReach = 31;
// out holds count / 2 samples.
void halveRate(const float *in, std::size_t count, float *out) {
    static const std::array<float, (kHalfBandReach + 1) / 2> taps = [] {
        std::array<float, (kHalfBandReach + 1) / 2> odd{};
        for (int k = 0; k < int(odd.size()); ++k) {
            const int n = 2 * k + 1;
            const double x = std::numbers::pi * n / 2;
            const double w = 0.42 + 0.5 * std::cos(std::numbers::pi * n / (kHalfBandReach + 1)) +
                             0.08 * std::cos(2 * std::numbers::pi * n / (kHalfBandReach + 1));
            odd[std::size_t(k)] = float(0.5 * std::sin(x) / x * w);
        }
        return odd;
    }();
    const auto at = [&](std::ptrdiff_t i) { return i >= 0 && std::size_t(i) < count ? in[i] : 0.0f; };
    for (std::size_t m = 0; m < count / 2; ++m) {
        const auto centre = std::ptrdiff_t(2 * m);
        float sum = 0.5f * in[centre];
        if (centre >= kHalfBandReach && std::size_t(centre + kHalfBandReach) < count) {
            for (std::size_t k = 0; k < taps.size(); ++k) {
                const auto n = std::ptrdiff_t(2 * k + 1);
                sum += taps[k] * (in[centre - n] + in[centre + n]);
            }
        } else {
            for (std::size_t k = 0; k < taps.size(); ++k) {
                const auto n = std::ptrdiff_t(2 * k + 1);
                sum += taps[k] * (at(centre - n) + at(centre + n));
            }
        }
        out[m] = sum;
    }
}

// aubio's tempo tracker (its spectral-flux onsets, peak picker and beat
// tracking, in the order its own loop takes them), with the spectrum's
// magnitudes taken without its phases, which the onsets do not use.
class BeatTracker {
public:
    explicit BeatTracker(int rate)
        : m_length(std::max<uint_t>(4, aubio_next_power_of_two(uint_t(5.8 * double(rate) / kHop)))),
          m_step(m_length / 4), m_buffer(kTempoWindow, 0.0f), m_fft(new_aubio_fft(kTempoWindow)),
          m_window(new_aubio_window(const_cast<char_t *>("hanningz"), kTempoWindow)), m_frame(new_fvec(kTempoWindow)),
          m_complex(new_fvec(kTempoWindow)), m_spectrum(new_cvec(kTempoWindow)),
          m_flux(new_aubio_specdesc("specflux", kTempoWindow)), m_picker(new_aubio_peakpicker()),
          m_tracker(new_aubio_beattracking(m_length, kHop, uint_t(rate))), m_onsetValue(new_fvec(1)), m_onset(new_fvec(1)),
          m_detection(new_fvec(m_length)), m_candidates(new_fvec(m_step)) {
        if (m_picker)
            aubio_peakpicker_set_threshold(m_picker.get(), smpl_t(0.3));
    }
    bool ready() const {
        return m_fft && m_window && m_frame && m_complex && m_spectrum && m_flux && m_picker && m_tracker &&
               m_onsetValue && m_onset && m_detection && m_candidates;
    }
    // One hop; true with beat set when a beat was found.
    bool push(const fvec_t *hop, std::int64_t &beat) {
        std::copy(m_buffer.begin() + kHop, m_buffer.end(), m_buffer.begin());
        std::copy_n(hop->data, kHop, m_buffer.end() - kHop);
        for (uint_t i = 0; i < kTempoWindow; ++i)
            m_frame->data[i] = m_buffer[i] * m_window->data[i];
        fvec_shift(m_frame.get());
        aubio_fft_do_complex(m_fft.get(), m_frame.get(), m_complex.get());
        const smpl_t *x = m_complex->data;
        smpl_t *norm = m_spectrum->norm;
        norm[0] = std::abs(x[0]);
        for (uint_t i = 1; i + 1 < m_spectrum->length; ++i)
            norm[i] = std::sqrt(x[i] * x[i] + x[kTempoWindow - i] * x[kTempoWindow - i]);
        norm[m_spectrum->length - 1] = std::abs(x[kTempoWindow / 2]);
        aubio_specdesc_do(m_flux.get(), m_spectrum.get(), m_onsetValue.get());
        if (m_position == std::int64_t(m_step) - 1) {
            aubio_beattracking_do(m_tracker.get(), m_detection.get(), m_candidates.get());
            smpl_t *detection = m_detection->data;
            std::copy(detection + m_step, detection + m_length, detection);
            std::fill(detection + m_length - m_step, detection + m_length, smpl_t(0));
            m_position = -1;
        }
        ++m_position;
        aubio_peakpicker_do(m_picker.get(), m_onsetValue.get(), m_onset.get());
        m_detection->data[m_length - m_step + uint_t(m_position)] =
            aubio_peakpicker_get_thresholded_input(m_picker.get())->data[0];
        smpl_t tactus = 0;
        for (uint_t i = 1; smpl_t(i) < m_candidates->data[0]; ++i) {
            const smpl_t candidate = m_candidates->data[i];
            if (smpl_t(m_position) == std::floor(candidate)) {
                tactus = candidate - std::floor(candidate);
                if (aubio_silence_detection(hop, smpl_t(-90)) == 1)
                    tactus = 0;
                m_lastBeat = m_frames + std::int64_t(std::floor(tactus * smpl_t(kHop) + 0.5));
            }
        }
        m_frames += kHop;
        beat = m_lastBeat;
        return tactus != 0;
    }
    double bpm() const { return aubio_beattracking_get_bpm(m_tracker.get()); }

private:
    uint_t m_length; // onset values the beat tracking looks at (about 6 s)
    uint_t m_step;   // and how many of them it moves on at a time
    std::vector<float> m_buffer;
    AubioPtr<aubio_fft_t> m_fft;
    AubioPtr<fvec_t> m_window, m_frame, m_complex;
    AubioPtr<cvec_t> m_spectrum;
    AubioPtr<aubio_specdesc_t> m_flux;
    AubioPtr<aubio_peakpicker_t> m_picker;
    AubioPtr<aubio_beattracking_t> m_tracker;
    AubioPtr<fvec_t> m_onsetValue, m_onset, m_detection, m_candidates;
    std::int64_t m_position = 0; // in the current step
    std::int64_t m_frames = 0;   // samples so far
    std::int64_t m_lastBeat = 0;
};

// Beat positions in samples, at the song's own rate.
std::vector<std::int64_t> trackBeats(const float *mono, std::size_t count, int rate, double &bpm, StopFlag stop) {
    std::vector<std::int64_t> beats;
    BeatTracker tracker(rate);
    AubioPtr<fvec_t> hop(new_fvec(kHop));
    if (!tracker.ready() || !hop)
        return beats;
    for (std::size_t at = 0, n = 0; at < count; at += kHop, ++n) {
        if (n % kStopLookHops == 0 && stopped(stop))
            return {};
        fillHop(hop.get(), mono, count, at);
        std::int64_t beat = 0;
        if (tracker.push(hop.get(), beat) && beat > 0 && beat < std::int64_t(count) &&
            (beats.empty() || beat > beats.back()))
            beats.push_back(beat);
    }
    bpm = tracker.bpm();
    return beats;
}

bool steady(const std::vector<std::int64_t> &beats) {
    if (beats.size() < kFewestBeats)
        return false;
    std::vector<std::int64_t> intervals;
    for (std::size_t i = 1; i < beats.size(); ++i)
        intervals.push_back(beats[i] - beats[i - 1]);
    std::vector<std::int64_t> sorted = intervals;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double median = double(sorted[sorted.size() / 2]);
    const auto close = std::count_if(intervals.begin(), intervals.end(),
                                     [median](std::int64_t d) { return std::abs(double(d) - median) < 0.2 * median; });
    return double(close) >= kSteadyShare * double(intervals.size());
}

// Pitch class of each spectrum bin, -1 outside the range where notes are told apart.
std::vector<int> pitchClassOfBins(int rate, uint_t window) {
    std::vector<int> classes(window / 2 + 1, -1);
    for (uint_t bin = 1; bin < classes.size(); ++bin) {
        const double frequency = double(bin) * rate / window;
        if (frequency < 80 || frequency > 5000)
            continue;
        const long note = std::lround(12 * std::log2(frequency / 440.0)) + 69;
        classes[bin] = int(((note % 12) + 12) % 12);
    }
    return classes;
}

double cosineDistance(const float *a, const float *b, int n) {
    double ab = 0, aa = 0, bb = 0;
    for (int i = 0; i < n; ++i) {
        ab += double(a[i]) * b[i];
        aa += double(a[i]) * a[i];
        bb += double(b[i]) * b[i];
    }
    if (aa <= 1e-20 && bb <= 1e-20)
        return 0; // both silent
    if (aa <= 1e-20 || bb <= 1e-20)
        return 1;
    return std::clamp(1 - ab / std::sqrt(aa * bb), 0.0, 1.0);
}

// Beats to a bar, from where the sound changes: chords change on the
// downbeat, so the change into each beat, gathered by its place in a bar of
// 2, 3 or 4 beats, stands out at one place for the right bar (4 unless
// another stands out clearly more); that place is the downbeat.
void findBars(MusicAnalysis &analysis) {
    const auto spans = int(analysis.features.size());
    analysis.barBeats = analysis.beatUsable ? 4 : 1;
    analysis.firstDownbeat = 0;
    if (!analysis.beatUsable || spans < 24)
        return;
    std::vector<double> change(std::size_t(spans), 0.0);
    double mean = 0;
    for (int i = 1; i < spans; ++i)
        mean += change[std::size_t(i)] = analysis.beatDistance(i - 1, i);
    mean /= spans - 1;
    // How far the most changing place in the bar stands above the mean, and where it is.
    const auto strongest = [&](int bar) {
        std::vector<double> sum(std::size_t(bar), 0.0), count(std::size_t(bar), 0.0);
        for (int i = 1; i < spans; ++i)
            sum[std::size_t(i % bar)] += change[std::size_t(i)], ++count[std::size_t(i % bar)];
        int best = 0;
        for (int p = 1; p < bar; ++p)
            if (sum[std::size_t(p)] / count[std::size_t(p)] > sum[std::size_t(best)] / count[std::size_t(best)])
                best = p;
        return std::pair{sum[std::size_t(best)] / count[std::size_t(best)] - mean, best};
    };
    auto [contrast, downbeat] = strongest(4);
    for (int bar : {3, 2}) {
        const auto [other, at] = strongest(bar);
        if (other > 1.25 * contrast) {
            analysis.barBeats = bar;
            contrast = other, downbeat = at;
        }
    }
    analysis.firstDownbeat = downbeat;
}

} // namespace

double MusicAnalysis::beatDistance(std::size_t a, std::size_t b) const {
    const Features &x = features[a];
    const Features &y = features[b];
    const double chroma = cosineDistance(x.data(), y.data(), kChroma);
    const double timbre = cosineDistance(x.data() + kChroma, y.data() + kChroma, kTimbre);
    const double loudness = std::min(1.0, std::abs(double(x[kChroma + kTimbre]) - y[kChroma + kTimbre]) / 12);
    if (!beatUsable)
        return 0.75 * timbre + 0.25 * loudness;
    return 0.45 * chroma + 0.4 * timbre + 0.15 * loudness;
}

double MusicAnalysis::noveltyPercentile(double fraction) const {
    std::vector<double> novelty;
    for (std::size_t i = 1; i < features.size(); ++i)
        novelty.push_back(beatDistance(i - 1, i));
    if (novelty.empty())
        return 0;
    const std::size_t at = std::min(novelty.size() - 1, std::size_t(fraction * double(novelty.size())));
    std::nth_element(novelty.begin(), novelty.begin() + at, novelty.end());
    return novelty[at];
}

namespace {

// What one frame adds to its beat: the power of each pitch class, the
// cepstrum (coefficients 1 on) and the power of the whole frame.
using FrameFeatures = MusicAnalysis::Features;

// One triangle of the mel bank: its weights from bin first on.
struct MelFilter {
    uint_t first = 0;
    std::vector<float> weights;
};

// The frames' features of a signal at rate: each frame a window ending with
// its hop (zeros before the start), Hann-windowed; its power spectrum gives
// the chroma and the energy, its magnitudes through aubio's mel bank (each
// bin feeds only its triangles), their logarithm and a DCT give the
// cepstrum. No phases: nothing here looks at them.
bool frameFeatures(const float *mono, std::size_t count, int rate, uint_t window, uint_t hopLength,
                   std::vector<FrameFeatures> &frames, StopFlag stop) {
    AubioPtr<aubio_fft_t> fft(new_aubio_fft(window));
    AubioPtr<aubio_filterbank_t> bank(new_aubio_filterbank(kFilters, window));
    AubioPtr<fvec_t> windowed(new_fvec(window)), complex(new_fvec(window));
    if (!fft || !bank || !windowed || !complex ||
        aubio_filterbank_set_mel_coeffs_slaney(bank.get(), smpl_t(rate)) != 0)
        return false;
    const uint_t bins = window / 2 + 1;
    std::vector<MelFilter> filters(kFilters);
    const fmat_t *coefficients = aubio_filterbank_get_coeffs(bank.get());
    for (uint_t f = 0; f < kFilters; ++f) {
        const smpl_t *row = coefficients->data[f];
        uint_t first = 0, last = bins;
        while (first < bins && row[first] == 0)
            ++first;
        while (last > first && row[last - 1] == 0)
            --last;
        filters[f].first = first;
        filters[f].weights.assign(row + first, row + last);
    }
    std::vector<float> hann(window);
    for (uint_t i = 0; i < window; ++i)
        hann[i] = float(0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / window));
    // The DCT-II rows for the coefficients kept (its scale does not matter:
    // the cepstra are compared by their angle).
    std::vector<float> cosines(std::size_t(MusicAnalysis::kTimbre) * kFilters);
    for (int c = 0; c < MusicAnalysis::kTimbre; ++c)
        for (uint_t f = 0; f < kFilters; ++f)
            cosines[std::size_t(c) * kFilters + f] =
                float(std::sqrt(2.0 / kFilters) * std::cos(std::numbers::pi * (c + 1) * (2 * f + 1) / (2 * kFilters)));
    const std::vector<int> classes = pitchClassOfBins(rate, window);

    std::vector<float> power(bins), magnitude(bins), mel(kFilters);
    frames.assign((count + hopLength - 1) / hopLength, FrameFeatures{});
    for (std::size_t k = 0; k < frames.size(); ++k) {
        if (k % kStopLookHops == 0 && stopped(stop))
            return false;
        const auto end = std::ptrdiff_t(k * hopLength + hopLength);
        for (uint_t i = 0; i < window; ++i) {
            const std::ptrdiff_t at = end - std::ptrdiff_t(window) + std::ptrdiff_t(i);
            windowed->data[i] = at >= 0 && std::size_t(at) < count ? mono[at] * hann[i] : 0.0f;
        }
        aubio_fft_do_complex(fft.get(), windowed.get(), complex.get());
        // Real parts up to the middle, imaginary ones from the end backwards.
        const smpl_t *x = complex->data;
        power[0] = x[0] * x[0];
        power[bins - 1] = x[window / 2] * x[window / 2];
        for (uint_t bin = 1; bin + 1 < bins; ++bin)
            power[bin] = x[bin] * x[bin] + x[window - bin] * x[window - bin];
        for (uint_t bin = 0; bin < bins; ++bin)
            magnitude[bin] = std::sqrt(power[bin]);
        FrameFeatures &row = frames[k];
        double energy = 0;
        for (uint_t bin = 0; bin < bins; ++bin) {
            energy += power[bin];
            if (classes[bin] >= 0)
                row[std::size_t(classes[bin])] += power[bin];
        }
        for (uint_t f = 0; f < kFilters; ++f) {
            const MelFilter &filter = filters[f];
            float sum = 0;
            for (std::size_t i = 0; i < filter.weights.size(); ++i)
                sum += filter.weights[i] * magnitude[filter.first + i];
            mel[f] = std::log10(std::max(sum, 1e-10f));
        }
        for (int c = 0; c < MusicAnalysis::kTimbre; ++c) {
            float sum = 0;
            for (uint_t f = 0; f < kFilters; ++f)
                sum += cosines[std::size_t(c) * kFilters + f] * mel[f];
            row[std::size_t(MusicAnalysis::kChroma + c)] = sum;
        }
        // At the song's own rate and window the power comes out this much larger.
        row[MusicAnalysis::kChroma + MusicAnalysis::kTimbre] = float(energy * double(window) * double(window) /
                                                                     (double(kWindow) * double(kWindow)));
    }
    return true;
}

} // namespace

MusicAnalysis analyseMusic(const float *mono, std::size_t count, int sampleRate, const std::atomic<std::uint8_t> *stop) {
    MusicAnalysis analysis;
    analysis.sampleRate = sampleRate;
    analysis.length = std::int64_t(count);
    if (count < kWindow || sampleRate <= 0)
        return analysis;

    // The beats on one thread (at the song's rate), the frames on this one
    // (at half of it, low-passed).
    std::thread beatThread([&] { analysis.beats = trackBeats(mono, count, sampleRate, analysis.tempoBpm, stop); });
    const int factor = sampleRate / 2 >= kLowestDecimatedRate ? 2 : 1;
    std::vector<float> halved(factor == 2 ? count / 2 : 0);
    if (factor == 2)
        halveRate(mono, count, halved.data());
    const float *framed = factor == 2 ? halved.data() : mono;
    const auto hopLength = uint_t(kHop / factor), window = uint_t(kWindow / factor);
    std::vector<FrameFeatures> frames;
    const bool made =
        frameFeatures(framed, count / std::size_t(factor), sampleRate / factor, window, hopLength, frames, stop);
    beatThread.join();
    halved = {};
    if (!made || stopped(stop)) {
        analysis.beats.clear();
        return analysis;
    }
    analysis.beatUsable = steady(analysis.beats);
    if (!analysis.beatUsable) {
        analysis.beats.clear();
        const auto grid = std::int64_t(kGridSeconds * sampleRate);
        for (std::int64_t at = grid; at < analysis.length; at += grid)
            analysis.beats.push_back(at);
    }
    if (analysis.beats.size() < 2)
        return analysis;

    // Each frame belongs to the beat its centre lies in.
    const std::size_t spans = analysis.beats.size() - 1;
    std::vector<std::array<double, MusicAnalysis::kChroma + MusicAnalysis::kTimbre + 1>> sums(spans);
    std::vector<int> counted(spans, 0);
    std::size_t span = 0;
    for (std::size_t k = 0; k < frames.size(); ++k) {
        const std::int64_t centre =
            (std::int64_t(k * hopLength + hopLength) - std::int64_t(window / 2)) * factor;
        while (span < spans && centre >= analysis.beats[span + 1])
            ++span;
        if (span >= spans)
            break;
        if (centre < analysis.beats[span])
            continue;
        for (std::size_t f = 0; f < frames[k].size(); ++f)
            sums[span][f] += frames[k][f];
        ++counted[span];
    }

    analysis.features.resize(spans);
    for (std::size_t s = 0; s < spans; ++s) {
        MusicAnalysis::Features &row = analysis.features[s];
        const double n = std::max(counted[s], 1);
        double norm = 0;
        for (int c = 0; c < MusicAnalysis::kChroma; ++c)
            norm += sums[s][c] * sums[s][c];
        norm = std::sqrt(norm);
        for (int c = 0; c < MusicAnalysis::kChroma; ++c)
            row[c] = norm > 0 ? float(sums[s][c] / norm) : 0.0f;
        for (int c = 0; c < MusicAnalysis::kTimbre; ++c)
            row[MusicAnalysis::kChroma + c] = float(sums[s][MusicAnalysis::kChroma + c] / n);
        const double energy = sums[s][MusicAnalysis::kChroma + MusicAnalysis::kTimbre] / n;
        row[MusicAnalysis::kChroma + MusicAnalysis::kTimbre] = float(10 * std::log10(energy + 1e-10));
    }
    findBars(analysis);
    return analysis;
}

} // namespace melvora
