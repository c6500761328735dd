// Measures --fit and --loop auto: each song is fitted to silent videos of
// 0.5, 0.8, 1.3 and 2.5 times its length, and the table says where the
// song's ending lands against the last picture, how well the output's first
// and last 3 s follow the song's (loudness envelopes; the tempo change is
// made in the middle only), how every seam's novelty compares with the
// song's own 90th-percentile beat-to-beat novelty, how loud the high band
// gets across each seam against the song's own 99th percentile (a click),
// the tempo change and the times of reading, analysing and stretching.
// Songs named for the loop are also looped under a video three times their
// length, at their own seam and from their end to their start. For bench/fit.sh; not part of the product.
//
//   melvora-fit-measure FOLDER MODE2_SECONDS [generated] [fit:NAME=FILE]... [loop:NAME=FILE]...
//
// MODE2_SECONDS: how long a 10-minute mode-2 run took, to set the analysis
// time against (0: not known).

#include "MediaTool.h"
#include "engine/LoopHelpers.h"
#include "engine/MixJob.h"
#include "engine/MixSteps.h"
#include "engine/MusicFeed.h"
#include "engine/MusicFit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <numbers>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

using namespace melvora;

namespace {

constexpr int kRate = 44100;

struct Song {
    std::string name;
    std::string path;
    bool fit = false, loop = false;
};

// Sections by letter, each a chord (three notes) over a drum pattern.
std::vector<float> structuredSong(const std::string &form, double bpm, int sectionBeats, double drumLevel,
                                  unsigned seed) {
    static const double roots[] = {261.6, 293.7, 329.6, 349.2, 392.0, 440.0, 220.0, 246.9};
    const double beat = 60 / bpm;
    const double sectionSeconds = beat * sectionBeats;
    std::vector<float> song(std::size_t(form.size() * sectionSeconds * kRate));
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> noise(-1, 1);
    for (std::size_t i = 0; i < song.size(); ++i) {
        const double t = double(i) / kRate;
        const std::size_t section = std::min(form.size() - 1, std::size_t(t / sectionSeconds));
        const double root = roots[(form[section] - 'A') % 8];
        // The chord changes every bar within a section: I, IV, V, I.
        static const double steps[] = {1, 4.0 / 3, 1.5, 1};
        const double chordRoot = root * steps[int(t / (4 * beat)) % 4];
        double value = 0;
        for (double ratio : {1.0, 1.26, 1.5})
            value += 0.08 * std::sin(2 * std::numbers::pi * chordRoot * ratio * t);
        const double sinceBeat = std::fmod(t, beat);
        value += drumLevel * (0.6 * std::sin(2 * std::numbers::pi * 60 * sinceBeat) * std::exp(-sinceBeat * 25) *
                                  (int(t / beat) % 2 == 0) +
                              0.3 * noise(random) * std::exp(-std::fmod(t, beat / 2) * 80));
        // The ending dies away over its last two seconds.
        const double left = double(song.size()) / kRate - t;
        song[i] = float(value * std::min(1.0, left / 2 + 0.2));
    }
    return song;
}

// A pad without a beat: slowly changing chords.
std::vector<float> ambientSong() {
    std::vector<float> song(std::size_t(100 * kRate));
    for (std::size_t i = 0; i < song.size(); ++i) {
        const double t = double(i) / kRate;
        const double root = (int(t / 10) % 4 == 3) ? 196.0 : (int(t / 10) % 2 ? 220.0 : 261.6);
        double value = 0;
        for (double ratio : {1.0, 1.25, 1.5, 2.0})
            value += 0.06 * std::sin(2 * std::numbers::pi * root * ratio * t) * (0.8 + 0.2 * std::sin(t * 0.7));
        song[i] = float(value);
    }
    return song;
}

void writeWave(const std::string &path, const std::vector<float> &samples) {
    std::ofstream out(path, std::ios::binary);
    const auto put32 = [&out](std::uint32_t v) { out.write(reinterpret_cast<const char *>(&v), 4); };
    const auto put16 = [&out](std::uint16_t v) { out.write(reinterpret_cast<const char *>(&v), 2); };
    const auto bytes = std::uint32_t(samples.size() * 2);
    out.write("RIFF", 4), put32(36 + bytes), out.write("WAVEfmt ", 8), put32(16), put16(1), put16(1), put32(kRate),
        put32(kRate * 2), put16(2), put16(16), out.write("data", 4), put32(bytes);
    for (float s : samples)
        put16(std::uint16_t(std::int16_t(std::lround(std::clamp(s, -1.0f, 1.0f) * 32767))));
}

std::vector<double> envelope(const std::vector<float> &x, double from, double seconds) {
    // 300 blocks of RMS over [from, from + seconds) of x.
    std::vector<double> blocks(300);
    const double length = seconds * kRate / double(blocks.size());
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        double sum = 0;
        const auto start = std::int64_t(from * kRate + double(b) * length);
        for (std::int64_t i = start; i < start + std::int64_t(length); ++i)
            if (i >= 0 && i < std::int64_t(x.size()))
                sum += double(x[std::size_t(i)]) * x[std::size_t(i)];
        blocks[b] = std::sqrt(sum / length);
    }
    return blocks;
}

