#include "config/LanguageChoice.h"

#include "config/SettingKeys.h"
#include "config/Settings.h"

#include <array>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

namespace melvora {
namespace {

// In the order of the shipped LANGUAGE/name1…name7.
constexpr std::array<std::pair<const char *, const char *>, 7> kShipped{{
    {"english.ini", "English"},
    {"spanish.ini", "Español"},
    {"german.ini", "Deutsch"},
    {"french.ini", "Français"},
    {"italian.ini", "Italiano"},
    {"japanese.ini", "日本語"},
    {"chinese.ini", "简体中文"},
}};

constexpr std::array<std::pair<const char *, const char *>, 6> kByLanguageCode{{
    {"zh", "chinese.ini"},
    {"ja", "japanese.ini"},
    {"de", "german.ini"},
    {"fr", "french.ini"},
    {"it", "italian.ini"},
    {"es", "spanish.ini"},
}};

} // namespace

std::vector<LanguageOption> languageOptions() {
    std::vector<LanguageOption> options;
    for (std::size_t i = 0; i < kShipped.size(); ++i) {
        const std::string key = "name" + std::to_string(i + 1);
        std::string name = Settings::readString({settingkeys::languageFile.section, key});
        options.push_back({name.empty() ? kShipped[i].second : std::move(name), kShipped[i].first});
    }
    return options;
}

std::string languageFileForLocale(std::string_view locale) {
    // "de_DE.UTF-8@euro": the language is what comes before the territory, codeset and modifier.
    std::string code(locale.substr(0, locale.find_first_of("_.@")));
    for (char &c : code)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const auto &[language, file] : kByLanguageCode) {
        if (code == language)
            return file;
    }
    return "english.ini";
}

std::string desktopMessageLocale() {
    for (const char *variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char *value = std::getenv(variable);
        if (value && *value)
            return value;
    }
    return {};
}

std::string chooseLanguageOnFirstStart() {
    std::error_code ec;
    if (std::filesystem::exists(Settings::filePath(), ec))
        return {};
    const std::string file = languageFileForLocale(desktopMessageLocale());
    // Unwritable settings: the next start chooses again, which gives the same.
    Settings::writeString(settingkeys::languageFile, file);
    return file;
}

} // namespace melvora
