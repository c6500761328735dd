#include "platform/DesktopTarget.h"

#include "platform/DataFolder.h"
#include "platform/OpenResult.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace melvora {
namespace {

DesktopTarget failure(int code) {
    DesktopTarget target;
    target.failureCode = code;
    return target;
}

DesktopTarget localTarget(const QString &path) {
    const QFileInfo info(QDir::current(), path);
    if (!info.exists()) {
        const bool folderExists = info.absoluteDir().exists();
        return failure(folderExists ? OpenResult::FileNotFound : OpenResult::PathNotFound);
    }
    if (!info.isReadable())
        return failure(OpenResult::AccessDenied);
    DesktopTarget target;
    target.url = QUrl::fromLocalFile(info.absoluteFilePath());
    target.isLocalFile = true;
    return target;
}

bool hasScheme(const QString &text) {
    // Two letters at least, so that nothing here mistakes a drive letter
    // for a scheme.
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    return scheme.match(text).hasMatch();
}

} // namespace

DesktopTarget resolveDesktopTarget(const QString &target) {
    const QString text = target.trimmed();
    if (text.isEmpty())
        return failure(OpenResult::FileNotFound);

    if (hasScheme(text)) {
        const QUrl url(text, QUrl::StrictMode);
        if (!url.isValid())
            return failure(OpenResult::FileNotFound);
        if (url.isLocalFile())
            return localTarget(url.toLocalFile());
        DesktopTarget resolved;
        resolved.url = url;
        return resolved;
    }

    if (text.startsWith(QLatin1String("www."), Qt::CaseInsensitive) && !QFileInfo::exists(text)) {
        const QUrl url(QStringLiteral("http://") + text, QUrl::StrictMode);
        if (!url.isValid())
            return failure(OpenResult::FileNotFound);
        DesktopTarget resolved;
        resolved.url = url;
        return resolved;
    }

    // A path is taken as typed: leading or trailing blanks may be part of a
    // file name here.
    return localTarget(target);
}

QString addressInDataFolder(const QString &address) {
    const QString text = address.trimmed();
    if (text.isEmpty() || hasScheme(text) || text.startsWith(QLatin1String("www."), Qt::CaseInsensitive) ||
        QDir::isAbsolutePath(text))
        return address;
    const QString folder = QString::fromStdString(dataFolder());
    return QDir::cleanPath(folder + u'/' + text);
}

} // namespace melvora
