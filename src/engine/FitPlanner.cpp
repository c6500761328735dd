// Planning the jumps through a song, and playing the plan.
//
// A jump from beat i to beat j goes unheard when the beats around i sound
// like those around j: the cost of a jump is the mean beat distance over a
// window of beats on both sides. The plan is a shortest path over jumps in
// playing order, layer by layer (one more jump each), so the first layer
// that reaches the target length holds the fewest jumps; within it the
// cheapest path wins, with stretches between jumps kept long.

#include "engine/MusicFit.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace melvora {
namespace {

constexpr int kWindowBeats = 4;           // compared on each side of a jump
constexpr double kOffBarCost = 0.03;      // what a jump by other than whole bars costs extra
constexpr double kOffDownbeatCost = 0.01; // a seam elsewhere than on a downbeat
constexpr int kShortestStretchBeats = 4;
constexpr double kShortestStretchSeconds = 2;
constexpr double kRepeatCost = 1;      // the same span twice in a row
constexpr double kCrowdingCost = 0.15; // a stretch far shorter than an even share
// What is left after the jumps, per beat of it: it is time-stretched, and
// the stretch takes music (and time) in proportion.
constexpr double kRemainderCost = 0.25;
constexpr int kExtraLayers = 2;         // more jumps than the fewest, to leave less
constexpr double kExtraJumpCost = 0.05; // each jump beyond the fewest
constexpr double kLandingShiftSeconds = 0.02;
constexpr double kEqualPlanScore = 0.005;     // plans this close in score sound alike
constexpr double kStretchGuardSeconds = 0.25; // between a stretch and a crossfade
// The tempo change a remainder is taken up at: near the limit, so that little
// music is stretched, with room below it for a short leftover.
constexpr double kStretchTempoChange = 0.012;
constexpr double kShortestTempoStretchSeconds = 2; // the filter's windows settle well within it
constexpr std::size_t kCandidatesPerBeat = 8;
constexpr std::size_t kMostCandidates = 1000;
constexpr std::size_t kMostStates = 2500;

struct Candidate {
    int from, to;      // beat indices
    std::int64_t gain; // samples the jump adds (negative: it shortens)
    double cost;
};

std::int64_t medianBeat(const MusicAnalysis &analysis) {
    std::vector<std::int64_t> intervals;
    for (std::size_t i = 1; i < analysis.beats.size(); ++i)
        intervals.push_back(analysis.beats[i] - analysis.beats[i - 1]);
    if (intervals.empty())
        return analysis.sampleRate / 2;
    std::nth_element(intervals.begin(), intervals.begin() + intervals.size() / 2, intervals.end());
    return intervals[intervals.size() / 2];
}

// About one beat, but neither a click nor a smear.
std::int64_t seamLength(const MusicAnalysis &analysis) {
    const auto rate = double(analysis.sampleRate);
    return std::clamp<std::int64_t>(medianBeat(analysis), std::int64_t(0.1 * rate), std::int64_t(0.75 * rate));
}

// Every jump that a listener should not notice, within the guards, cheapest
// first and a few per beat at most.
std::vector<Candidate> findCandidates(const MusicAnalysis &analysis, std::int64_t earliest, std::int64_t latest,
                                      int direction, int shortestJumpBeats) {
    const int spans = int(analysis.features.size());
    const int beats = int(analysis.beats.size());
    std::vector<float> distance(std::size_t(spans) * spans);
    for (int a = 0; a < spans; ++a)
        for (int b = a; b < spans; ++b)
            distance[std::size_t(a) * spans + b] = distance[std::size_t(b) * spans + a] =
                float(analysis.beatDistance(a, b));
    const double p90 = analysis.noveltyPercentile(0.9);
    // Both well under the song's own 90th-percentile change from beat to
    // beat, the seam itself a little further than its surroundings; the
    // floors, for music that hardly changes, never above that change.
    const double ceiling = p90 > 0 ? p90 : 1;
    const double acceptable = std::min(ceiling, std::max(0.01, 0.4 * p90));
    const double seamAcceptable = std::min(ceiling, std::max(0.02, 0.8 * p90));
    const int bar = std::max(1, analysis.barBeats);

    std::vector<Candidate> all;
    for (int i = kWindowBeats; i + kWindowBeats <= spans && i < beats; ++i) {
        if (analysis.beats[i] < earliest || analysis.beats[i] > latest)
            continue;
        std::vector<Candidate> here;
        for (int j = kWindowBeats; j + kWindowBeats <= spans && j < beats; ++j) {
            if ((j - i) * direction > -shortestJumpBeats || analysis.beats[j] < earliest || analysis.beats[j] > latest)
                continue;
            double sum = 0;
            for (int k = -kWindowBeats; k < kWindowBeats; ++k)
                sum += distance[std::size_t(i + k) * spans + (j + k)];
            double cost = sum / (2 * kWindowBeats);
            // What is heard at the seam itself: the beat before i, then beat j.
            if (cost > acceptable || distance[std::size_t(i - 1) * spans + j] > seamAcceptable)
                continue;
            if ((i - j) % bar != 0)
                cost += kOffBarCost;
            if ((i - analysis.firstDownbeat) % bar != 0)
                cost += kOffDownbeatCost;
            here.push_back({i, j, analysis.beats[i] - analysis.beats[j], cost});
        }
        std::sort(here.begin(), here.end(), [](const Candidate &a, const Candidate &b) {
            return a.cost != b.cost ? a.cost < b.cost : a.to < b.to;
        });
        // Jumps of every size stay on offer, not only the cheapest few of
        // one size: the best of each size in bars.
        std::vector<Candidate> sizes;
        for (const Candidate &c : here) {
            const auto bars = [bar](const Candidate &x) { return (x.to - x.from + 1000 * bar) / bar; };
            if (std::none_of(sizes.begin(), sizes.end(), [&](const Candidate &kept) { return bars(kept) == bars(c); }))
                sizes.push_back(c);
            if (sizes.size() == kCandidatesPerBeat)
                break;
        }
        here = std::move(sizes);
        all.insert(all.end(), here.begin(), here.end());
    }
    std::stable_sort(all.begin(), all.end(), [](const Candidate &a, const Candidate &b) { return a.cost < b.cost; });
    all.resize(std::min(all.size(), kMostCandidates));
    return all;
}

struct State {
    int candidate;
    std::int64_t gain;
    double cost;
    int parent; // in the layer before, -1 in the first
};

SpanSequence sequenceOf(const MusicAnalysis &analysis, const std::vector<FitJump> &jumps) {
    SpanSequence sequence;
    sequence.seamSamples = seamLength(analysis);
    std::int64_t from = 0;
    for (const FitJump &jump : jumps) {
        sequence.spans.push_back({from, jump.from});
        from = jump.to;
    }
    sequence.spans.push_back({from, analysis.length});
    return sequence;
}

// The stretches of a sequence's output that play the song plainly, away
// from its untouched ends and a little away from every crossfade.
std::vector<MusicSpan> plainStretches(const SpanSequence &sequence, int sampleRate, const FitLimits &limits) {
    const auto rate = double(sampleRate);
    const std::int64_t half = sequence.seamSamples / 2;
    const auto guard = std::int64_t(kStretchGuardSeconds * rate);
    std::vector<MusicSpan> plain;
    auto from = std::int64_t(limits.untouchedStartSeconds * rate);
    std::int64_t seam = 0;
    for (std::size_t k = 0; k + 1 < sequence.spans.size(); ++k) {
        seam += sequence.spans[k].to - sequence.spans[k].from;
        plain.push_back({from, seam - half - guard});
        from = seam + half + guard;
    }
    plain.push_back({from, sequence.playedLength() - std::int64_t(limits.untouchedEndSeconds * rate)});
    std::erase_if(plain, [](const MusicSpan &span) { return span.to <= span.from; });
    return plain;
}

// What the stretches of a sequence with this many jumps and this played
// length hold at least (plainStretches less its overlaps).
double stretchable(double played, std::size_t jumps, std::int64_t seamSamples, int sampleRate,
                   const FitLimits &limits) {
    const auto rate = double(sampleRate);
    const double ends = (limits.untouchedStartSeconds + limits.untouchedEndSeconds) * rate;
    const double perSeam = double(seamSamples / 2 * 2) + 2 * std::floor(kStretchGuardSeconds * rate);
    return std::max(0.0, played - ends - double(jumps) * perSeam);
}

} // namespace

