#include "config/LanguageTexts.h"

#include "config/IniFile.h"
#include "config/LanguageFile.h"
#include "config/LanguageKeys.h"

#include <cctype>

namespace melvora {

LanguageTexts &LanguageTexts::instance() {
    static LanguageTexts texts;
    return texts;
}

std::string LanguageTexts::lookupKey(const IniKey &key) {
    std::string result = std::string(key.section) + '\n' + std::string(key.key);
    for (char &c : result)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

void LanguageTexts::loadFromSettings() {
    load(LanguageFile::nameFromSettings());
}

void LanguageTexts::load(std::string fileName) {
    std::map<std::string, std::string> texts;
    const std::string path = LanguageFile::path(fileName);
    if (!path.empty()) {
        if (const std::optional<IniDocument> document = IniFile::read(path)) {
            for (const IniKey &key : languagekeys::catalogue)
                texts[lookupKey(key)] = document->value(key.section, key.key).value_or(std::string());
            for (const IniKey &key : languagekeys::mix::catalogue)
                texts[lookupKey(key)] = document->value(key.section, key.key).value_or(std::string());
            for (const IniKey &key : languagekeys::mixpreview::catalogue)
                texts[lookupKey(key)] = document->value(key.section, key.key).value_or(std::string());
            for (const IniKey &key : languagekeys::captions::catalogue)
                texts[lookupKey(key)] = document->value(key.section, key.key).value_or(std::string());
        }
    }
    std::lock_guard lock(m_mutex);
    m_fileName = std::move(fileName);
    m_texts = std::move(texts);
}

std::string LanguageTexts::fileName() const {
    std::lock_guard lock(m_mutex);
    return m_fileName;
}

std::string LanguageTexts::text(const IniKey &key) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_texts.find(lookupKey(key));
    return found == m_texts.end() ? std::string() : found->second;
}

std::string LanguageTexts::textOr(const IniKey &key, std::string_view fallback) const {
    std::string found = text(key);
    return found.empty() ? std::string(fallback) : found;
}

std::string LanguageTexts::mainWindowTitle() const {
    return text(languagekeys::applicationName) + " " + text(languagekeys::applicationVersion);
}

std::string LanguageTexts::invalidDropMessage(std::string_view droppedFileName) const {
    return text(languagekeys::invalidDropBefore) + std::string(droppedFileName) + " " +
           text(languagekeys::invalidDropAfter);
}

} // namespace melvora