double correlation(const std::vector<double> &a, const std::vector<double> &b) {
    double ma = 0, mb = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        ma += a[i], mb += b[i];
    ma /= double(a.size()), mb /= double(b.size());
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        ab += (a[i] - ma) * (b[i] - mb), aa += (a[i] - ma) * (a[i] - ma), bb += (b[i] - mb) * (b[i] - mb);
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

// The best match of 3 s of the song from songFrom in the output near outFrom,
// within lagMs either way: {correlation, lag in ms}.
std::pair<double, int> matched(const std::vector<float> &out, double outFrom, const std::vector<float> &song,
                               double songFrom, int lagMs) {
    const std::vector<double> reference = envelope(song, songFrom, 3);
    std::pair<double, int> best{-1, 0};
    for (int lag = -lagMs; lag <= lagMs; ++lag) {
        const double c = correlation(envelope(out, outFrom + lag / 1000.0, 3), reference);
        if (c > best.first + 1e-9)
            best = {c, lag};
    }
    return best;
}

// Energy above about 4 kHz in blocks of 128 samples (2.9 ms): where a seam
// clicks, this jumps.
constexpr std::size_t kClickBlock = 128;
std::vector<double> highBand(const std::vector<float> &x) {
    // Two RBJ high-pass sections at 4 kHz.
    const double w = 2 * std::numbers::pi * 4000 / kRate, alpha = std::sin(w) / std::sqrt(2.0), c = std::cos(w);
    const double a0 = 1 + alpha, b0 = (1 + c) / 2 / a0, b1 = -(1 + c) / a0, a1 = -2 * c / a0, a2 = (1 - alpha) / a0;
    std::vector<double> y(x.begin(), x.end());
    for (int pass = 0; pass < 2; ++pass) {
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        for (double &v : y) {
            const double out = b0 * v + b1 * x1 + b0 * x2 - a1 * y1 - a2 * y2;
            x2 = x1, x1 = v, y2 = y1, y1 = out, v = out;
        }
    }
    std::vector<double> blocks(y.size() / kClickBlock);
    for (std::size_t b = 0; b < blocks.size(); ++b)
        for (std::size_t i = b * kClickBlock; i < (b + 1) * kClickBlock; ++i)
            blocks[b] += y[i] * y[i];
    return blocks;
}

double percentile(std::vector<double> values, double fraction) {
    if (values.empty())
        return 0;
    const std::size_t at = std::min(values.size() - 1, std::size_t(fraction * double(values.size())));
    std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(at), values.end());
    return values[at];
}

// The loudest high-band block within halfSeconds + 20 ms of a time: across
// a seam, its crossfade and a little on each side.
double loudestAround(const std::vector<double> &band, double seconds, double halfSeconds) {
    const auto first = std::int64_t((seconds - halfSeconds - 0.02) * kRate) / std::int64_t(kClickBlock);
    const auto last = std::int64_t((seconds + halfSeconds + 0.02) * kRate) / std::int64_t(kClickBlock);
    double most = 0;
    for (std::int64_t b = std::max<std::int64_t>(0, first); b <= last && b < std::int64_t(band.size()); ++b)
        most = std::max(most, band[std::size_t(b)]);
    return most;
}

// What a seam is held against: the same across every beat of the song
// itself, its 99th percentile (a seam lies on a beat, where drums hit).
double ownClick(const std::vector<double> &songBand, const MusicAnalysis &analysis, double halfSeconds) {
    std::vector<double> around;
    for (std::int64_t beat : analysis.beats)
        around.push_back(loudestAround(songBand, double(beat) / kRate, halfSeconds));
    return percentile(around, 0.99);
}