std::int64_t FitPlan::fittedLength() const {
    std::int64_t length = sequence.playedLength();
    for (const SequenceStretch &stretch : stretches)
        length += stretch.length - (stretch.to - stretch.from);
    return length;
}

std::optional<std::vector<SequenceStretch>> placeStretches(const SpanSequence &sequence, std::int64_t rest,
                                                           int sampleRate, const FitLimits &limits) {
    std::vector<SequenceStretch> chosen;
    if (rest == 0)
        return chosen;
    std::vector<MusicSpan> plain = plainStretches(sequence, sampleRate, limits);
    std::stable_sort(plain.begin(), plain.end(),
                     [](const MusicSpan &a, const MusicSpan &b) { return a.to - a.from > b.to - b.from; });
    // Only as much music as the rest needs at the aimed change is stretched,
    // from the middle of the longest plain stretches: the time-stretching
    // costs by the second, and the rest keeps the song's own samples.
    const double aim = std::min(kStretchTempoChange, limits.largestTempoChange);
    const auto shortestPiece = std::int64_t(kShortestTempoStretchSeconds * double(sampleRate));
    const auto needed = std::max(std::int64_t(std::ceil(double(std::abs(rest)) / aim)), shortestPiece);
    const auto reach = [&](std::int64_t total) { return limits.largestTempoChange * double(total); };
    std::vector<MusicSpan> used;
    std::int64_t total = 0;
    for (const MusicSpan &span : plain) {
        const std::int64_t missing = needed - total;
        // A short leftover is taken a little faster by the pieces already
        // chosen rather than by a piece of its own.
        if (missing <= 0 || (missing < shortestPiece && double(std::abs(rest)) <= reach(total)))
            break;
        const std::int64_t length = span.to - span.from;
        const std::int64_t taken = std::min(length, std::max(missing, shortestPiece));
        const std::int64_t from = span.from + (length - taken) / 2;
        used.push_back({from, from + taken});
        total += taken;
    }
    if (double(std::abs(rest)) > reach(total))
        return std::nullopt;
    std::sort(used.begin(), used.end(), [](const MusicSpan &a, const MusicSpan &b) { return a.from < b.from; });
    // One speed for all: each takes its share, the last what is left.
    std::int64_t given = 0;
    for (std::size_t k = 0; k < used.size(); ++k) {
        const std::int64_t length = used[k].to - used[k].from;
        const std::int64_t share =
            k + 1 == used.size() ? rest - given : std::llround(double(rest) * double(length) / double(total));
        given += share;
        chosen.push_back({used[k].from, used[k].to, length + share});
    }
    return chosen;
}

