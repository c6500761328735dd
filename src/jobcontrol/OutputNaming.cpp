#include "jobcontrol/OutputNaming.h"
#include "jobcontrol/OutputFolder.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace melvora {

std::string fileNameOfPath(const std::string &path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string numberedCandidate(const std::string &basePath, int counter, std::size_t nameLimit) {
    const std::string suffix = counter >= 0 ? "(" + std::to_string(counter) + ")" : "";
    const auto slash = basePath.find_last_of('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    auto dot = basePath.find_last_of('.');
    if (dot == std::string::npos || dot < nameStart)
        dot = basePath.size();
    const std::string extension = basePath.substr(dot);
    std::string stem = basePath.substr(nameStart, dot - nameStart);
    // A name too long for the file system loses the end of its stem, never
    // half a UTF-8 character, so that name(k).ext fits.
    if (stem.size() + suffix.size() + extension.size() > nameLimit && suffix.size() + extension.size() < nameLimit) {
        std::size_t keep = nameLimit - suffix.size() - extension.size();
        while (keep > 0 && (static_cast<unsigned char>(stem[keep]) & 0xC0) == 0x80)
            --keep;
        stem.resize(keep);
    }
    return basePath.substr(0, nameStart) + stem + suffix + extension;
}

std::optional<std::string> claimOutputPath(const std::string &folder, const std::string &videoPath,
                                           std::string &error, FileIdentity *claimed) {
    const std::string name = fileNameOfPath(videoPath);
    if (name.empty()) {
        error = "the video path names no file";
        return std::nullopt;
    }
    const std::string basePath = joinPath(folder, name);
    const long limit = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
    const std::size_t nameLimit = limit > 0 ? static_cast<std::size_t>(limit) : 255;
    for (int counter = -1;; ++counter) {
        const std::string candidate = numberedCandidate(basePath, counter, nameLimit);
        if (pathExists(candidate))
            continue;
        FileIdentity identity;
        const int result = claimNewFile(candidate, identity);
        if (result == 0) {
            if (claimed)
                *claimed = identity;
            return candidate;
        }
        if (result == -EEXIST)
            continue; // taken between the look and the claim
        error = "cannot create " + candidate + ": " + std::strerror(-result);
        return std::nullopt;
    }
}

} // namespace melvora
