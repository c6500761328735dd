#pragma once

#include "config/IniKey.h"

#include <string>
#include <string_view>

namespace melvora {

// setting.ini: beside the executable while that folder is writable (a build folder, a portable
// copy); for an installed program, or one whose folder it may not write, in the user's
// $XDG_CONFIG_HOME/melvora, which is created at the first write from the installed defaults and
// read from those defaults until then. Every call rebuilds the path and goes to the file, so there
// is nothing to keep in step; only the UI thread uses it.
class Settings {
public:
    // The file that writes go to.
    static std::string filePath();
    // The installed defaults: setting.ini in the data folder.
    static std::string defaultsPath();
    // True when the settings live in the user's configuration folder.
    static bool usesUserFolder();

    // The stored text, cut to 999 characters; the default when the file, section or key is
    // missing or the file cannot be read. A key present with an empty value reads as "".
    static std::string readString(const IniKey &key, std::string_view defaultValue = {});
    // The stored value's leading decimal number (optional sign); the default when the key is
    // missing or empty, 0 when it holds no digits.
    static int readInt(const IniKey &key, int defaultValue = 0);

    // Stores the text. Failure (a read-only folder, a full disk, a value with a line break) leaves
    // the file as it was; callers may ignore the result, the value is then not remembered.
    static bool writeString(const IniKey &key, std::string_view value, std::string *error = nullptr);
    static bool writeInt(const IniKey &key, int value, std::string *error = nullptr);
};

} // namespace melvora