bool stretchToLength(FitPlan &plan, std::int64_t targetSamples, int sampleRate, const FitLimits &limits) {
    std::optional<std::vector<SequenceStretch>> stretches =
        placeStretches(plan.sequence, targetSamples - plan.sequence.playedLength(), sampleRate, limits);
    if (!stretches)
        return false;
    plan.stretches = std::move(*stretches);
    std::int64_t from = 0, to = 0;
    for (const SequenceStretch &stretch : plan.stretches)
        from += stretch.to - stretch.from, to += stretch.length;
    plan.tempo = to > 0 ? double(from) / double(to) : 1;
    return true;
}

std::int64_t SpanSequence::playedLength() const {
    std::int64_t length = 0;
    for (const MusicSpan &span : spans)
        length += span.to - span.from;
    return length;
}

FitPlan planFit(const MusicAnalysis &analysis, std::int64_t targetSamples, const FitLimits &limits,
                const std::atomic<std::uint8_t> *stop) {
    FitPlan plan;
    const std::int64_t length = analysis.length;
    if (length <= 0 || targetSamples <= 0)
        return plan;
    const double target = double(targetSamples);
    const double lowest = target * (1 - limits.largestTempoChange);
    const double highest = target / (1 - limits.largestTempoChange);
    const std::int64_t seam = seamLength(analysis);
    // Whether the stretches of a sequence this long with this many jumps can
    // take up the rest.
    const auto reaches = [&](double played, std::size_t jumps) {
        return std::abs(target - played) <=
               limits.largestTempoChange * stretchable(played, jumps, seam, analysis.sampleRate, limits);
    };
    const auto finish = [&](FitPlan &done) {
        if (stretchToLength(done, targetSamples, analysis.sampleRate, limits))
            done.found = true;
    };
    if (reaches(double(length), 0)) {
        plan.sequence = sequenceOf(analysis, {});
        finish(plan);
        if (plan.found)
            return plan;
    }
    if (analysis.features.size() < std::size_t(4 * kWindowBeats))
        return plan;

    const auto rate = double(analysis.sampleRate);
    const std::int64_t half = seam / 2 + 1;
    const std::int64_t earliest = std::int64_t(limits.untouchedStartSeconds * rate) + half;
    const std::int64_t latest = length - std::int64_t(limits.untouchedEndSeconds * rate) - half;
    if (latest <= earliest)
        return plan;
    const int direction = target > double(length) ? 1 : -1;
    const std::vector<Candidate> candidates = findCandidates(analysis, earliest, latest, direction, 2);
    if (candidates.empty())
        return plan;
    plan.placesToJump = true;

    const double need = target - double(length);
    std::int64_t largestGain = 0;
    for (const Candidate &c : candidates)
        largestGain = std::max(largestGain, std::abs(c.gain));
    const double expectedJumps = std::max(1.0, std::ceil(std::abs(need) / double(largestGain)));
    const double evenStretch = std::min(target, double(length)) / (expectedJumps + 1);
    const auto crowding = [&](std::int64_t stretch) {
        return kCrowdingCost * std::max(0.0, 1 - double(stretch) / (0.5 * evenStretch));
    };
    const std::int64_t shortestStretch = std::int64_t(kShortestStretchSeconds * rate);
    const std::int64_t beat = medianBeat(analysis);
    // Fine enough that paths ending a small fraction of a beat apart are kept apart.
    const double gainBin = std::max<double>(1, double(beat) / 4);

    std::vector<std::vector<State>> layers;
    int bestLayer = -1, bestState = -1, firstLayer = -1;
    double bestScore = 0;
    const auto remainderOf = [&](int depth, int s) {
        return std::abs(length + layers[std::size_t(depth)][std::size_t(s)].gain - targetSamples);
    };
    // The fewest jumps that reach the target, or a few more where those
    // leave more than a beat to stretch.
    const auto searching = [&](int depth) {
        return bestLayer < 0 || (depth <= firstLayer + kExtraLayers && remainderOf(bestLayer, bestState) > beat);
    };
    for (int depth = 0; depth < limits.mostJumps && searching(depth); ++depth) {
        if (stop && stop->load())
            return plan;
        // The cheapest path to each (last jump, length bin): jump by jump,
        // the paths before it in a small array by bin. Among equally cheap
        // ones the path from the earliest state of the layer before stays.
        const auto pastTarget = [&](std::int64_t gain) {
            const double total = double(length + gain);
            // Past the target already: more jumps the same way only take it further.
            return (direction > 0 && total > highest) || (direction < 0 && total < lowest);
        };
        const auto binOf = [&](std::int64_t gain) { return std::int64_t(std::floor(double(gain) / gainBin)); };
        std::vector<State> layer;
        if (depth == 0) {
            for (int c = 0; c < int(candidates.size()); ++c)
                if (!pastTarget(candidates[c].gain))
                    layer.push_back(
                        {c, candidates[c].gain, candidates[c].cost + crowding(analysis.beats[candidates[c].from]), -1});
        } else {
            const std::vector<State> &previous = layers.back();
            std::vector<int> byLanding(previous.size());
            std::int64_t fewest = previous[0].gain, most = previous[0].gain;
            for (int s = 0; s < int(previous.size()); ++s) {
                byLanding[std::size_t(s)] = s;
                fewest = std::min(fewest, previous[s].gain), most = std::max(most, previous[s].gain);
            }
            std::stable_sort(byLanding.begin(), byLanding.end(), [&](int a, int b) {
                return candidates[previous[a].candidate].to < candidates[previous[b].candidate].to;
            });
            std::vector<int> atBin;
            for (int c = 0; c < int(candidates.size()); ++c) {
                const Candidate &next = candidates[c];
                // Only paths whose last jump lands far enough before it.
                const auto end = std::partition_point(byLanding.begin(), byLanding.end(), [&](int s) {
                    return next.from - candidates[previous[s].candidate].to >= kShortestStretchBeats;
                });
                const std::int64_t firstBin = binOf(fewest + next.gain);
                atBin.assign(std::size_t(binOf(most + next.gain) - firstBin + 1), -1);
                for (auto at = byLanding.begin(); at != end; ++at) {
                    const int s = *at;
                    const Candidate &last = candidates[previous[s].candidate];
                    const std::int64_t stretch = analysis.beats[next.from] - analysis.beats[last.to];
                    const std::int64_t gain = previous[s].gain + next.gain;
                    if (stretch < shortestStretch || pastTarget(gain))
                        continue;
                    const double repeat = c == previous[s].candidate ? kRepeatCost : 0;
                    const State state{c, gain, previous[s].cost + next.cost + crowding(stretch) + repeat, s};
                    int &kept = atBin[std::size_t(binOf(gain) - firstBin)];
                    if (kept < 0) {
                        kept = int(layer.size());
                        layer.push_back(state);
                    } else if (State &old = layer[std::size_t(kept)];
                               state.cost < old.cost || (state.cost == old.cost && s < old.parent)) {
                        old = state;
                    }
                }
            }
        }
        // Ties go by jump and gain.
        const auto before = [](const State &a, const State &b) {
            return a.cost != b.cost ? a.cost < b.cost
                                    : (a.candidate != b.candidate ? a.candidate < b.candidate : a.gain < b.gain);
        };
        if (layer.size() <= kMostStates) {
            std::sort(layer.begin(), layer.end(), before);
        } else {
            // The cheapest path to each length first, so that every length
            // reached stays on offer to the next jump; then the cheapest.
            // Only what is kept is sorted.
            std::int64_t lowest = binOf(layer[0].gain), highest = lowest;
            for (const State &state : layer)
                lowest = std::min(lowest, binOf(state.gain)), highest = std::max(highest, binOf(state.gain));
            std::vector<int> cheapestAt(std::size_t(highest - lowest + 1), -1);
            for (int k = 0; k < int(layer.size()); ++k) {
                int &at = cheapestAt[std::size_t(binOf(layer[std::size_t(k)].gain) - lowest)];
                if (at < 0 || before(layer[std::size_t(k)], layer[std::size_t(at)]))
                    at = k;
            }
            std::vector<State> kept, rest;
            std::vector<bool> isKept(layer.size(), false);
            for (int at : cheapestAt)
                if (at >= 0)
                    kept.push_back(layer[std::size_t(at)]), isKept[std::size_t(at)] = true;
            for (std::size_t k = 0; k < layer.size(); ++k)
                if (!isKept[k])
                    rest.push_back(layer[k]);
            std::sort(kept.begin(), kept.end(), before);
            kept.resize(std::min(kept.size(), kMostStates));
            const std::size_t more = std::min(rest.size(), kMostStates - kept.size());
            std::nth_element(rest.begin(), rest.begin() + std::ptrdiff_t(more), rest.end(), before);
            rest.resize(more);
            std::sort(rest.begin(), rest.end(), before);
            kept.insert(kept.end(), rest.begin(), rest.end());
            std::stable_sort(kept.begin(), kept.end(), [](const State &a, const State &b) { return a.cost < b.cost; });
            layer = std::move(kept);
        }
        if (layer.empty())
            break;
        layers.push_back(std::move(layer));
        const std::vector<State> &states = layers.back();
        std::vector<std::pair<double, int>> scored;
        int layerBest = -1;
        for (int s = 0; s < int(states.size()); ++s) {
            const double total = double(length + states[s].gain);
            if (!reaches(total, std::size_t(depth + 1)))
                continue;
            const Candidate &last = candidates[states[s].candidate];
            const double score = states[s].cost + crowding(length - analysis.beats[last.to]) +
                                 kRemainderCost * std::abs(total - target) / double(beat) +
                                 kExtraJumpCost * (firstLayer < 0 ? 0 : depth - firstLayer);
            scored.push_back({score, s});
            if (layerBest < 0 || score < scored[std::size_t(layerBest)].first)
                layerBest = int(scored.size()) - 1;
        }
        if (layerBest < 0)
            continue;
        // Among plans as good as the best, the one that leaves the least to
        // stretch: that is less music through the tempo filter, or none.
        const double layerScore = scored[std::size_t(layerBest)].first;
        int chosen = scored[std::size_t(layerBest)].second;
        for (const auto &[score, s] : scored)
            if (score <= layerScore + kEqualPlanScore && remainderOf(depth, s) < remainderOf(depth, chosen))
                chosen = s;
        if (firstLayer < 0)
            firstLayer = depth;
        if (bestLayer < 0 || layerScore < bestScore) {
            bestLayer = depth;
            bestState = chosen;
            bestScore = layerScore;
        }
    }
    if (bestLayer < 0)
        return plan;

    for (int layer = bestLayer, s = bestState; layer >= 0 && s >= 0; --layer) {
        const State &state = layers[layer][s];
        const Candidate &c = candidates[state.candidate];
        plan.jumps.push_back({analysis.beats[c.from], analysis.beats[c.to], c.cost});
        s = state.parent;
    }
    std::reverse(plan.jumps.begin(), plan.jumps.end());
    // A remainder under a frame's worth is taken by moving the last landing
    // a few milliseconds instead: the tempo filter, however slight, smears
    // the drums a little.
    const std::int64_t remainder = length + layers[bestLayer][bestState].gain - targetSamples;
    if (std::abs(remainder) <= std::int64_t(kLandingShiftSeconds * rate))
        plan.jumps.back().to += remainder;
    plan.sequence = sequenceOf(analysis, plan.jumps);
    finish(plan);
    return plan;
}