std::size_t spanAt(const MusicAnalysis &analysis, std::int64_t at) {
    std::size_t span = 0;
    while (span + 2 < analysis.beats.size() && analysis.beats[span + 1] <= at)
        ++span;
    return span;
}

// How far (ms) the attacks after a landing at to lie from those after from,
// where the song would have gone on: how much the drums flam at the seam.
// The first difference's RMS in 0.7 ms blocks over 0.4 s, within 40 ms;
// NaN where the attacks are not alike enough (correlation under 0.5, or
// best at the search's edge) to tell.
double flamMs(const std::vector<float> &song, std::int64_t from, std::int64_t to) {
    constexpr std::int64_t kBlock = 32, kBlocks = 550, kMost = 55;
    const auto envelope = [&](std::int64_t at, std::int64_t blocks) {
        std::vector<double> e(static_cast<std::size_t>(blocks));
        for (std::int64_t b = 0; b < blocks; ++b)
            for (std::int64_t i = at + b * kBlock; i < at + (b + 1) * kBlock; ++i)
                if (i > 0 && i < std::int64_t(song.size()))
                    e[std::size_t(b)] += double(song[std::size_t(i)] - song[std::size_t(i - 1)]) *
                                         (song[std::size_t(i)] - song[std::size_t(i - 1)]);
        for (double &v : e)
            v = std::sqrt(v);
        return e;
    };
    const std::vector<double> after = envelope(from, kBlocks), landed = envelope(to - kMost * kBlock, kBlocks + 2 * kMost);
    double best = -2;
    std::int64_t bestLag = 0;
    for (std::int64_t lag = -kMost; lag <= kMost; ++lag) {
        double ab = 0, aa = 0, bb = 0;
        for (std::int64_t i = 0; i < kBlocks; ++i) {
            const double x = after[std::size_t(i)], y = landed[std::size_t(i + kMost + lag)];
            ab += x * y, aa += x * x, bb += y * y;
        }
        const double r = aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : -1;
        if (r > best)
            best = r, bestLag = lag;
    }
    if (best < 0.5 || std::abs(bestLag) == kMost)
        return std::nan("");
    return std::abs(double(bestLag * kBlock) * 1000 / kRate);
}

std::int64_t nearestBeat(const MusicAnalysis &analysis, std::int64_t at) {
    if (analysis.beats.empty())
        return at;
    std::int64_t nearest = analysis.beats.front();
    for (std::int64_t beat : analysis.beats)
        if (std::abs(beat - at) < std::abs(nearest - at))
            nearest = beat;
    return nearest;
}

// The novelty heard across a jump from sample from to sample to: the beat
// before it against the beat after it.
double seamNovelty(const MusicAnalysis &analysis, std::int64_t from, std::int64_t to) {
    const std::size_t before = spanAt(analysis, from), after = spanAt(analysis, to);
    return analysis.beatDistance(before > 0 ? before - 1 : 0, after);
}

// The engine's own step, as a run takes it: the decoded song and its plan.
struct Step {
    std::shared_ptr<const PlannedMusic> planned;
    MusicFitReport report;
    std::string error;
};
Step planStep(const std::string &music, double seconds, const std::function<void(MixSettings &)> &choose) {
    MixJob job;
    job.request.musicPath = music;
    job.request.durationSeconds = seconds;
    job.result.mode = MixMode::ReencodeMusic;
    choose(job.result.appliedMixSettings);
    MixRun run(job);
    Step step;
    if (openMusicInput(run) < 0 || fitMusic(run) < 0)
        step.error = job.result.errorMessage;
    step.planned = run.plannedMusic;
    step.report = job.result.fit;
    return step;
}

// Where each seam of a plan plays in its output, in samples, up to length.
std::vector<std::int64_t> seamsOf(const PlannedMusic &planned, std::int64_t length) {
    std::vector<std::int64_t> seams;
    const std::vector<MusicSpan> &spans = planned.sequence.spans;
    std::int64_t at = 0;
    for (std::size_t k = 0; k < spans.size(); ++k) {
        at += spans[k].to - spans[k].from;
        const bool last = k + 1 == spans.size();
        if (last && !planned.sequence.repeatLast)
            break;
        if (at >= length)
            break;
        seams.push_back(at);
        if (last) {
            const std::int64_t period = spans[k].to - spans[k].from;
            for (at += period; period > 0 && at < length; at += period)
                seams.push_back(at);
        }
    }
    for (std::int64_t &seam : seams) {
        std::int64_t moved = 0;
        for (const ReplacedStretch &piece : planned.stretched)
            if (piece.to <= seam)
                moved += std::int64_t(piece.left.size()) - (piece.to - piece.from);
        seam += moved;
    }
    return seams;
}

