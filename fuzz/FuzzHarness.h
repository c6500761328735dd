#pragma once

// What the fuzz targets (and the replay of their findings in the robustness
// tests) do with one input: the bytes are served to the engine from memory,
// and every input gets the same bounded amount of work, as FFmpeg's own
// fuzzers do it: a budget of reads and seeks shared by both inputs of a mix;
// when it is spent, reads end the files, the job is asked to stop and its
// interrupt check ends blocking waits. A hang is then a real hang of the
// code, not a long input.

#include "engine/MixJob.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace melvora::fuzz {

inline constexpr std::int64_t kReadBudget = 3000;
inline constexpr int kReadBufferSize = 2048;

struct ProbeResults {
    int asVideo = 0;
    int asMusic = 0;
};

// Probes the bytes as a video and as music, as the front ends do when a
// file is added.
ProbeResults probeBytes(const std::uint8_t *data, std::size_t size);

enum class MixRole { Video, Music };

// Mixes the bytes, in the given role, with a fixed partner (music for a
// video, a video for music), writing to outputPath. Returns the job's final
// status (Running when the read budget stopped it).
JobStatus mixBytes(const std::uint8_t *data, std::size_t size, MixRole role, const std::vector<std::uint8_t> &partner,
              const std::string &outputPath);

} // namespace melvora::fuzz