FitPlan planLoop(const MusicAnalysis &analysis) {
    FitPlan plan;
    if (analysis.features.size() < std::size_t(4 * kWindowBeats))
        return plan;
    const std::int64_t half = seamLength(analysis) / 2 + 1;
    const std::int64_t earliest = std::int64_t(analysis.sampleRate) + half;
    const std::int64_t latest = analysis.length - half;
    const std::vector<Candidate> candidates = findCandidates(analysis, earliest, latest, 1, 8);
    const Candidate *best = nullptr;
    double bestScore = 0;
    for (const Candidate &c : candidates) {
        // A long loop repeats less often; a seam that is heard is worse.
        const double score = c.cost + 0.3 * (1 - double(c.gain) / double(analysis.length));
        if (!best || score < bestScore) {
            best = &c;
            bestScore = score;
        }
    }
    if (!best)
        return plan;
    plan.found = true;
    plan.jumps.push_back({analysis.beats[best->from], analysis.beats[best->to], best->cost});
    plan.sequence.seamSamples = seamLength(analysis);
    plan.sequence.spans = {{0, plan.jumps[0].from}, {plan.jumps[0].to, plan.jumps[0].from}};
    plan.sequence.repeatLast = true;
    return plan;
}

SpanPlayer::SpanPlayer(const std::vector<float> &left, const std::vector<float> &right, SpanSequence sequence,
                       const std::vector<ReplacedStretch> *replaced)
    : m_replaced(replaced), m_left(left), m_right(right), m_sequence(std::move(sequence)) {}

