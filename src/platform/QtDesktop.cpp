#include "platform/QtDesktop.h"

#include "platform/DesktopTarget.h"
#include "platform/FileDialogFilter.h"
#include "platform/OpenResult.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>

namespace melvora {

void QtDesktop::messageBox(const QString &text, MessageIcon icon) {
    QMessageBox box(icon == MessageIcon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon, applicationTitle(),
                    text, QMessageBox::Ok, QApplication::activeWindow());
    // Texts carry file names and language-file texts: never read them as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

QStringList QtDesktop::openFileNames(QWidget *owner, const QString &barFilter) {
    return QFileDialog::getOpenFileNames(owner, QString(), QString(), qtFileFilterString(barFilter));
}

std::optional<QString> QtDesktop::pickFolder(const QString &title) {
    const QString folder = QFileDialog::getExistingDirectory(nullptr, title, QString(), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return std::nullopt;
    return folder;
}

int QtDesktop::openInDesktop(const QString &target) {
    const DesktopTarget resolved = resolveDesktopTarget(target);
    if (!resolved.isOpenable())
        return resolved.failureCode;
    if (QDesktopServices::openUrl(resolved.url))
        return OpenResult::Opened;
    // When the desktop has no handler for web pages, Debian's default-browser
    // alternative may still be there.
    const QString scheme = resolved.url.scheme();
    const bool webPage = scheme == QLatin1String("http") || scheme == QLatin1String("https");
    if (webPage && QProcess::startDetached(QStringLiteral("x-www-browser"), {resolved.url.toString()}))
        return OpenResult::Opened;
    return OpenResult::NoAssociation;
}

void QtDesktop::beep() {
    QApplication::beep();
}

} // namespace melvora
