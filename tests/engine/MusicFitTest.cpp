#include "engine/MusicFit.h"
#include "engine/MusicFitReport.h"
#include "engine/MixGraphs.h"
#include "engine/MixSteps.h"

#include "MediaTool.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <tuple>

namespace melvora {
namespace {

constexpr int kRate = 44100;
constexpr double kBeat = 0.5;     // 120 BPM
constexpr int kSectionBeats = 16; // four bars
constexpr char kForm[] = "ABAC";  // A comes back; C is the ending
constexpr double kChords[][3] = {{261.6, 329.6, 392.0}, {293.7, 370.0, 440.0}, {349.2, 440.0, 523.3}}; // A, B, C

double songSeconds() {
    return (sizeof kForm - 1) * kSectionBeats * kBeat;
}
char sectionAt(std::int64_t sample) {
    return kForm[std::min<std::size_t>(sample / std::llround(kSectionBeats * kBeat * kRate), sizeof kForm - 2)];
}

// A chord held through each section, a noise click on every beat.
std::vector<float> structuredSong() {
    std::vector<float> song(std::size_t(songSeconds() * kRate));
    std::mt19937 random(3);
    std::uniform_real_distribution<double> noise(-1, 1);
    for (std::size_t i = 0; i < song.size(); ++i) {
        const double t = double(i) / kRate;
        const double *chord = kChords[sectionAt(std::int64_t(i)) - 'A'];
        double value = 0;
        for (int n = 0; n < 3; ++n)
            value += 0.12 * std::sin(2 * std::numbers::pi * chord[n] * t);
        const double sinceBeat = std::fmod(t, kBeat);
        value += 0.5 * noise(random) * std::exp(-sinceBeat * 60);
        song[i] = float(value);
    }
    return song;
}

const std::vector<float> &structuredSamples() {
    static const std::vector<float> song = structuredSong();
    return song;
}

const MusicAnalysis &analysed() {
    static const MusicAnalysis analysis = analyseMusic(structuredSamples().data(), structuredSamples().size(), kRate);
    return analysis;
}

// On the generated beat grid, to a few milliseconds (the tracker's hop).
bool onBeat(std::int64_t sample) {
    const double intoBeat = std::fmod(double(sample) / kRate + 0.25 * kBeat, kBeat) - 0.25 * kBeat;
    return std::abs(intoBeat) < 0.03;
}

// Bars of beatsPerBar at 120 BPM: the chord changes on every downbeat
// (four chords round), a click on every beat.
std::vector<float> barredSong(int beatsPerBar, double seconds) {
    std::vector<float> song(std::size_t(seconds * kRate));
    std::mt19937 random(5);
    std::uniform_real_distribution<double> noise(-1, 1);
    for (std::size_t i = 0; i < song.size(); ++i) {
        const double t = double(i) / kRate;
        const double *chord = kChords[int(t / (beatsPerBar * kBeat)) % 4 % 3];
        double value = 0;
        for (int n = 0; n < 3; ++n)
            value += 0.12 * std::sin(2 * std::numbers::pi * chord[n] *
                                     (int(t / (beatsPerBar * kBeat)) % 4 == 3 ? 0.75 : 1) * t);
        value += 0.5 * noise(random) * std::exp(-std::fmod(t, kBeat) * 60);
        song[i] = float(value);
    }
    return song;
}

TEST(MusicFit, FindsTheBeatAndTheBar) {
    const MusicAnalysis &analysis = analysed();
    ASSERT_TRUE(analysis.beatUsable);
    ASSERT_GE(analysis.beats.size(), 40u);
    int on = 0;
    for (std::int64_t beat : analysis.beats)
        on += onBeat(beat);
    EXPECT_GE(on, int(analysis.beats.size()) * 9 / 10);
    EXPECT_EQ(analysis.barBeats, 4);
    // Beats and frames on two threads come out the same every time; once
    // stopped, the analysis and the planner give nothing.
    const std::vector<float> &samples = structuredSamples();
    const MusicAnalysis again = analyseMusic(samples.data(), samples.size(), kRate);
    EXPECT_EQ(again.beats, analysis.beats);
    EXPECT_EQ(again.features, analysis.features);
    const std::atomic<std::uint8_t> stop{1};
    const MusicAnalysis stopped = analyseMusic(samples.data(), samples.size(), kRate, &stop);
    EXPECT_TRUE(stopped.beats.empty() && stopped.features.empty());
    EXPECT_FALSE(planFit(analysis, std::llround(0.75 * songSeconds() * kRate), {}, &stop).found);

    for (int beatsPerBar : {3, 4}) {
        const std::vector<float> song = barredSong(beatsPerBar, 60);
        const MusicAnalysis barred = analyseMusic(song.data(), song.size(), kRate);
        ASSERT_TRUE(barred.beatUsable);
        EXPECT_EQ(barred.barBeats, beatsPerBar);
        // Two rounds of the four chords shorter: jumps go by whole bars, from a downbeat (where the chord changes).
        const FitPlan plan = planFit(barred, std::int64_t(song.size()) - 2 * 4 * beatsPerBar * kRate / 2);
        ASSERT_TRUE(plan.found) << beatsPerBar;
        for (const FitJump &jump : plan.jumps) {
            const double bars = double(jump.from - jump.to) / kRate / (beatsPerBar * kBeat);
            EXPECT_NEAR(bars, std::round(bars), 0.05) << beatsPerBar;
            const double intoBar = std::fmod(double(jump.from) / kRate + kBeat / 4, beatsPerBar * kBeat);
            EXPECT_LT(intoBar, kBeat / 2) << beatsPerBar << " at " << double(jump.from) / kRate;
        }
    }
}

// The length against the song's, and the fewest jumps that reach it: A to the
// other A shortens or lengthens by half the song; other lengths jump within
// sections.
class FitToLength : public testing::TestWithParam<std::pair<double, std::size_t>> {};

TEST_P(FitToLength, EndsOnItsEndingJumpingOnBeatsBetweenMatchingSections) {
    const MusicAnalysis &analysis = analysed();
    const auto [factor, fewestJumps] = GetParam();
    const auto target = std::llround(factor * songSeconds() * kRate);
    const FitPlan plan = planFit(analysis, target);
    ASSERT_TRUE(plan.found);
    EXPECT_EQ(plan.fittedLength(), target);
    const std::vector<MusicSpan> &spans = plan.sequence.spans;
    ASSERT_EQ(spans.size(), plan.jumps.size() + 1);
    EXPECT_EQ(spans.front().from, 0);
    EXPECT_EQ(spans.back().to, analysis.length);
    EXPECT_GE(spans.front().to, 3 * kRate);                    // the first seconds untouched
    EXPECT_LE(spans.back().from, analysis.length - 5 * kRate); // and the last seconds
    EXPECT_EQ(plan.jumps.size(), fewestJumps);
    // The rest is taken up between the untouched ends, clear of every crossfade.
    std::vector<std::int64_t> seams;
    for (std::size_t k = 0; k + 1 < spans.size(); ++k)
        seams.push_back((seams.empty() ? 0 : seams.back()) + spans[k].to - spans[k].from);
    // Only as much as the rest needs at 1.2 % is stretched (two seconds at least).
    const std::int64_t rest = target - plan.sequence.playedLength();
    std::int64_t stretched = 0;
    for (const SequenceStretch &stretch : plan.stretches)
        stretched += stretch.to - stretch.from;
    EXPECT_LE(stretched, std::max<std::int64_t>(2 * kRate, std::llround(std::ceil(std::abs(rest) / 0.012))));
    for (const SequenceStretch &stretch : plan.stretches) {
        EXPECT_GE(stretch.from, 3 * kRate);
        EXPECT_LE(stretch.to, plan.sequence.playedLength() - 5 * kRate);
        EXPECT_LE(std::abs(double(stretch.length) / double(stretch.to - stretch.from) - 1), 0.015);
        for (std::int64_t seam : seams)
            EXPECT_TRUE(stretch.to < seam - plan.sequence.seamSamples / 2 ||
                        stretch.from > seam + plan.sequence.seamSamples / 2);
    }
    for (std::size_t k = 0; k < plan.jumps.size(); ++k) {
        const FitJump &jump = plan.jumps[k];
        EXPECT_TRUE(onBeat(jump.from) && onBeat(jump.to)) << jump.from << " -> " << jump.to;
        const std::int64_t aside = kRate / 8;
        EXPECT_EQ(sectionAt(jump.from - aside), sectionAt(jump.to - aside)) << jump.from << " -> " << jump.to;
        EXPECT_EQ(sectionAt(jump.from + aside), sectionAt(jump.to + aside)) << jump.from << " -> " << jump.to;
        if (k > 0) { // no span twice in a row
            EXPECT_FALSE(jump.from == plan.jumps[k - 1].from && jump.to == plan.jumps[k - 1].to);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, FitToLength,
                         testing::Values(std::pair{0.5, 1u}, std::pair{0.75, 2u}, std::pair{1.25, 2u},
                                         std::pair{1.5, 1u}, std::pair{2.0, 2u}));

TEST(MusicFit, ASongWithinTheTempoNeedsNoJumpAndOneWithoutRepeatsHasNoPlan) {
    const MusicAnalysis &analysis = analysed();
    // 1 % longer needs all the song but its untouched ends, a little slower;
    // 0.3 % only the stretch that takes it at 1.2 %, from the middle.
    for (const auto &[factor, from, to] : {std::tuple{1.01, 3.0, songSeconds() - 5}, std::tuple{1.003, 11.0, 19.0}}) {
        const FitPlan close = planFit(analysis, std::llround(songSeconds() * factor * kRate));
        ASSERT_TRUE(close.found) << factor;
        EXPECT_TRUE(close.jumps.empty()) << factor;
        EXPECT_EQ(close.fittedLength(), std::llround(songSeconds() * factor * kRate)) << factor;
        ASSERT_EQ(close.stretches.size(), 1u) << factor;
        EXPECT_NEAR(double(close.stretches[0].from) / kRate, from, 0.01) << factor;
        EXPECT_NEAR(double(close.stretches[0].to) / kRate, to, 0.01) << factor;
        EXPECT_LT(close.tempo, 1) << factor;
        EXPECT_GT(close.tempo, 1 - 0.015) << factor;
        // Beyond what the middle can take, the song needs a jump.
        EXPECT_FALSE(placeStretches(close.sequence, std::int64_t(0.016 * double(analysis.length - 8 * kRate)), kRate));
    }

    // A sweep never sounds the same twice: nothing to jump between.
    std::vector<float> sweep(std::size_t(30 * kRate));
    for (std::size_t i = 0; i < sweep.size(); ++i) {
        const double t = double(i) / kRate;
        sweep[i] = float(0.3 * std::sin(2 * std::numbers::pi * (100 * t + 40 * t * t)));
    }
    const MusicAnalysis unique = analyseMusic(sweep.data(), sweep.size(), kRate);
    const FitPlan none = planFit(unique, 20 * kRate);
    EXPECT_FALSE(none.found || none.placesToJump);
    EXPECT_FALSE(planLoop(unique).found);
    // The song has its places, but hardly more than its untouched ends is beyond them.
    const FitPlan tooShort = planFit(analysis, std::llround(0.26 * songSeconds() * kRate));
    EXPECT_FALSE(tooShort.found);
    EXPECT_TRUE(tooShort.placesToJump);
}

TEST(MusicFit, LoopsBetweenMatchingBeatsAndThePlayerKeepsTheSongsOwnSamples) {
    const MusicAnalysis &analysis = analysed();
    const FitPlan loop = planLoop(analysis);
    ASSERT_TRUE(loop.found);
    ASSERT_EQ(loop.jumps.size(), 1u);
    EXPECT_LT(loop.jumps[0].to, loop.jumps[0].from);
    EXPECT_EQ(sectionAt(loop.jumps[0].from + kRate / 8), sectionAt(loop.jumps[0].to + kRate / 8));

    // A ramp shows where every output sample comes from.
    std::vector<float> ramp(std::size_t(analysis.length));
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = float(i);
    const FitPlan plan = planFit(analysis, std::llround(0.5 * songSeconds() * kRate));
    ASSERT_EQ(plan.jumps.size(), 1u);
    SpanPlayer player(ramp, ramp, plan.sequence);
    std::vector<float> left(std::size_t(plan.sequence.playedLength()) + 100), right(left.size());
    ASSERT_EQ(player.render(left.data(), right.data(), std::int64_t(left.size())), plan.sequence.playedLength());
    const std::int64_t half = plan.sequence.seamSamples / 2;
    const std::int64_t seam = plan.jumps[0].from;
    EXPECT_EQ(left[std::size_t(seam - half - 1)], float(seam - half - 1)); // before the crossfade, the song
    const std::int64_t after = seam + half + 1;
    EXPECT_EQ(left[std::size_t(after)], float(plan.jumps[0].to + half + 1)); // after it, the song from the jump
    EXPECT_EQ(left[left.size() - 101], float(analysis.length - 1));          // the last sample is the song's
    EXPECT_EQ(player.render(left.data(), right.data(), 10), 0);

    // A replaced stretch plays in its place, longer, and the song goes on after it as before.
    const std::int64_t from = kRate, to = seam - half - kRate;
    const std::vector<ReplacedStretch> replaced = {{from, to, std::vector<float>(std::size_t(to - from + 50), -1.0f),
                                                    std::vector<float>(std::size_t(to - from + 50), -1.0f)}};
    SpanPlayer stretched(ramp, ramp, plan.sequence, &replaced);
    std::vector<float> out(left.size() + 50), other(out.size());
    std::int64_t made = 0;
    for (std::int64_t n; (n = stretched.render(out.data() + made, other.data() + made, 777)) > 0;)
        made += n;
    ASSERT_EQ(made, plan.sequence.playedLength() + 50);
    EXPECT_EQ(out[std::size_t(from - 1)], float(from - 1));
    EXPECT_EQ(out[std::size_t(from)], -1.0f);
    EXPECT_EQ(out[std::size_t(to + 49)], -1.0f);
    EXPECT_EQ(out[std::size_t(to + 50)], float(to));
    EXPECT_EQ(out[std::size_t(made - 1)], float(analysis.length - 1));

    // Across a seam between the same sound the sides sum to it, no louder;
    // between two unrelated noises the power holds.
    for (const bool same : {true, false}) {
        std::mt19937 random(11);
        std::normal_distribution<float> noise(0, 0.1f);
        std::vector<float> song(std::size_t(4 * kRate));
        for (float &s : song)
            s = noise(random);
        const SpanSequence sequence{{{0, kRate}, {3 * kRate, 4 * kRate}}, kRate / 4, false};
        const std::int64_t side = sequence.seamSamples / 2;
        if (same)
            std::copy_n(song.begin() + kRate - side, 2 * side, song.begin() + 3 * kRate - side);
        SpanPlayer seamed(song, song, sequence);
        std::vector<float> l(std::size_t(2 * kRate)), r(l.size());
        ASSERT_EQ(seamed.render(l.data(), r.data(), 2 * kRate), 2 * kRate);
        double played = 0, own = 0, worst = 0;
        for (std::int64_t t = kRate - side; t < kRate + side; ++t) {
            played += double(l[std::size_t(t)]) * l[std::size_t(t)];
            own += double(song[std::size_t(t)]) * song[std::size_t(t)];
            worst = std::max(worst, double(std::abs(l[std::size_t(t)] - song[std::size_t(t)])));
        }
        EXPECT_NEAR(played / own, 1, 0.05) << same;
        if (same) {
            EXPECT_LT(worst, 1e-4);
        }
    }
}

// A jump lands where the hits line up: the song's second half has its clicks
// 9 ms late, which the landing takes up (in a fit, a stretch keeps the length).
TEST(MusicFit, AJumpLandsWhereTheHitsLineUp) {
    constexpr double kLate = 0.009;
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0, 0.3f);
    std::vector<float> song(std::size_t(40 * kRate));
    for (std::size_t i = 0; i < song.size(); ++i) {
        const double t = double(i) / kRate - (i >= std::size_t(20 * kRate) ? kLate : 0);
        song[i] = 0.01f * noise(random) + float(std::exp(-std::fmod(t + kBeat, kBeat) * 200)) * noise(random);
    }
    for (const std::int64_t target : {std::int64_t(20) * kRate, std::int64_t(0)}) {
        FitPlan plan;
        plan.found = true;
        plan.jumps = {{10 * kRate, 30 * kRate, 0}};
        plan.sequence = {{{0, 10 * kRate}, {30 * kRate, 40 * kRate}}, kRate / 4, target == 0};
        alignJumps(plan, song, song, target, kRate);
        EXPECT_NEAR(double(plan.jumps[0].to - 30 * kRate) / kRate, kLate, 0.001) << target;
        EXPECT_EQ(plan.sequence.spans[1].from, plan.jumps[0].to);
        if (target > 0) {
            EXPECT_EQ(plan.fittedLength(), target);
            EXPECT_FALSE(plan.stretches.empty());
        }
    }
}

// The jumps in the music file's time, to the tenth where the two read the same second.
TEST(MusicFit, TheReportNamesEveryJump) {
    const MusicFitReport report{MusicFitReport::Kind::Fitted, {{72.2, 108.4}, {36.61, 37.49}, {59.96, 60.3}}, 1.42};
    EXPECT_EQ(musicFitText(report),
              "fit: 3 jumps, 1:12\u2192" "1:48, 0:36.6\u2192" "0:37.5 and 1:00.0\u2192" "1:00.3, tempo +1.4 %");
}

// The whole step on a song file: the plan lasts the video to the sample, and
// its first and last seconds are the decoded song's own samples; the middle
// is stretched at the pitch and the level it had.
TEST(MusicFit, AFittedSongKeepsItsOwnStartAndEndAndLastsTheVideoExactly) {
    const std::string tone = test::scratchFolder() + "/fit-song.wav";
    test::makeMedia("-f lavfi -i 'aevalsrc=0.3*sin(2*PI*440*t)*(0.8+0.2*sin(2*PI*0.3*t)):s=44100:d=20' -ac 2 "
                    "-c:a pcm_f32le",
                    tone);
    // Dense sound, where a phase vocoder loses level.
    const std::string noise = test::scratchFolder() + "/fit-noise.wav";
    test::makeMedia("-f lavfi -i 'anoisesrc=color=pink:seed=7:amplitude=0.3:r=44100:d=20' -ac 2 -c:a pcm_f32le",
                    noise);
    for (const auto &[song, factor] : {std::pair{tone, 1.008}, {tone, 0.992}, {noise, 1.008}}) {
        MixJob job;
        job.request.musicPath = song;
        job.request.durationSeconds = 20 * factor;
        job.result.mode = MixMode::ReencodeMusic;
        job.result.appliedMixSettings.fit = true;
        MixRun run(job);
        ASSERT_EQ(openMusicInput(run), 0) << job.result.errorMessage;
        ASSERT_EQ(fitMusic(run), 0) << job.result.errorMessage;
        ASSERT_TRUE(run.plannedMusic) << factor;
        const PlannedMusic &planned = *run.plannedMusic;
        EXPECT_EQ(planned.stretched.size(), 1u);
        SpanPlayer player(planned.left, planned.right, planned.sequence, &planned.stretched);
        const std::int64_t target = secondsToSamples(job.request.durationSeconds);
        std::vector<float> left(std::size_t(target + 100)), right(left.size());
        ASSERT_EQ(player.render(left.data(), right.data(), std::int64_t(left.size())), target);
        const auto length = std::int64_t(planned.left.size());
        for (std::int64_t i = 0; i < 3 * kRate; ++i)
            ASSERT_EQ(left[std::size_t(i)], planned.left[std::size_t(i)]) << factor << " at " << i;
        for (std::int64_t i = 1; i <= 5 * kRate; ++i)
            ASSERT_EQ(left[std::size_t(target - i)], planned.left[std::size_t(length - i)]) << factor << " at -" << i;
        const auto level = [](const std::vector<float> &x, std::int64_t at, std::int64_t n = 256) {
            double sum = 0;
            for (std::int64_t i = at; i < at + n; ++i)
                sum += double(x[std::size_t(i)]) * x[std::size_t(i)];
            return std::sqrt(sum / double(n));
        };
        if (song == noise) {
            const double ratio = level(left, 5 * kRate, 10 * kRate) / level(planned.left, 5 * kRate, 10 * kRate);
            EXPECT_NEAR(20 * std::log10(ratio), 0, 0.2);
            continue;
        }
        // Where the stretch takes over and gives back, the tone neither dips nor swells (phases lined up).
        for (const ReplacedStretch &piece : planned.stretched)
            for (std::int64_t join : {piece.from, piece.from + std::int64_t(piece.left.size())}) {
                const double early = level(left, join - 6144), late = level(left, join + 2560); // the tone's own slow swell
                for (std::int64_t at = join - 4096; at < join + 2048; at += 256) {
                    const double expected = early + (late - early) * double(at - join + 6144) / 8704;
                    EXPECT_NEAR(level(left, at), expected, 0.05 * expected) << factor << " at " << at - join;
                }
            }
        // 440 Hz stays 440 Hz in the middle: zero crossings per second.
        int crossings = 0;
        for (std::int64_t i = 8 * kRate; i < 10 * kRate; ++i)
            crossings += (left[std::size_t(i)] < 0) != (left[std::size_t(i + 1)] < 0);
        EXPECT_NEAR(crossings, 1760, 6) << factor << " tempo " << run.result.fit.tempoPercent;
    }
}

} // namespace
} // namespace melvora
