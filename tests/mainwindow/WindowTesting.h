#pragma once

// Helpers shared by the main window tests: a stand-in executable folder for
// setting.ini and the languages folder, and synthetic input events.

#include "platform/ExecutableFolder.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace melvora::testing {

// Sets LC_ALL while it lives and clears LC_MESSAGES and LANG, so that LC_ALL alone names the
// desktop's language.
class DesktopLocale {
public:
    explicit DesktopLocale(const char *all) {
        for (std::size_t i = 0; i < std::size(kNames); ++i) {
            if (const char *old = std::getenv(kNames[i]))
                m_saved[i] = old;
            i == 0 ? ::setenv(kNames[i], all, 1) : ::unsetenv(kNames[i]);
        }
    }
    ~DesktopLocale() {
        for (std::size_t i = 0; i < std::size(kNames); ++i)
            m_saved[i] ? ::setenv(kNames[i], m_saved[i]->c_str(), 1) : ::unsetenv(kNames[i]);
    }
    DesktopLocale(const DesktopLocale &) = delete;
    DesktopLocale &operator=(const DesktopLocale &) = delete;

private:
    static constexpr const char *kNames[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::optional<std::string> m_saved[3];
};

// A fresh folder that stands in for the executable's folder while it lives,
// on a desktop whose locale is C (a first start then chooses English).
class ExecutableFolderSandbox {
public:
    ExecutableFolderSandbox() {
        std::string pattern = (std::filesystem::temp_directory_path() / "melvora-window-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            ADD_FAILURE() << "mkdtemp failed";
        m_path = pattern;
        overrideExecutableFolderForTesting(m_path.string());
    }
    ~ExecutableFolderSandbox() {
        overrideExecutableFolderForTesting("");
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ExecutableFolderSandbox(const ExecutableFolderSandbox &) = delete;
    ExecutableFolderSandbox &operator=(const ExecutableFolderSandbox &) = delete;

    const std::filesystem::path &path() const { return m_path; }

    void writeSettings(std::string_view text) const { write(m_path / "setting.ini", text); }
    void writeLanguage(std::string_view fileName, std::string_view text) const {
        std::filesystem::create_directories(m_path / "languages");
        write(m_path / "languages" / fileName, text);
    }
    bool hasSettings() const { return std::filesystem::exists(m_path / "setting.ini"); }
    std::string settings() const {
        std::ifstream in(m_path / "setting.ini", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    static void write(const std::filesystem::path &file, std::string_view text) {
        std::ofstream(file, std::ios::binary) << text;
    }

    DesktopLocale m_locale{"C.UTF-8"};
    std::filesystem::path m_path;
};

// Sends a key press (and its release) to a widget; unhandled presses travel
// up to its parents as they would from the keyboard.
inline void pressKey(QWidget *widget, int key, const QString &text = {}) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &release);
}

inline void sendMouse(QWidget *widget, QEvent::Type type, QPoint local, QPoint global, Qt::MouseButtons held) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, local, global, button, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

} // namespace melvora::testing
