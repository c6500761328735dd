#include "platform/AnsweredFileDialog.h"

namespace melvora {

AnsweredFileDialog::AnsweredFileDialog(const QStringList &fileNames)
    : m_previous(installDesktop(this)), m_fileNames(fileNames) {}

AnsweredFileDialog::~AnsweredFileDialog() {
    installDesktop(m_previous);
}

DesktopServices &AnsweredFileDialog::previous() const {
    if (m_previous)
        return *m_previous;
    // Nothing was installed before: the Qt services answer, as desktop() gives them.
    DesktopServices *mine = installDesktop(nullptr);
    DesktopServices &services = desktop();
    installDesktop(mine);
    return services;
}

void AnsweredFileDialog::messageBox(const QString &text, MessageIcon icon) {
    previous().messageBox(text, icon);
}

QStringList AnsweredFileDialog::openFileNames(QWidget *owner, const QString &barFilter) {
    if (m_answered)
        return previous().openFileNames(owner, barFilter);
    m_answered = true;
    return m_fileNames;
}

std::optional<QString> AnsweredFileDialog::pickFolder(const QString &title) {
    return previous().pickFolder(title);
}

int AnsweredFileDialog::openInDesktop(const QString &target) {
    return previous().openInDesktop(target);
}

void AnsweredFileDialog::beep() {
    previous().beep();
}

void AnsweredFileDialog::notify(const QString &summary, const QString &body) {
    previous().notify(summary, body);
}

int AnsweredFileDialog::showInFileManager(const QString &filePath, const QString &folder) {
    return previous().showInFileManager(filePath, folder);
}

} // namespace melvora
