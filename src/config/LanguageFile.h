#pragma once

#include "config/IniKey.h"

#include <string>
#include <string_view>

namespace melvora {

// The language file named by setting.ini: executableFolder() + "/languages/" + name, or, when
// no such file is beside the program, the installed one in share/melvora/languages.
class LanguageFile {
public:
    // LANGUAGE/file of the settings, "" when missing.
    static std::string nameFromSettings();
    // "" for an empty name: no file is then read and every text is empty.
    static std::string path(std::string_view fileName);

    // One text read now from the named file: cut to 999 characters, "" when the file, section or
    // key is missing.
    static std::string readText(std::string_view fileName, const IniKey &key);
    // One text from the language file that the settings name at this moment (the progress
    // dialog rereads its texts each time it opens, so a language change applies to the next job).
    static std::string readCurrentText(const IniKey &key);
};

} // namespace melvora
