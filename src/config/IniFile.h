#pragma once

#include "config/IniDocument.h"

#include <optional>
#include <string>
#include <string_view>

namespace melvora {

// An INI file on disk, read afresh at every access: there is no cache, so a change made by
// another program (or another copy of this one) is seen at the next read.
class IniFile {
public:
    // Files larger than this are not INI files we wrote or should rewrite.
    static constexpr std::size_t maxFileSize = 8 * 1024 * 1024;

    // The parsed file; nothing when it is missing or cannot be read.
    static std::optional<IniDocument> read(const std::string &path, std::string *error = nullptr);
    static std::optional<std::string> readValue(const std::string &path, std::string_view section,
                                                std::string_view key);

    // Stores one value, creating the file, section or key as needed. A file that exists but
    // cannot be read is not replaced. The write is atomic: on failure the file is unchanged.
    static bool writeValue(const std::string &path, std::string_view section, std::string_view key,
                           std::string_view value, std::string *error = nullptr);
};

} // namespace melvora
