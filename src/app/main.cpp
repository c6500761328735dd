#include "app/CTonvexApp.h"
#include "app/TerminationSignals.h"
#include "controls/BitmapResource.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QIcon>
#include <QUrl>

namespace {

// Paths as the desktop passes them (%F), relative ones from the working folder; file: URLs too.
QStringList videoPaths(const QStringList &arguments) {
    QStringList paths;
    for (const QString &argument : arguments) {
        const QUrl url(argument);
        const QString path = url.isLocalFile() ? url.toLocalFile() : argument;
        paths << QFileInfo(path).absoluteFilePath();
    }
    return paths;
}

} // namespace

int main(int argc, char **argv) {
    melvora::TerminationSignals::installHandlers();
    QApplication application(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(MELVORA_VERSION));
    // Wayland matches the window to its desktop entry, and so to its icon, by this name.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(melvora::CTonvexApp::applicationId()));
    QApplication::setWindowIcon(
        QIcon::fromTheme(QString::fromLatin1(melvora::CTonvexApp::applicationId()),
                         QIcon(melvora::bitmapResource(melvora::BitmapId::AppIcon))));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Lays background music under a video. A VIDEO given here is added as if chosen with the add-video "
        "button; the music, the output folder and the start are chosen in the window."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("VIDEO"),
                                 QStringLiteral("Video to add (only the first is taken)."),
                                 QStringLiteral("[VIDEO]"));
    parser.process(application);

    melvora::CTonvexApp app;
    return app.run(videoPaths(parser.positionalArguments()));
}
