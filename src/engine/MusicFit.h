#pragma once

// Fitting a song to a length by jumping where it repeats itself, and looping
// it at its own seams. No FFmpeg here: plain float buffers go in (the song,
// decoded, from the music-start point), a plan of source spans comes out, and
// the span player renders a plan from the same buffers. Everything is
// deterministic: the same song and length give the same jumps on every run.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace melvora {

// What the song is made of, beat by beat.
struct MusicAnalysis {
    static constexpr int kChroma = 12;
    static constexpr int kTimbre = 12;
    using Features = std::array<float, kChroma + kTimbre + 1>; // chroma, cepstrum, loudness (dB)

    int sampleRate = 44100;
    std::int64_t length = 0; // samples
    // Sample positions of the beats, ascending; without a usable beat a
    // fixed grid stands in and only the timbre is compared.
    std::vector<std::int64_t> beats;
    bool beatUsable = false;
    double tempoBpm = 0;
    // Beats to a bar (2, 3 or 4, found from where the sound changes most;
    // 1 without a usable beat) and the first downbeat's beat index.
    int barBeats = 4;
    int firstDownbeat = 0;
    // One row per span between consecutive beats.
    std::vector<Features> features;

    // How different the sound around beat span a is from that around span b:
    // 0 the same, about 1 nothing alike.
    double beatDistance(std::size_t a, std::size_t b) const;
    // The song's own beat-to-beat change at its given percentile (0..1).
    double noveltyPercentile(double fraction) const;
};

// Beats (aubio's tempo tracker) and beat-synchronous chroma, cepstrum and
// loudness of a mono signal, on two threads. Once stop is set it returns
// soon, without beats or features.
MusicAnalysis analyseMusic(const float *mono, std::size_t count, int sampleRate,
                           const std::atomic<std::uint8_t> *stop = nullptr);

// A stretch of the song, [from, to) in samples.
struct MusicSpan {
    std::int64_t from = 0;
    std::int64_t to = 0;
    friend bool operator==(const MusicSpan &, const MusicSpan &) = default;
};

// The order the song is played in: the spans one after another, each seam
// a crossfade of seamSamples centred on it (equal in power where the two
// sides differ, in amplitude where they move together). With repeatLast the
// last span plays again and again (a loop at the song's own seam).
struct SpanSequence {
    std::vector<MusicSpan> spans;
    std::int64_t seamSamples = 0;
    bool repeatLast = false;
    std::int64_t playedLength() const; // without repeats
};

struct FitJump {
    std::int64_t from = 0; // beat the song leaves
    std::int64_t to = 0;   // beat it goes on from
    double cost = 0;       // how audible, 0 not at all
};

// A stretch of a sequence's output, [from, to), played in length samples
// instead, its pitch kept: what the jumps leave over is taken up in the
// middle of the song, away from its start, its end and the seams.
struct SequenceStretch {
    std::int64_t from = 0;
    std::int64_t to = 0;
    std::int64_t length = 0;
    friend bool operator==(const SequenceStretch &, const SequenceStretch &) = default;
};

struct FitPlan {
    bool found = false;
    // Whether the song has places a jump would go unheard at; without found,
    // none of their combinations makes the length.
    bool placesToJump = false;
    std::vector<FitJump> jumps;
    SpanSequence sequence;
    // Played slower or faster, these take the sequence to exactly the target
    // length; none when the jumps reach it.
    std::vector<SequenceStretch> stretches;
    // Their playing speed (1.01 plays 1 % faster); 1 without a stretch.
    double tempo = 1;
    std::int64_t fittedLength() const;
};

struct FitLimits {
    double largestTempoChange = 0.015;
    double untouchedStartSeconds = 3;
    double untouchedEndSeconds = 5;
    int mostJumps = 24;
};

// The fewest jumps that make the song last targetSamples, spread out, on
// beats, between places that sound alike; the rest is left to the tempo.
// A song already within the tempo's reach gets no jump. found is false when
// no acceptable plan exists, or once stop is set (looked at every jump).
FitPlan planFit(const MusicAnalysis &analysis, std::int64_t targetSamples, const FitLimits &limits = {},
                const std::atomic<std::uint8_t> *stop = nullptr);

// Where the rest (target less played length) is taken up: only as much
// music as it needs at a change somewhat under largestTempoChange (two
// seconds at least), from the middle of the longest stretches between the
// untouched ends and the seams, all at one speed. Empty when rest is 0;
// nullopt when it is more than they can take.
std::optional<std::vector<SequenceStretch>> placeStretches(const SpanSequence &sequence, std::int64_t rest,
                                                           int sampleRate, const FitLimits &limits = {});

// The stretches (placeStretches) that take a plan's sequence to
// targetSamples, and their tempo; false, the plan as it was, when the
// sequence cannot be taken there.
bool stretchToLength(FitPlan &plan, std::int64_t targetSamples, int sampleRate, const FitLimits &limits = {});

// The song's own best loop: from its start to a late beat, then back to an
// early beat that sounds like it, for ever. found is false without one.
FitPlan planLoop(const MusicAnalysis &analysis);

// Moves each jump's landing (by up to 30 ms) to where the song's attacks
// around it line up with those where it leaves, so that the drums do not
// flam across the seam; a fit's stretches are placed again to keep
// targetSamples (0 for a loop, which has no length to keep). The plan stays
// as it was where the shifts cannot be taken up.
void alignJumps(FitPlan &plan, const std::vector<float> &left, const std::vector<float> &right,
                std::int64_t targetSamples, int sampleRate, const FitLimits &limits = {});

// Samples that play instead of [from, to) of a sequence's output (a
// stretch, time-stretched).
struct ReplacedStretch {
    std::int64_t from = 0;
    std::int64_t to = 0;
    std::vector<float> left, right;
};

// Renders a sequence from the song's two channels, with the replaced
// stretches (ascending, apart; they must outlive the player) in their places.
class SpanPlayer {
public:
    SpanPlayer(const std::vector<float> &left, const std::vector<float> &right, SpanSequence sequence,
               const std::vector<ReplacedStretch> *replaced = nullptr);
    // Writes up to count samples to each plane; fewer (0 at the end) once
    // the sequence is over.
    std::int64_t render(float *left, float *right, std::int64_t count);

private:
    float sample(int channel, std::int64_t at) const;
    std::int64_t renderSequence(float *left, float *right, std::int64_t count);
    // How alike the two sides of a seam are, block by block: a from one
    // side's start, b from the other's, length samples.
    void measureSeam(std::int64_t a, std::int64_t b, std::int64_t length);
    double seamCorrelation(std::int64_t t) const;

    static constexpr std::int64_t kSeamBlock = 256;
    std::vector<float> m_seamCorrelation;
    std::size_t m_seamCorrelationOf = std::size_t(-1); // the span whose seam it is

    const std::vector<ReplacedStretch> *m_replaced;
    std::size_t m_replacedIndex = 0;
    std::int64_t m_sequencePosition = 0;  // in the sequence's own output
    std::int64_t m_replacedPosition = -1; // within the current replacement, -1 outside one
    std::vector<float> m_skipped[2];

    const std::vector<float> &m_left;
    const std::vector<float> &m_right;
    SpanSequence m_sequence;
    std::size_t m_span = 0;
    std::int64_t m_position = 0; // within the current span's own output
};

} // namespace melvora
