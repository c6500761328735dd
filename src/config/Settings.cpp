#include "config/Settings.h"

#include "config/AtomicFileWriter.h"
#include "config/IniFile.h"
#include "config/IniSyntax.h"
#include "platform/DataFolder.h"
#include "platform/ExecutableFolder.h"

#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace melvora {
namespace {

bool exists(const std::string &path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

// The file that a read sees: the user's own once written, the installed defaults until then.
std::string readPath() {
    const std::string path = Settings::filePath();
    if (path != Settings::defaultsPath() && !exists(path))
        return Settings::defaultsPath();
    return path;
}

// The user's file starts as a copy of the installed defaults, so that the language and the other
// installed choices survive the first write.
bool seedUserFile(const std::string &path, std::string *error) {
    if (exists(path))
        return true;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    if (ec) {
        if (error)
            *error =
                "Could not create " + std::filesystem::path(path).parent_path().string() + " (" + ec.message() + ")";
        return false;
    }
    const std::optional<IniDocument> defaults = IniFile::read(Settings::defaultsPath());
    if (!defaults)
        return true;
    return AtomicFileWriter::write(path, defaults->bytes(), error);
}

} // namespace

bool Settings::usesUserFolder() {
    if (userConfigFolder().empty())
        return false;
    if (isInstalledLayout())
        return true;
    // A build folder or a portable copy keeps its settings beside the program while it may write
    // there. A folder that is missing altogether is not a program's folder: nothing to redirect.
    const std::string programFolder = executableFolder();
    std::error_code ec;
    return std::filesystem::is_directory(programFolder, ec) && ::access(programFolder.c_str(), W_OK) != 0;
}

std::string Settings::filePath() {
    if (usesUserFolder())
        return userConfigFolder() + "/setting.ini";
    return executableFolder() + "/setting.ini";
}

std::string Settings::defaultsPath() {
    return dataFolder() + "/setting.ini";
}

std::string Settings::readString(const IniKey &key, std::string_view defaultValue) {
    if (auto value = IniFile::readValue(readPath(), key.section, key.key))
        return *value;
    return inisyntax::cutToUtf16Units(defaultValue);
}

int Settings::readInt(const IniKey &key, int defaultValue) {
    const std::optional<std::string> value = IniFile::readValue(readPath(), key.section, key.key);
    if (!value || value->empty())
        return defaultValue;
    return inisyntax::parseLeadingInteger(*value);
}

bool Settings::writeString(const IniKey &key, std::string_view value, std::string *error) {
    const std::string path = filePath();
    if (path != defaultsPath() && !seedUserFile(path, error))
        return false;
    return IniFile::writeValue(path, key.section, key.key, value, error);
}

bool Settings::writeInt(const IniKey &key, int value, std::string *error) {
    return writeString(key, std::to_string(value), error);
}

} // namespace melvora
