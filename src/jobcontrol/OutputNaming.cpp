#include "jobcontrol/OutputNaming.h"
#include "jobcontrol/OutputFolder.h"

#include <cerrno>
#include <cstring>

namespace melvora {

std::string fileNameOfPath(const std::string &path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string numberedCandidate(const std::string &basePath, int counter) {
    const std::string suffix = "(" + std::to_string(counter) + ")";
    const auto slash = basePath.find_last_of('/');
    const auto dot = basePath.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return basePath + suffix;
    return basePath.substr(0, dot) + suffix + basePath.substr(dot);
}

std::optional<std::string> claimOutputPath(const std::string &folder, const std::string &videoPath,
                                           std::string &error, FileIdentity *claimed) {
    const std::string name = fileNameOfPath(videoPath);
    if (name.empty()) {
        error = "the video path names no file";
        return std::nullopt;
    }
    const std::string basePath = joinPath(folder, name);
    std::string candidate = basePath;
    for (int counter = -1;; ++counter) {
        if (counter >= 0)
            candidate = numberedCandidate(basePath, counter);
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
