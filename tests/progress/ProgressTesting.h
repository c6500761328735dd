#pragma once

// A stand-in executable folder with setting.ini and a language file, shared
// by the dialog and poller tests.

#include "config/LanguageKeys.h"
#include "config/LanguageTexts.h"
#include "config/SettingKeys.h"
#include "config/Settings.h"
#include "platform/ExecutableFolder.h"

#include <QString>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace melvora::test {

// Texts of the test language file, with spaces and Chinese so that nothing
// is trimmed or re-encoded on the way.
inline const std::string kName = "混音 Melvora";
inline const std::string kCurrentFile = "当前文件:";
inline const std::string kStop = "停止 Stop";
inline const std::string kDone = "完成 done";
inline const std::string kSucceeded = "合并成功!";
inline const std::string kFailed = "合并失败!";

inline QString q(const std::string &text) {
    return QString::fromStdString(text);
}

class ProgressFolder {
public:
    // settingOpen: the DIR/open value to store, or none to leave the key out.
    explicit ProgressFolder(std::optional<std::string> settingOpen = "1") {
        std::string pattern = (std::filesystem::temp_directory_path() / "melvora-progress-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            ADD_FAILURE() << "mkdtemp failed";
        m_path = pattern;
        overrideExecutableFolderForTesting(m_path.string());
        writeLanguage("test.ini", kName, kCurrentFile, kStop);
        std::string settings = "[LANGUAGE]\nfile=test.ini\n";
        if (settingOpen)
            settings += "[DIR]\nopen=" + *settingOpen + "\n";
        write("setting.ini", settings);
        LanguageTexts::instance().load("test.ini");
    }
    ~ProgressFolder() {
        LanguageTexts::instance().load("");
        overrideExecutableFolderForTesting("");
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    ProgressFolder(const ProgressFolder &) = delete;
    ProgressFolder &operator=(const ProgressFolder &) = delete;

    std::string path() const { return m_path.string(); }

    void write(std::string_view name, std::string_view bytes) const {
        std::filesystem::create_directories((m_path / name).parent_path());
        std::ofstream(m_path / name, std::ios::binary) << bytes;
    }

    void writeLanguage(std::string_view fileName, const std::string &name, const std::string &currentFile,
                       const std::string &stop, const std::string &more = {}) const {
        write(std::string("languages/") + std::string(fileName),
              "[APPLICATION]\nname=" + name + "\n[JIEMIAN]\ndqwj=" + currentFile + "\ntz=" + stop +
                  "\n[TISHI]\nwjwc=" + kDone + "\nhbcg=" + kSucceeded + "\nhbsb=" + kFailed + "\n" + more);
    }

    // DIR/open as stored now, or "<missing>".
    static std::string storedOpen() { return Settings::readString(settingkeys::openFolderWhenDone, "<missing>"); }

private:
    std::filesystem::path m_path;
};

} // namespace melvora::test