std::int64_t SpanPlayer::render(float *left, float *right, std::int64_t count) {
    std::int64_t produced = 0;
    while (produced < count) {
        const ReplacedStretch *piece =
            m_replaced && m_replacedIndex < m_replaced->size() ? &(*m_replaced)[m_replacedIndex] : nullptr;
        if (piece && m_replacedPosition < 0 && m_sequencePosition == piece->from)
            m_replacedPosition = 0;
        if (piece && m_replacedPosition >= 0) {
            const auto length = std::int64_t(piece->left.size());
            const std::int64_t n = std::min(count - produced, length - m_replacedPosition);
            std::copy_n(piece->left.begin() + m_replacedPosition, n, left + produced);
            std::copy_n(piece->right.begin() + m_replacedPosition, n, right + produced);
            produced += n;
            m_replacedPosition += n;
            if (m_replacedPosition < length)
                continue;
            // The sequence's own samples of the stretch are passed over.
            constexpr std::int64_t kBlock = 4096;
            m_skipped[0].resize(kBlock);
            m_skipped[1].resize(kBlock);
            while (m_sequencePosition < piece->to) {
                const std::int64_t skipped = renderSequence(m_skipped[0].data(), m_skipped[1].data(),
                                                            std::min(kBlock, piece->to - m_sequencePosition));
                if (skipped == 0)
                    break;
                m_sequencePosition += skipped;
            }
            m_replacedPosition = -1;
            ++m_replacedIndex;
            continue;
        }
        const std::int64_t wanted =
            piece ? std::min(count - produced, piece->from - m_sequencePosition) : count - produced;
        const std::int64_t n = renderSequence(left + produced, right + produced, wanted);
        if (n == 0)
            break;
        produced += n;
        m_sequencePosition += n;
    }
    return produced;
}

