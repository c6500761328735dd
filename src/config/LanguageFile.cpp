#include "config/LanguageFile.h"

#include "config/IniFile.h"
#include "config/SettingKeys.h"
#include "config/Settings.h"
#include "platform/DataFolder.h"

namespace melvora {

std::string LanguageFile::nameFromSettings() {
    return Settings::readString(settingkeys::languageFile);
}

std::string LanguageFile::path(std::string_view fileName) {
    if (fileName.empty())
        return {};
    return dataFile("languages/" + std::string(fileName));
}

std::string LanguageFile::readText(std::string_view fileName, const IniKey &key) {
    const std::string filePath = path(fileName);
    if (filePath.empty())
        return {};
    return IniFile::readValue(filePath, key.section, key.key).value_or(std::string());
}

std::string LanguageFile::readCurrentText(const IniKey &key) {
    return readText(nameFromSettings(), key);
}

} // namespace melvora
