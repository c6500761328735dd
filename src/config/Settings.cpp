#include "config/Settings.h"

#include "config/IniFile.h"
#include "config/IniSyntax.h"
#include "platform/ExecutableFolder.h"

namespace melvora {

std::string Settings::filePath() {
    return executableFolder() + "/setting.ini";
}

std::string Settings::readString(const IniKey &key, std::string_view defaultValue) {
    if (auto value = IniFile::readValue(filePath(), key.section, key.key))
        return *value;
    return inisyntax::cutToUtf16Units(defaultValue);
}

int Settings::readInt(const IniKey &key, int defaultValue) {
    const std::optional<std::string> value = IniFile::readValue(filePath(), key.section, key.key);
    if (!value || value->empty())
        return defaultValue;
    return inisyntax::parseLeadingInteger(*value);
}

bool Settings::writeString(const IniKey &key, std::string_view value, std::string *error) {
    return IniFile::writeValue(filePath(), key.section, key.key, value, error);
}

bool Settings::writeInt(const IniKey &key, int value, std::string *error) {
    return writeString(key, std::to_string(value), error);
}

} // namespace melvora