void SpanPlayer::measureSeam(std::int64_t a, std::int64_t b, std::int64_t length) {
    m_seamCorrelation.assign(std::size_t((length + kSeamBlock - 1) / kSeamBlock), 0.0f);
    for (std::size_t block = 0; block < m_seamCorrelation.size(); ++block) {
        // The samples and their differences, which hear the highs that make
        // a hit: the two sides count as together when either moves alike.
        double product[2] = {}, aEnergy[2] = {}, bEnergy[2] = {};
        const std::int64_t from = std::int64_t(block) * kSeamBlock, to = std::min(length, from + kSeamBlock);
        for (int c = 0; c < 2; ++c) {
            for (std::int64_t t = from; t < to; ++t) {
                const double x = sample(c, a + t), y = sample(c, b + t);
                const double dx = x - sample(c, a + t - 1), dy = y - sample(c, b + t - 1);
                product[0] += x * y, aEnergy[0] += x * x, bEnergy[0] += y * y;
                product[1] += dx * dy, aEnergy[1] += dx * dx, bEnergy[1] += dy * dy;
            }
        }
        double together = 0;
        for (int k = 0; k < 2; ++k)
            if (aEnergy[k] > 1e-12 && bEnergy[k] > 1e-12)
                together = std::max(together, product[k] / std::sqrt(aEnergy[k] * bEnergy[k]));
        m_seamCorrelation[block] = float(std::clamp(together, 0.0, 1.0));
    }
}

