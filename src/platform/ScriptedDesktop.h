#pragma once

#include "platform/DesktopServices.h"
#include "platform/OpenResult.h"

#include <deque>
#include <vector>

namespace melvora {

// Desktop services for tests: answers come from queues filled beforehand,
// and every box, dialog and opened target is recorded instead of shown.
// It installs itself while it lives and puts back what was installed before.
// An empty queue answers like a user who cancels; openInDesktop then
// answers defaultOpenResult().
class ScriptedDesktop : public DesktopServices {
public:
    struct Message {
        QString caption;
        QString text;
        MessageIcon icon = MessageIcon::None;
    };

    ScriptedDesktop();
    ~ScriptedDesktop() override;
    ScriptedDesktop(const ScriptedDesktop &) = delete;
    ScriptedDesktop &operator=(const ScriptedDesktop &) = delete;

    // Answers, each used once, oldest first.
    void queueFileNames(const QStringList &fileNames);
    void queueFolder(const QString &folder);
    void queueFolderCancel();
    void queueOpenResult(int code);
    void setDefaultOpenResult(int code) { m_defaultOpenResult = code; }
    // Whether showInFileManager finds a file manager; without one (the
    // default) it falls back to openInDesktop on the folder, as a desktop
    // without the service does.
    void setFileManagerPresent(bool present) { m_fileManagerPresent = present; }
    int defaultOpenResult() const { return m_defaultOpenResult; }

    // What was asked of the desktop, oldest first.
    const std::vector<Message> &messages() const { return m_messages; }
    const QStringList &fileDialogFilters() const { return m_fileDialogFilters; }
    const QStringList &folderPickerTitles() const { return m_folderPickerTitles; }
    const QStringList &openedTargets() const { return m_openedTargets; }
    int beeps() const { return m_beeps; }
    // Notifications as "summary|body".
    const QStringList &notifications() const { return m_notifications; }
    // Files shown selected in the file manager.
    const QStringList &shownFiles() const { return m_shownFiles; }

    // Forgets the records; queued answers stay.
    void clearRecords();

    void messageBox(const QString &text, MessageIcon icon) override;
    QStringList openFileNames(QWidget *owner, const QString &barFilter) override;
    std::optional<QString> pickFolder(const QString &title) override;
    int openInDesktop(const QString &target) override;
    void beep() override;
    void notify(const QString &summary, const QString &body) override;
    int showInFileManager(const QString &filePath, const QString &folder) override;

private:
    DesktopServices *m_previous = nullptr;
    std::deque<QStringList> m_fileNames;
    std::deque<std::optional<QString>> m_folders;
    std::deque<int> m_openResults;
    int m_defaultOpenResult = OpenResult::Opened;

    std::vector<Message> m_messages;
    QStringList m_fileDialogFilters;
    QStringList m_folderPickerTitles;
    QStringList m_openedTargets;
    int m_beeps = 0;
    QStringList m_notifications;
    QStringList m_shownFiles;
    bool m_fileManagerPresent = false;
};

} // namespace melvora
