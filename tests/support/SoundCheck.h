#pragma once

// Sound made in the process and judged against its exact source: rich test
// music, 1024-sample frames of it, AAC decoding and block-by-block SNR. Used
// by the engine tests and by the benchmark, so it links no test framework.

#include "engine/LoopHelpers.h"

#include <cstdint>
#include <vector>

namespace melvora::test {

constexpr int kSoundRate = 44100;
constexpr int kBlock = 1024;

struct StereoSound {
    std::vector<float> left, right;
    std::size_t size() const { return left.size(); }
};

// Deterministic music of rich content: changing chords of harmonic notes
// panned across the stereo field, a noise bed with hiss bursts, kicks,
// snares and hi-hat clicks (transients that make the encoder switch to short
// windows). Made piece by piece, so long streams need no memory.
class RichMusic {
public:
    explicit RichMusic(std::uint32_t seed = 1);
    void fill(float *left, float *right, int count);
    StereoSound make(double seconds);

private:
    float noise();
    std::int64_t m_sample = 0;
    std::uint32_t m_state;
    float m_pinkLeft = 0, m_pinkRight = 0, m_hatLast = 0;
    double m_phases[4][5] = {};
    double m_increments[4] = {};
    double m_chordLevel = 0, m_kickLevel = 0, m_kickPhase = 0, m_snareLevel = 0, m_hatLevel = 0;
};

// Planar float stereo frames of 1024 samples (the last one shorter), stamped
// in samples from 0.
int soundFrame(const StereoSound &sound, std::size_t first, FramePtr &frame);

// The AAC encoder of a run: 128 kbit/s, 44100 Hz, planar float stereo, time
// base 1/44100.
int openRunLikeAacEncoder(CodecContextPtr &encoder);

// Decodes AAC packets made by an encoder with these parameters; drops the
// encoder's priming (the packet stamped before 0) and keeps length samples.
int decodeAac(const AVCodecContext *encoder, const std::vector<PacketPtr> &packets, std::size_t length,
              StereoSound &decoded);

// SNR in dB of each 1024-sample block of the decoded sound against the
// source, both channels together; blocks of the source quieter than -60 dB
// are left out (their SNR says nothing).
std::vector<double> blockSnr(const StereoSound &source, const StereoSound &decoded, std::vector<std::size_t> *blocks = nullptr);

struct SnrSummary {
    double mean = 0, firstPercentile = 0, worst = 0;
};
SnrSummary summarize(std::vector<double> snr);

// Total size of the packets' payloads in bytes.
std::int64_t payloadBytes(const std::vector<PacketPtr> &packets);

} // namespace melvora::test