// The song as the run decodes it (the music feed, one pass), in mono.
std::vector<float> decodedSong(const std::string &music) {
    MixJob job;
    job.request.musicPath = music;
    job.result.mode = MixMode::ReencodeMusic;
    MixRun run(job);
    std::vector<float> samples;
    if (openMusicInput(run) < 0)
        return samples;
    MixSettings onePass;
    onePass.loop = false;
    MusicFeed reader(run.musicInput.get(), run.musicStreamIndex, run.musicDecoder.get(), onePass);
    std::vector<float> left, right;
    if (reader.readPass(left, right, std::int64_t(20 * 60) * kRate) < 0)
        return samples;
    samples.resize(left.size());
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = 0.5f * (left[i] + right[i]);
    return samples;
}

struct Made {
    bool ok = false;
    std::string error;
    MusicFitReport fit;
    std::vector<std::string> warnings;
    test::DecodedSound out;
    double pictureEnd = 0;
};
Made mix(const std::string &folder, const std::string &music, double videoSeconds,
         const std::function<void(MixSettings &)> &choose) {
    const std::string video = folder + "/video.mp4", output = folder + "/out.mp4";
    test::makeMedia("-f lavfi -i testsrc=size=160x90:rate=25:duration=" + std::to_string(videoSeconds) +
                        " -c:v libx264 -preset ultrafast",
                    video);
    std::remove(output.c_str());
    MixJob job;
    initMixJob(job);
    job.request.videoPath = video;
    job.request.musicPath = music;
    job.request.outputPath = output;
    job.request.durationSeconds = videoSeconds;
    choose(job.request.mixSettings);
    mixWorker(job);
    Made made;
    made.ok = job.status.load() == JobStatus::Finished;
    made.error = job.result.errorMessage;
    made.fit = job.result.fit;
    made.warnings = job.result.warnings;
    if (made.ok) {
        made.out = test::decodeSound(output);
        // That decoding sums the two channels at 1/sqrt(2) each; the song
        // here is their mean, and the seams' high band is held against it.
        for (float &sample : made.out.samples)
            sample *= float(std::numbers::sqrt2 / 2);
        made.pictureEnd = test::pictureLengthSeconds(output);
    }
    return made;
}

struct Totals {
    int runs = 0, fallbacks = 0, loudSeams = 0, clicks = 0, seams = 0;
};

