// Measures --fit on generated songs (no recorded music is at hand): each song
// is fitted to silent videos of 0.5, 0.8, 1.3 and 2.5 times its length, and
// the table says how close the music's end comes to the last picture, how
// well the output's first and last 3 s follow the song's (loudness
// envelopes; the tempo change is made in the middle only), how the seams' novelty compares with the
// song's own 90th-percentile beat-to-beat novelty, the tempo change and the
// analysis time. For bench/fit.sh; not part of the product.
//
//   melvora-fit-measure FOLDER [MODE2_SECONDS]
//
// MODE2_SECONDS: how long a 10-minute mode-2 run took, to set the analysis
// time against.

#include "MediaTool.h"
#include "engine/MixJob.h"
#include "engine/MusicFit.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
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
    const char *name;
    std::vector<float> samples;
};

// Sections by letter, each a chord (three notes) over a drum pattern.
Song structuredSong(const char *name, const std::string &form, double bpm, int sectionBeats, double drumLevel,
                    unsigned seed) {
    static const double roots[] = {261.6, 293.7, 329.6, 349.2, 392.0, 440.0, 220.0, 246.9};
    const double beat = 60 / bpm;
    const double sectionSeconds = beat * sectionBeats;
    Song song{name, std::vector<float>(std::size_t(form.size() * sectionSeconds * kRate))};
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> noise(-1, 1);
    for (std::size_t i = 0; i < song.samples.size(); ++i) {
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
        const double left = double(song.samples.size()) / kRate - t;
        song.samples[i] = float(value * std::min(1.0, left / 2 + 0.2));
    }
    return song;
}

// A pad without a beat: slowly changing chords.
Song ambientSong() {
    Song song{"ambient (no beat)", std::vector<float>(std::size_t(100 * kRate))};
    for (std::size_t i = 0; i < song.samples.size(); ++i) {
        const double t = double(i) / kRate;
        const double root = (int(t / 10) % 4 == 3) ? 196.0 : (int(t / 10) % 2 ? 220.0 : 261.6);
        double value = 0;
        for (double ratio : {1.0, 1.25, 1.5, 2.0})
            value += 0.06 * std::sin(2 * std::numbers::pi * root * ratio * t) * (0.8 + 0.2 * std::sin(t * 0.7));
        song.samples[i] = float(value);
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

std::vector<double> envelope(const std::vector<float> &x, double from, double seconds, double stretch) {
    // 300 blocks of RMS over [from, from + seconds·stretch) of x.
    std::vector<double> blocks(300);
    const double length = seconds * stretch * kRate / blocks.size();
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

std::size_t spanAt(const MusicAnalysis &analysis, double seconds) {
    const auto at = std::int64_t(seconds * kRate);
    std::size_t span = 0;
    while (span + 2 < analysis.beats.size() && analysis.beats[span + 1] <= at)
        ++span;
    return span;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER [MODE2_SECONDS]\n", argv[0]);
        return 2;
    }
    av_log_set_level(AV_LOG_ERROR);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string folder = argv[1];
    const double mode2Seconds = argc > 2 ? std::atof(argv[2]) : 0;
    std::vector<Song> songs;
    songs.push_back(structuredSong("pop 120 BPM, IABABCBO", "IABABCBO", 120, 32, 0.5, 1));
    songs.push_back(structuredSong("rock 96 BPM, AABAAC", "AABAAC", 96, 32, 0.8, 2));
    songs.push_back(structuredSong("fast 150 BPM, ABACABAD", "ABACABAD", 150, 16, 0.4, 3));
    songs.push_back(ambientSong());

    std::printf("%-26s %5s %7s %6s %6s %6s %7s %7s %6s %6s\n", "song", "x", "jumps", "tempo%", "endms", "first",
                "last", "seam/p90", "anal.s", "/mode2");
    for (const Song &song : songs) {
        const std::string music = folder + "/song.wav";
        writeWave(music, song.samples);
        const double songSeconds = double(song.samples.size()) / kRate;
        const MusicAnalysis analysis = analyseMusic(song.samples.data(), song.samples.size(), kRate);
        const double p90 = analysis.noveltyPercentile(0.9);
        for (double factor : {0.5, 0.8, 1.3, 2.5}) {
            const double videoSeconds = std::round(songSeconds * factor * 25) / 25;
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
            job.request.mixSettings.fit = true;
            mixWorker(job);
            if (job.status.load() != JobStatus::Finished) {
                std::printf("%-26s %5.1f failed: %s\n", song.name, factor, job.result.errorMessage.c_str());
                continue;
            }
            const MusicFitReport &fit = job.result.fit;
            const test::DecodedSound out = test::decodeSound(output);
            const double pictureEnd = test::pictureLengthSeconds(output);
            // Where the music is last heard: the last block of 1024 above -50 dBFS.
            std::size_t last = 0;
            for (std::size_t b = 0; b + 1024 <= out.samples.size(); b += 1024) {
                double sum = 0;
                for (std::size_t i = b; i < b + 1024; ++i)
                    sum += double(out.samples[i]) * out.samples[i];
                if (sum / 1024 > 1e-5)
                    last = b + 1024;
            }
            const double musicEnd = out.startSeconds + double(last) / kRate;
            // The encoder's delay moves the sound by some milliseconds: the best match within 50 ms counts.
            const auto matched = [&](double outFrom, double songFrom) {
                double best = -1;
                for (int lagMs = -50; lagMs <= 50; ++lagMs)
                    best = std::max(best, correlation(envelope(out.samples, outFrom + lagMs / 1000.0, 3, 1),
                                                      envelope(song.samples, songFrom, 3, 1)));
                return best;
            };
            const double first = matched(0, 0);
            const double lastCorrelation = matched(musicEnd - out.startSeconds - 3, songSeconds - 3);
            double seam = 0;
            for (const MusicFitReport::Jump &jump : fit.jumps) {
                const std::size_t before = spanAt(analysis, jump.fromSeconds) - 1, after = spanAt(analysis, jump.toSeconds);
                seam = std::max(seam, analysis.beatDistance(before, after));
            }
            const bool fellBack = fit.kind == MusicFitReport::Kind::None;
            std::printf("%-26s %5.1f %7s %+6.2f %6.1f %6.3f %7.3f %8.2f %6.2f %6s\n", song.name, factor,
                        fellBack ? "fade" : std::to_string(fit.jumps.size()).c_str(), fit.tempoPercent,
                        (pictureEnd - musicEnd) * 1000, first, lastCorrelation, p90 > 0 ? seam / p90 : seam,
                        fit.analysisSeconds,
                        mode2Seconds > 0 ? (std::to_string(fit.analysisSeconds / mode2Seconds).substr(0, 5)).c_str()
                                         : "n/a");
            for (const std::string &warning : job.result.warnings)
                std::printf("    warning: %s\n", warning.c_str());
        }
    }
    std::printf("endms: last picture's end minus where the music is last heard (one AAC frame is 23 ms); first, "
                "last: correlation of 10 ms loudness envelopes with the song's; seam/p90: the worst "
                "seam's beat distance against the song's 90th-percentile beat-to-beat change\n");
    return 0;
}
