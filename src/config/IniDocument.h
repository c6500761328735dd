#pragma once

#include "config/TextCodec.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace melvora {

// One INI file held as its exact bytes. Reading goes through SimpleIni on a UTF-8 copy; a change
// edits only the line of the changed key (or adds one), so every other byte of the file, its
// encoding, byte-order mark and line endings stay as they were.
class IniDocument {
public:
    // An empty document: what a file that does not exist yet becomes (UTF-8, no byte-order mark).
    IniDocument();
    explicit IniDocument(std::string bytes);
    IniDocument(IniDocument &&) noexcept;
    IniDocument &operator=(IniDocument &&) noexcept;
    ~IniDocument();

    const std::string &bytes() const { return m_bytes; }
    TextEncoding encoding() const { return m_encoding; }

    // The value of the first matching key as a reader sees it (trimmed, quotes removed, cut to
    // 999 UTF-16 units); nothing when the section or key is missing.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;

    // Replaces the value of the key in place, or adds the key at the end of its section, or adds
    // the section at the end of the file. On failure the document is unchanged.
    bool setValue(std::string_view section, std::string_view key, std::string_view value, std::string *error = nullptr);

private:
    struct Parsed;

    std::string m_bytes;
    TextEncoding m_encoding;
    std::unique_ptr<Parsed> m_parsed;
};

} // namespace melvora
