#pragma once

#include "platform/DesktopServices.h"

namespace melvora {

// Answers the next open-file dialog with files known beforehand (a video named on the command
// line) and hands every other request to the services installed before it. It installs itself
// while it lives, so the window's own add-video path runs unchanged: probe, box, messages.
class AnsweredFileDialog : public DesktopServices {
public:
    explicit AnsweredFileDialog(const QStringList &fileNames);
    ~AnsweredFileDialog() override;
    AnsweredFileDialog(const AnsweredFileDialog &) = delete;
    AnsweredFileDialog &operator=(const AnsweredFileDialog &) = delete;

    void messageBox(const QString &text, MessageIcon icon) override;
    QStringList openFileNames(QWidget *owner, const QString &barFilter) override;
    std::optional<QString> pickFolder(const QString &title) override;
    int openInDesktop(const QString &target) override;
    void beep() override;
    void notify(const QString &summary, const QString &body) override;
    int showInFileManager(const QString &filePath, const QString &folder) override;

private:
    DesktopServices &previous() const;

    DesktopServices *m_previous = nullptr;
    QStringList m_fileNames;
    bool m_answered = false;
};

} // namespace melvora
