#include "platform/DataFolder.h"

#include "platform/ExecutableFolder.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace melvora {
namespace {

bool isFolder(const std::filesystem::path &path) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

bool pathExists(const std::filesystem::path &path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

std::filesystem::path installedDataFolder(const std::string &programFolder) {
    return std::filesystem::path(programFolder).parent_path() / "share" / "melvora";
}

std::string absoluteVariable(const char *name) {
    const char *value = std::getenv(name);
    // Relative values of the XDG variables are ignored, as desktops do.
    if (!value || value[0] != '/')
        return {};
    return value;
}

} // namespace

bool isInstalledLayout() {
    const std::string programFolder = executableFolder();
    return !isFolder(std::filesystem::path(programFolder) / "languages") &&
           isFolder(installedDataFolder(programFolder));
}

std::string dataFolder() {
    const std::string programFolder = executableFolder();
    if (isInstalledLayout())
        return installedDataFolder(programFolder).lexically_normal().string();
    return programFolder;
}

std::string dataFile(std::string_view relativePath) {
    const std::string programFolder = executableFolder();
    const std::filesystem::path beside = std::filesystem::path(programFolder) / relativePath;
    if (pathExists(beside))
        return beside.string();
    const std::filesystem::path installed = installedDataFolder(programFolder) / relativePath;
    if (pathExists(installed))
        return installed.lexically_normal().string();
    return beside.string();
}

std::string userConfigFolder() {
    std::string base = absoluteVariable("XDG_CONFIG_HOME");
    if (base.empty()) {
        const std::string home = absoluteVariable("HOME");
        if (home.empty())
            return {};
        base = home + "/.config";
    }
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    return base + "/melvora";
}

} // namespace melvora
