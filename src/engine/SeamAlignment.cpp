// Landing a jump where the hits line up. The beat tracker gives a beat to
// its hop (11.6 ms) and drifts a little within a song, so the beat a jump
// lands on can sit some milliseconds off the one it leaves: the drums flam
// across the crossfade and the groove stumbles. The song's attacks around
// both places are compared and the landing moved to where they coincide.

#include "engine/MusicFit.h"

#include <algorithm>
#include <cmath>

namespace melvora {
namespace {

constexpr double kMostShiftSeconds = 0.03;
constexpr double kComparedSeconds = 0.25; // on each side of the seam
constexpr std::int64_t kBlock = 32;       // 0.7 ms
// Below this the attacks are not alike enough to say where they line up.
constexpr double kAlikeAttacks = 0.5;
// What a shift must gain over staying, so that noise does not move a seam.
constexpr double kWorthMoving = 0.05;

// How fast the sound changes, block by block: the first difference's RMS,
// which the highs of every attack dominate.
std::vector<double> attacks(const std::vector<float> &left, const std::vector<float> &right, std::int64_t from,
                            std::int64_t blocks) {
    const auto at = [&](std::int64_t i) {
        return i >= 0 && i < std::int64_t(left.size()) ? double(left[std::size_t(i)]) + right[std::size_t(i)] : 0.0;
    };
    std::vector<double> envelope(static_cast<std::size_t>(blocks));
    for (std::int64_t b = 0; b < blocks; ++b) {
        double energy = 0;
        for (std::int64_t i = from + b * kBlock; i < from + (b + 1) * kBlock; ++i)
            energy += (at(i) - at(i - 1)) * (at(i) - at(i - 1));
        envelope[std::size_t(b)] = std::sqrt(energy);
    }
    return envelope;
}

double correlation(const std::vector<double> &a, const std::vector<double> &b, std::size_t bFrom) {
    const std::size_t n = a.size();
    double meanA = 0, meanB = 0;
    for (std::size_t i = 0; i < n; ++i)
        meanA += a[i], meanB += b[bFrom + i];
    meanA /= double(n), meanB /= double(n);
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double x = a[i] - meanA, y = b[bFrom + i] - meanB;
        ab += x * y, aa += x * x, bb += y * y;
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

// How far to move a landing at to so that its attacks match those at from.
std::int64_t landingShift(const std::vector<float> &left, const std::vector<float> &right, std::int64_t from,
                          std::int64_t to, int sampleRate) {
    const auto most = std::int64_t(kMostShiftSeconds * sampleRate) / kBlock;
    const auto compared = std::int64_t(kComparedSeconds * sampleRate) / kBlock;
    const std::vector<double> leaving = attacks(left, right, from - compared * kBlock, 2 * compared);
    const std::vector<double> landing =
        attacks(left, right, to - (compared + most) * kBlock, 2 * (compared + most));
    const double staying = correlation(leaving, landing, std::size_t(most));
    double best = staying;
    std::int64_t shift = 0;
    for (std::int64_t lag = -most; lag <= most; ++lag) {
        const double r = correlation(leaving, landing, std::size_t(most + lag));
        if (r > best + 1e-12 || (r == best && std::abs(lag) < std::abs(shift)))
            best = r, shift = lag;
    }
    return best >= kAlikeAttacks && best >= staying + kWorthMoving ? shift * kBlock : 0;
}

} // namespace

void alignJumps(FitPlan &plan, const std::vector<float> &left, const std::vector<float> &right,
                std::int64_t targetSamples, int sampleRate, const FitLimits &limits) {
    if (!plan.found || plan.jumps.empty() || plan.sequence.spans.size() != plan.jumps.size() + 1)
        return;
    FitPlan aligned = plan;
    bool moved = false;
    for (std::size_t k = 0; k < aligned.jumps.size(); ++k) {
        FitJump &jump = aligned.jumps[k];
        MusicSpan &next = aligned.sequence.spans[k + 1];
        const std::int64_t shift = landingShift(left, right, jump.from, jump.to, sampleRate);
        // The span after the landing keeps room for both halves of its seams.
        if (shift == 0 || next.to - (next.from + shift) < 2 * aligned.sequence.seamSamples ||
            jump.to + shift - aligned.sequence.seamSamples < 0)
            continue;
        jump.to += shift;
        next.from += shift;
        moved = true;
    }
    if (!moved)
        return;
    // What the shifts add or take must be taken up, or the plan stays as it was.
    if (targetSamples > 0 && !stretchToLength(aligned, targetSamples, sampleRate, limits))
        return;
    plan = std::move(aligned);
}

} // namespace melvora
