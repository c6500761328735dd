#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace melvora {

// The languages the program ships, as the language chooser offers them.
struct LanguageOption {
    std::string name;     // LANGUAGE/nameN of the settings, or the language's own name where it has none
    std::string fileName; // the language file, e.g. "german.ini"
};

// The shipped languages in the order of LANGUAGE/name1…name7.
std::vector<LanguageOption> languageOptions();

// The shipped language file for a locale name such as "de_DE.UTF-8": Chinese, Japanese, German,
// French, Italian or Spanish by the language part, English for anything else ("C", "POSIX", "").
std::string languageFileForLocale(std::string_view locale);

// The desktop's language for messages: the first of LC_ALL, LC_MESSAGES and LANG that is set.
std::string desktopMessageLocale();

// On a first start, before the user's settings file exists, LANGUAGE/file is written from the
// desktop's locale, so that the program speaks the desktop's language from then on. Returns the
// file chosen, "" when this is not a first start. A settings file that cannot be written only
// leaves the choice unremembered.
std::string chooseLanguageOnFirstStart();

} // namespace melvora
