#include "platform/ScriptedDesktop.h"

namespace melvora {

ScriptedDesktop::ScriptedDesktop() : m_previous(installDesktop(this)) {}

ScriptedDesktop::~ScriptedDesktop() {
    installDesktop(m_previous);
}

void ScriptedDesktop::queueFileNames(const QStringList &fileNames) {
    m_fileNames.push_back(fileNames);
}

void ScriptedDesktop::queueFolder(const QString &folder) {
    m_folders.emplace_back(folder);
}

void ScriptedDesktop::queueFolderCancel() {
    m_folders.emplace_back(std::nullopt);
}

void ScriptedDesktop::queueOpenResult(int code) {
    m_openResults.push_back(code);
}

void ScriptedDesktop::clearRecords() {
    m_messages.clear();
    m_fileDialogFilters.clear();
    m_folderPickerTitles.clear();
    m_openedTargets.clear();
    m_beeps = 0;
    m_notifications.clear();
    m_shownFiles.clear();
}

void ScriptedDesktop::messageBox(const QString &text, MessageIcon icon) {
    m_messages.push_back({applicationTitle(), text, icon});
}

QStringList ScriptedDesktop::openFileNames(QWidget *, const QString &barFilter) {
    m_fileDialogFilters << barFilter;
    if (m_fileNames.empty())
        return {};
    QStringList answer = m_fileNames.front();
    m_fileNames.pop_front();
    return answer;
}

std::optional<QString> ScriptedDesktop::pickFolder(const QString &title) {
    m_folderPickerTitles << title;
    if (m_folders.empty())
        return std::nullopt;
    const bool cancelled = !m_folders.front().has_value();
    const QString folder = m_folders.front().value_or(QString());
    m_folders.pop_front();
    if (cancelled)
        return std::nullopt;
    return folder;
}

int ScriptedDesktop::openInDesktop(const QString &target) {
    m_openedTargets << target;
    if (m_openResults.empty())
        return m_defaultOpenResult;
    const int code = m_openResults.front();
    m_openResults.pop_front();
    return code;
}

void ScriptedDesktop::beep() {
    ++m_beeps;
}

void ScriptedDesktop::notify(const QString &summary, const QString &body) {
    m_notifications << summary + u'|' + body;
}

int ScriptedDesktop::showInFileManager(const QString &filePath, const QString &folder) {
    if (m_fileManagerPresent && !filePath.isEmpty()) {
        m_shownFiles << filePath;
        return OpenResult::Opened;
    }
    return openInDesktop(folder);
}

} // namespace melvora
