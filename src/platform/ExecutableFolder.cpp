#include "platform/ExecutableFolder.h"

#include <filesystem>
#include <mutex>
#include <system_error>

namespace melvora {
namespace {

std::mutex overrideMutex;
std::string overriddenFolder;

std::filesystem::path executablePath() {
    std::error_code ec;
    auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : path;
}

} // namespace

std::string executableFolder() {
    {
        std::lock_guard lock(overrideMutex);
        if (!overriddenFolder.empty())
            return overriddenFolder;
    }
    return executablePath().parent_path().string();
}

std::string executableBaseName() { return executablePath().stem().string(); }

void overrideExecutableFolderForTesting(const std::string &folder) {
    std::lock_guard lock(overrideMutex);
    overriddenFolder = folder;
    while (overriddenFolder.size() > 1 && overriddenFolder.back() == '/')
        overriddenFolder.pop_back();
}

} // namespace melvora