void measureFit(const std::string &folder, const Song &song, double mode2Seconds, Totals &totals) {
    const std::vector<float> samples = decodedSong(song.path);
    if (samples.empty()) {
        std::printf("%-28s cannot be read\n", song.name.c_str());
        return;
    }
    const MusicAnalysis analysis = analyseMusic(samples.data(), samples.size(), kRate);
    const double p90 = analysis.noveltyPercentile(0.9);
    const std::vector<double> songBand = highBand(samples);
    const double songSeconds = double(samples.size()) / kRate;
    std::printf("%-28s %6.1f s, %s, %d-beat bar\n", song.name.c_str(), songSeconds,
                analysis.beatUsable ? (std::to_string(int(std::lround(analysis.tempoBpm))) + " BPM").c_str()
                                    : "no steady beat",
                analysis.barBeats);
    for (double factor : {0.5, 0.8, 1.3, 2.5}) {
        const double videoSeconds = std::round(songSeconds * factor * 25) / 25;
        const auto choose = [](MixSettings &s) { s.fit = true; };
        const Made made = mix(folder, song.path, videoSeconds, choose);
        ++totals.runs;
        if (!made.ok) {
            std::printf("  %4.1fx failed: %s\n", factor, made.error.c_str());
            continue;
        }
        const Step step = planStep(song.path, videoSeconds, choose);
        const bool fellBack = made.fit.kind == MusicFitReport::Kind::None;
        totals.fallbacks += fellBack;
        const double start = made.out.startSeconds;
        const auto [first, firstLag] = matched(made.out.samples, -start, samples, 0, 50);
        // The song's last 3 s should end on the last picture.
        const auto [last, lastLag] =
            matched(made.out.samples, made.pictureEnd - start - 3, samples, songSeconds - 3, 300);
        double worstSeam = 0, worstClick = 0, worstFlam = 0, worstBeatFlam = 0;
        int loud = 0, clicks = 0, flamsTold = 0;
        if (!fellBack && step.planned) {
            const std::vector<double> band = highBand(made.out.samples);
            const std::vector<std::int64_t> seams = seamsOf(*step.planned, std::int64_t(videoSeconds * kRate));
            const double half = double(step.planned->sequence.seamSamples) / 2 / kRate;
            const double p99 = ownClick(songBand, analysis, half);
            for (std::size_t k = 0; k < seams.size() && k < made.fit.jumps.size(); ++k) {
                const FitJump &jump = {std::llround(made.fit.jumps[k].fromSeconds * kRate),
                                       std::llround(made.fit.jumps[k].toSeconds * kRate), 0};
                const double novelty = p90 > 0 ? seamNovelty(analysis, jump.from, jump.to) / p90 : 0;
                const double click = loudestAround(band, double(seams[k]) / kRate - start, half) / p99;
                worstSeam = std::max(worstSeam, novelty), worstClick = std::max(worstClick, click);
                loud += novelty > 1, clicks += click > 1;
                // Judged where the attacks tell at both landings.
                const double landed = flamMs(samples, jump.from, jump.to);
                const double onBeat = flamMs(samples, jump.from, nearestBeat(analysis, jump.to));
                if (!std::isnan(landed) && !std::isnan(onBeat)) {
                    worstFlam = std::max(worstFlam, landed), worstBeatFlam = std::max(worstBeatFlam, onBeat);
                    ++flamsTold;
                }
            }
            totals.seams += int(seams.size());
        }
        totals.loudSeams += loud, totals.clicks += clicks;
        std::printf("  %4.1fx %6s %+6.2f %+6d %6.3f %6.3f %8.2f %5d %8.2f %5d %4.1f/%-4.1f%2d %6.2f %6.2f %6.2f %6s\n",
                    factor, fellBack ? "fade" : std::to_string(made.fit.jumps.size()).c_str(), made.fit.tempoPercent,
                    lastLag, first, last, worstSeam, loud, worstClick, clicks, worstFlam, worstBeatFlam, flamsTold,
                    made.fit.decodeSeconds, made.fit.analysisSeconds, made.fit.stretchSeconds,
                    mode2Seconds > 0
                        ? (std::to_string(100 * made.fit.analysisSeconds / mode2Seconds).substr(0, 4) + "%").c_str()
                        : "n/a");
        for (const std::string &warning : made.warnings)
            std::printf("        warning: %s\n", warning.c_str());
    }
}

