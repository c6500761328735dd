// libFuzzer targets: a whole short mix with arbitrary bytes as the video
// (fuzz_mix_video) or as the music (fuzz_mix_music). The fixed partners are
// small generated files (make-seeds.sh), found in $MELVORA_FUZZ_PARTNERS or
// in the build folder. The input's size chooses between two partners and
// two output containers, so that every mode of the engine meets the input.

#include "FuzzHarness.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

namespace {

using melvora::fuzz::MixRole;

#ifdef MELVORA_FUZZ_MUSIC_ROLE
constexpr MixRole kRole = MixRole::Music;
#else
constexpr MixRole kRole = MixRole::Video;
#endif

std::vector<std::uint8_t> partnerA;
std::vector<std::uint8_t> partnerB;
std::string outputFolder;

std::vector<std::uint8_t> readPartner(const std::string &folder, const char *name) {
    std::ifstream in(folder + "/" + name, std::ios::binary);
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (bytes.empty()) {
        std::fprintf(stderr, "missing fuzz partner %s/%s (run fuzz/make-seeds.sh)\n", folder.c_str(), name);
        std::exit(1);
    }
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    av_log_set_level(AV_LOG_QUIET);
    const char *folder = std::getenv("MELVORA_FUZZ_PARTNERS");
    const std::string partners = folder ? folder : MELVORA_FUZZ_PARTNER_DIR;
    if (kRole == MixRole::Video) {
        partnerA = readPartner(partners, "music.mp3");
        partnerB = readPartner(partners, "music.wma");
    } else {
        partnerA = readPartner(partners, "silent.mkv");
        partnerB = readPartner(partners, "sound.mp4");
    }
    outputFolder = (std::filesystem::temp_directory_path() / ("melvora-fuzz-" + std::to_string(::getpid()))).string();
    std::filesystem::create_directories(outputFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const bool odd = size % 2 == 1;
    // A video's output takes the video's own container when its name has no
    // extension; that path is fuzzed too.
    const char *extension = kRole == MixRole::Video ? (odd ? "" : ".mkv") : (odd ? ".mkv" : ".mp4");
    const std::string output = outputFolder + "/out" + extension;
    melvora::fuzz::mixBytes(data, size, kRole, odd ? partnerA : partnerB, output);
    // Containers that write pieces of their own leave them here; keep the folder small.
    std::error_code ignored;
    for (const auto &entry : std::filesystem::directory_iterator(outputFolder, ignored))
        std::filesystem::remove_all(entry.path(), ignored);
    return 0;
}
