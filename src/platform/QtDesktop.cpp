#include "platform/QtDesktop.h"

#include "platform/DesktopTarget.h"
#include "platform/FileDialogFilter.h"
#include "platform/OpenResult.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
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

namespace {

// A bus name that answers now or that the bus can start on demand.
bool serviceAvailable(const QDBusConnection &bus, const QString &name) {
    const QDBusConnectionInterface *busInterface = bus.interface();
    if (!busInterface)
        return false;
    if (busInterface->isServiceRegistered(name).value())
        return true;
    return busInterface->activatableServiceNames().value().contains(name);
}

} // namespace

void QtDesktop::notify(const QString &summary, const QString &body) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QString icon = QGuiApplication::desktopFileName();
    call << applicationTitle() << 0u << icon << summary << body << QStringList() << QVariantMap() << -1;
    // Sent without waiting: with no notification service the bus's error reply is simply dropped.
    bus.send(call);
}

int QtDesktop::showInFileManager(const QString &filePath, const QString &folder) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString service = QStringLiteral("org.freedesktop.FileManager1");
    if (!filePath.isEmpty() && QFileInfo::exists(filePath) && bus.isConnected() && serviceAvailable(bus, service)) {
        QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/FileManager1"),
                                                           service, QStringLiteral("ShowItems"));
        call << QStringList{QUrl::fromLocalFile(QFileInfo(filePath).absoluteFilePath()).toString()} << QString();
        // A file manager that does not answer within a few seconds is taken as absent.
        const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
        if (reply.type() == QDBusMessage::ReplyMessage)
            return OpenResult::Opened;
    }
    return openInDesktop(folder);
}

} // namespace melvora