void measureLoop(const std::string &folder, const Song &song) {
    const std::vector<float> samples = decodedSong(song.path);
    if (samples.empty())
        return;
    const MusicAnalysis analysis = analyseMusic(samples.data(), samples.size(), kRate);
    const double p90 = analysis.noveltyPercentile(0.9);
    const std::vector<double> songBand = highBand(samples);
    const auto length = std::int64_t(samples.size());
    const double videoSeconds = std::round(3 * double(length) / kRate * 25) / 25;
    for (bool atSeams : {true, false}) {
        const auto choose = [atSeams](MixSettings &s) {
            s.loop = true;
            s.loopAtSeams = atSeams;
        };
        const Made made = mix(folder, song.path, videoSeconds, choose);
        if (!made.ok) {
            std::printf("%-28s %-5s failed: %s\n", song.name.c_str(), atSeams ? "auto" : "file", made.error.c_str());
            continue;
        }
        const std::vector<double> band = highBand(made.out.samples);
        std::vector<std::int64_t> seams;
        double novelty = 0, half = 0, loopSeconds = double(length) / kRate;
        const bool own = atSeams && made.fit.kind == MusicFitReport::Kind::Looped;
        if (own) {
            const Step step = planStep(song.path, videoSeconds, choose);
            seams = seamsOf(*step.planned, std::int64_t(videoSeconds * kRate));
            half = double(step.planned->sequence.seamSamples) / 2 / kRate;
            const MusicFitReport::Jump &jump = made.fit.jumps.at(0);
            novelty =
                seamNovelty(analysis, std::llround(jump.fromSeconds * kRate), std::llround(jump.toSeconds * kRate));
            loopSeconds = jump.fromSeconds - jump.toSeconds;
        } else {
            for (std::int64_t at = length; at < std::int64_t(videoSeconds * kRate); at += length)
                seams.push_back(at);
            novelty = analysis.features.empty() ? 0 : analysis.beatDistance(analysis.features.size() - 1, 0);
        }
        double worstClick = 0;
        int clicks = 0;
        const double p99 = ownClick(songBand, analysis, half);
        for (std::int64_t seam : seams) {
            const double click = loudestAround(band, double(seam) / kRate - made.out.startSeconds, half) / p99;
            worstClick = std::max(worstClick, click);
            clicks += click > 1;
        }
        std::printf("%-28s %-5s %6.1f %5zu %8.2f %8.2f %5d\n", song.name.c_str(),
                    own ? "auto" : (atSeams ? "auto>f" : "file"), loopSeconds, seams.size(),
                    p90 > 0 ? novelty / p90 : 0, worstClick, clicks);
        for (const std::string &warning : made.warnings)
            std::printf("        warning: %s\n", warning.c_str());
    }
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FOLDER MODE2_SECONDS [generated] [fit:NAME=FILE]... [loop:NAME=FILE]...\n",
                     argv[0]);
        return 2;
    }
    av_log_set_level(AV_LOG_ERROR);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string folder = argv[1];
    const double mode2Seconds = std::atof(argv[2]);
    std::vector<Song> songs;
    for (int a = 3; a < argc; ++a) {
        const std::string arg = argv[a];
        if (arg == "generated") {
            const auto generated = [&](const std::string &name, const std::vector<float> &samples) {
                const std::string path = folder + "/generated-" + std::to_string(songs.size()) + ".wav";
                writeWave(path, samples);
                songs.push_back({name, path, true, false});
            };
            generated("gen. pop 120 BPM", structuredSong("IABABCBO", 120, 32, 0.5, 1));
            generated("gen. rock 96 BPM", structuredSong("AABAAC", 96, 32, 0.8, 2));
            generated("gen. fast 150 BPM", structuredSong("ABACABAD", 150, 16, 0.4, 3));
            generated("gen. pad, no beat", ambientSong());
            continue;
        }
        const std::size_t colon = arg.find(':'), equals = arg.find('=');
        if (colon == std::string::npos || equals == std::string::npos || equals < colon) {
            std::fprintf(stderr, "not fit:NAME=FILE or loop:NAME=FILE: %s\n", arg.c_str());
            return 2;
        }
        const std::string kind = arg.substr(0, colon);
        songs.push_back(
            {arg.substr(colon + 1, equals - colon - 1), arg.substr(equals + 1), kind == "fit", kind == "loop"});
    }

    Totals totals;
    std::printf("--fit:   x = video/song; jumps (fade: fell back); tempo %%; end ms (+: the song's ending plays "
                "later than the last picture); first, last 3 s envelope correlation; worst seam novelty/p90 and "
                "seams above; worst seam click (loudest 2.9 ms above 4 kHz across the crossfade) against the song's "
                "own 99th percentile across a beat, and seams above; worst flam ms (attacks after the landing against "
                "where the song would have gone on), as landed / on the tracker's nearest beat, and the seams where "
                "the attacks tell; seconds reading the song, analysing it (beats, features, plan) and "
                "time-stretching; the analysis's share of a 10-min mode-2 run\n");
    std::printf("  %5s %6s %6s %6s %6s %6s %8s %5s %8s %5s %11s %6s %6s %6s %6s\n", "x", "jumps", "tempo", "endms",
                "first", "last", "nov/p90", ">1", "clk/p99", ">1", "flam ms", "read.s", "anal.s", "strt.s", "share");
    for (const Song &song : songs)
        if (song.fit)
            measureFit(folder, song, mode2Seconds, totals);
    std::printf("fit totals: %d runs, %d fell back, %d seams, %d above the novelty p90, %d above the click p99\n",
                totals.runs, totals.fallbacks, totals.seams, totals.loudSeams, totals.clicks);
    if (std::any_of(songs.begin(), songs.end(), [](const Song &s) { return s.loop; })) {
        std::printf("\n--loop under a video 3x the song: auto (own seam; auto>f: fell back to the file's ends) "
                    "or file (end to start); loop length s; seams; seam novelty/p90; worst click/p99; seams above\n");
        std::printf("%-28s %-5s %6s %5s %8s %8s %5s\n", "song", "loop", "len.s", "seams", "nov/p90", "clk/p99", ">1");
        for (const Song &song : songs)
            if (song.loop)
                measureLoop(folder, song);
    }
    return 0;
}
