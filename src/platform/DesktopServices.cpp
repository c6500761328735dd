#include "platform/DesktopServices.h"

#include "platform/ExecutableFolder.h"
#include "platform/QtDesktop.h"

#include <QCoreApplication>
#include <QFile>

namespace melvora {
namespace {

DesktopServices *installed = nullptr;

DesktopServices &qtDesktop() {
    static QtDesktop services;
    return services;
}

} // namespace

DesktopServices &desktop() {
    return installed ? *installed : qtDesktop();
}

DesktopServices *installDesktop(DesktopServices *services) {
    DesktopServices *previous = installed;
    installed = services;
    return previous;
}

QString applicationTitle() {
    QString title = QFile::decodeName(QByteArray::fromStdString(executableBaseName()));
    if (title.isEmpty())
        title = QCoreApplication::applicationName();
    return title;
}

} // namespace melvora
