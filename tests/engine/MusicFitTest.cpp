#include "engine/MusicFit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

namespace melvora {
namespace {

constexpr int kRate = 44100;
constexpr double kBeat = 0.5;       // 120 BPM
constexpr int kSectionBeats = 16;   // four bars
constexpr char kForm[] = "ABAC";    // A comes back; C is the ending
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

const MusicAnalysis &analysed() {
    static const std::vector<float> song = structuredSong();
    static const MusicAnalysis analysis = analyseMusic(song.data(), song.size(), kRate);
    return analysis;
}

// On the generated beat grid, to a few milliseconds (the tracker's hop).
bool onBeat(std::int64_t sample) {
    const double intoBeat = std::fmod(double(sample) / kRate + 0.25 * kBeat, kBeat) - 0.25 * kBeat;
    return std::abs(intoBeat) < 0.03;
}

TEST(MusicFit, FindsTheBeat) {
    const MusicAnalysis &analysis = analysed();
    ASSERT_TRUE(analysis.beatUsable);
    ASSERT_GE(analysis.beats.size(), 40u);
    int on = 0;
    for (std::int64_t beat : analysis.beats)
        on += onBeat(beat);
    EXPECT_GE(on, int(analysis.beats.size()) * 9 / 10);
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
    EXPECT_LE(std::abs(plan.tempo - 1), 0.015);
    EXPECT_NEAR(double(plan.sequence.playedLength()) / plan.tempo, double(target), 1);
    const std::vector<MusicSpan> &spans = plan.sequence.spans;
    ASSERT_EQ(spans.size(), plan.jumps.size() + 1);
    EXPECT_EQ(spans.front().from, 0);
    EXPECT_EQ(spans.back().to, analysis.length);
    EXPECT_GE(spans.front().to, 3 * kRate);                // the first seconds untouched
    EXPECT_LE(spans.back().from, analysis.length - 5 * kRate); // and the last seconds
    EXPECT_EQ(plan.jumps.size(), fewestJumps);
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
    const FitPlan close = planFit(analysis, std::llround(songSeconds() * 1.01 * kRate));
    ASSERT_TRUE(close.found);
    EXPECT_TRUE(close.jumps.empty());
    EXPECT_NEAR(close.tempo, 1 / 1.01, 1e-6);

    // A sweep never sounds the same twice: nothing to jump between.
    std::vector<float> sweep(std::size_t(30 * kRate));
    for (std::size_t i = 0; i < sweep.size(); ++i) {
        const double t = double(i) / kRate;
        sweep[i] = float(0.3 * std::sin(2 * std::numbers::pi * (100 * t + 40 * t * t)));
    }
    const MusicAnalysis unique = analyseMusic(sweep.data(), sweep.size(), kRate);
    EXPECT_FALSE(planFit(unique, 20 * kRate).found);
    EXPECT_FALSE(planLoop(unique).found);
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
}

} // namespace
} // namespace melvora