double SpanPlayer::seamCorrelation(std::int64_t t) const {
    // Between the blocks' centres, so that the gains have no step.
    const double at = (double(t) + 0.5) / kSeamBlock - 0.5;
    const auto last = std::int64_t(m_seamCorrelation.size()) - 1;
    const auto below = std::clamp<std::int64_t>(std::int64_t(std::floor(at)), 0, last);
    const std::int64_t above = std::min(below + 1, last);
    const double w = std::clamp(at - double(below), 0.0, 1.0);
    return m_seamCorrelation[std::size_t(below)] * (1 - w) + m_seamCorrelation[std::size_t(above)] * w;
}

float SpanPlayer::sample(int channel, std::int64_t at) const {
    const std::vector<float> &plane = channel == 0 ? m_left : m_right;
    return at >= 0 && at < std::int64_t(plane.size()) ? plane[std::size_t(at)] : 0.0f;
}

std::int64_t SpanPlayer::renderSequence(float *left, float *right, std::int64_t count) {
    const std::vector<MusicSpan> &spans = m_sequence.spans;
    const std::int64_t half = m_sequence.seamSamples / 2;
    std::int64_t produced = 0;
    while (produced < count && m_span < spans.size()) {
        const MusicSpan &span = spans[m_span];
        const bool last = m_span + 1 == spans.size();
        const bool goesOn = !last || m_sequence.repeatLast;
        const std::size_t nextIndex = last ? m_span : m_span + 1;
        // Each span's own output: its middle plain, then the seam into the next.
        const std::int64_t in = m_span > 0 ? half : 0;
        const std::int64_t out = goesOn ? half : 0;
        const std::int64_t plain = std::max<std::int64_t>(0, span.to - out - (span.from + in));
        if (m_position < plain) {
            const std::int64_t n = std::min(count - produced, plain - m_position);
            for (std::int64_t k = 0; k < n; ++k) {
                left[produced + k] = sample(0, span.from + in + m_position + k);
                right[produced + k] = sample(1, span.from + in + m_position + k);
            }
            produced += n;
            m_position += n;
        } else if (m_position < plain + 2 * out) {
            const MusicSpan &next = spans[nextIndex];
            const std::int64_t n = std::min(count - produced, plain + 2 * out - m_position);
            if (m_seamCorrelationOf != m_span) {
                measureSeam(span.to - out, next.from - out, 2 * out);
                m_seamCorrelationOf = m_span;
            }
            for (std::int64_t k = 0; k < n; ++k) {
                const std::int64_t t = m_position + k - plain;
                const double angle = std::numbers::pi / 2 * (double(t) + 0.5) / double(2 * out);
                // Equal power for sounds that differ; where the two sides
                // move together (the same drum hit on both) the gains are
                // brought down to sum to one, so that the hit is not doubled.
                const double together = seamCorrelation(t);
                const double keep = 1 / std::sqrt(1 + together * std::sin(2 * angle));
                const double fadingOut = std::cos(angle) * keep, fadingIn = std::sin(angle) * keep;
                const std::int64_t a = span.to - out + t, b = next.from - out + t;
                left[produced + k] = float(sample(0, a) * fadingOut + sample(0, b) * fadingIn);
                right[produced + k] = float(sample(1, a) * fadingOut + sample(1, b) * fadingIn);
            }
            produced += n;
            m_position += n;
        } else {
            if (!goesOn) {
                ++m_span;
                continue;
            }
            m_span = nextIndex;
            m_position = 0;
        }
    }
    return produced;
}

} // namespace melvora
