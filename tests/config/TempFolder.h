#pragma once

#include "platform/ExecutableFolder.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace melvora::test {

// A fresh folder that stands in for the executable's folder for the lifetime of the object.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "melvora-config-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            ADD_FAILURE() << "mkdtemp failed";
        m_path = pattern;
        overrideExecutableFolderForTesting(m_path.string());
    }
    ~TempFolder() {
        overrideExecutableFolderForTesting("");
        std::error_code ec;
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(m_path, ec);
    }
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;

    const std::filesystem::path &path() const { return m_path; }
    std::string file(std::string_view name) const { return (m_path / name).string(); }

    void write(std::string_view name, std::string_view bytes) const {
        std::filesystem::create_directories((m_path / name).parent_path());
        std::ofstream(m_path / name, std::ios::binary) << bytes;
    }
    std::string read(std::string_view name) const {
        std::ifstream in(m_path / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::size_t entryCount() const {
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(m_path), {}));
    }

private:
    std::filesystem::path m_path;
};

// UTF-16LE bytes of a UTF-16 literal, written out independently of the code under test.
inline std::string utf16le(std::u16string_view text) {
    std::string bytes;
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

} // namespace melvora::test
