// The song beat by beat: aubio finds the beats and gives the spectrum and
// the cepstrum; each beat's span gets the mean of its frames.

#include "engine/MusicFit.h"

#include <aubio/aubio.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace melvora {
namespace {

constexpr uint_t kWindow = 2048;
constexpr uint_t kHop = 512;
constexpr uint_t kTempoWindow = 1024;
constexpr uint_t kFilters = 40;
constexpr uint_t kCoefficients = MusicAnalysis::kTimbre + 1; // the first, the level, is left out
// Stand-in beats for music without a beat.
constexpr double kGridSeconds = 0.5;
// A beat is taken when it comes steadily: most intervals within a fifth of
// their median, and enough of them.
constexpr std::size_t kFewestBeats = 16;
constexpr double kSteadyShare = 0.7;

struct AubioDeleter {
    void operator()(fvec_t *p) const { del_fvec(p); }
    void operator()(cvec_t *p) const { del_cvec(p); }
    void operator()(aubio_pvoc_t *p) const { del_aubio_pvoc(p); }
    void operator()(aubio_mfcc_t *p) const { del_aubio_mfcc(p); }
    void operator()(aubio_tempo_t *p) const { del_aubio_tempo(p); }
};
template <typename T> using AubioPtr = std::unique_ptr<T, AubioDeleter>;

void fillHop(fvec_t *hop, const float *mono, std::size_t count, std::size_t at) {
    for (uint_t i = 0; i < hop->length; ++i)
        hop->data[i] = at + i < count ? mono[at + i] : 0.0f;
}

std::vector<std::int64_t> trackBeats(const float *mono, std::size_t count, int rate, double &bpm) {
    std::vector<std::int64_t> beats;
    AubioPtr<aubio_tempo_t> tempo(new_aubio_tempo("default", kTempoWindow, kHop, static_cast<uint_t>(rate)));
    AubioPtr<fvec_t> hop(new_fvec(kHop));
    AubioPtr<fvec_t> out(new_fvec(1));
    if (!tempo || !hop || !out)
        return beats;
    for (std::size_t at = 0; at < count; at += kHop) {
        fillHop(hop.get(), mono, count, at);
        aubio_tempo_do(tempo.get(), hop.get(), out.get());
        if (out->data[0] != 0) {
            const std::int64_t beat = aubio_tempo_get_last(tempo.get());
            if (beat > 0 && beat < std::int64_t(count) && (beats.empty() || beat > beats.back()))
                beats.push_back(beat);
        }
    }
    bpm = aubio_tempo_get_bpm(tempo.get());
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
std::vector<int> pitchClassOfBins(int rate) {
    std::vector<int> classes(kWindow / 2 + 1, -1);
    for (uint_t bin = 1; bin < classes.size(); ++bin) {
        const double frequency = double(bin) * rate / kWindow;
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

MusicAnalysis analyseMusic(const float *mono, std::size_t count, int sampleRate) {
    MusicAnalysis analysis;
    analysis.sampleRate = sampleRate;
    analysis.length = std::int64_t(count);
    if (count < kWindow || sampleRate <= 0)
        return analysis;

    analysis.beats = trackBeats(mono, count, sampleRate, analysis.tempoBpm);
    analysis.beatUsable = steady(analysis.beats);
    if (!analysis.beatUsable) {
        analysis.beats.clear();
        const auto grid = std::int64_t(kGridSeconds * sampleRate);
        for (std::int64_t at = grid; at < analysis.length; at += grid)
            analysis.beats.push_back(at);
    }
    if (analysis.beats.size() < 2)
        return analysis;

    AubioPtr<aubio_pvoc_t> pvoc(new_aubio_pvoc(kWindow, kHop));
    AubioPtr<aubio_mfcc_t> mfcc(new_aubio_mfcc(kWindow, kFilters, kCoefficients, static_cast<uint_t>(sampleRate)));
    AubioPtr<fvec_t> hop(new_fvec(kHop));
    AubioPtr<cvec_t> spectrum(new_cvec(kWindow));
    AubioPtr<fvec_t> cepstrum(new_fvec(kCoefficients));
    if (!pvoc || !mfcc || !hop || !spectrum || !cepstrum)
        return analysis;
    const std::vector<int> classes = pitchClassOfBins(sampleRate);

    const std::size_t spans = analysis.beats.size() - 1;
    std::vector<std::array<double, MusicAnalysis::kChroma + MusicAnalysis::kTimbre + 1>> sums(spans);
    std::vector<int> frames(spans, 0);
    std::size_t span = 0;
    for (std::size_t at = 0; at < count; at += kHop) {
        fillHop(hop.get(), mono, count, at);
        aubio_pvoc_do(pvoc.get(), hop.get(), spectrum.get());
        // The frame's window ends with this hop; it belongs to the beat its centre lies in.
        const std::int64_t centre = std::int64_t(at + kHop) - std::int64_t(kWindow / 2);
        while (span < spans && centre >= analysis.beats[span + 1])
            ++span;
        if (span >= spans)
            break;
        if (centre < analysis.beats[span])
            continue;
        aubio_mfcc_do(mfcc.get(), spectrum.get(), cepstrum.get());
        auto &sum = sums[span];
        double energy = 0;
        for (uint_t bin = 0; bin < spectrum->length; ++bin) {
            const double power = double(spectrum->norm[bin]) * spectrum->norm[bin];
            energy += power;
            if (classes[bin] >= 0)
                sum[classes[bin]] += power;
        }
        for (int c = 0; c < MusicAnalysis::kTimbre; ++c)
            sum[MusicAnalysis::kChroma + c] += cepstrum->data[c + 1];
        sum[MusicAnalysis::kChroma + MusicAnalysis::kTimbre] += energy;
        ++frames[span];
    }

    analysis.features.resize(spans);
    for (std::size_t s = 0; s < spans; ++s) {
        MusicAnalysis::Features &row = analysis.features[s];
        const double n = std::max(frames[s], 1);
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
