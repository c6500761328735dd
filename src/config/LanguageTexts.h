#pragma once

#include "config/IniKey.h"

#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace melvora {

// The texts of the language file, read at start-up (and again when the user picks another
// language) and kept for the whole process so that any window or message can use them. A missing
// file, section or key gives ""; only the window's own texts have fallbacks (textOr).
class LanguageTexts {
public:
    // The process-wide table.
    static LanguageTexts &instance();

    LanguageTexts() = default;
    LanguageTexts(const LanguageTexts &) = delete;
    LanguageTexts &operator=(const LanguageTexts &) = delete;

    // Reads LANGUAGE/file from the settings, then that file.
    void loadFromSettings();
    // Reads every catalogue text from the named file, replacing what was held.
    void load(std::string fileName);

    // The LanguageFileName the texts came from ("" when none).
    std::string fileName() const;
    // "" for a key outside the catalogue.
    std::string text(const IniKey &key) const;
    // The text, or fallback when the file has none (the texts the window carries itself).
    std::string textOr(const IniKey &key, std::string_view fallback) const;

    // Main window title: name, one space, version.
    std::string mainWindowTitle() const;
    // Message for a dropped file that is not a video: before-text, the file name, one space,
    // after-text.
    std::string invalidDropMessage(std::string_view droppedFileName) const;

private:
    static std::string lookupKey(const IniKey &key);

    mutable std::mutex m_mutex;
    std::string m_fileName;
    std::map<std::string, std::string> m_texts;
};

} // namespace melvora
