#include "app/CTonvexApp.h"
#include "app/TerminationSignals.h"
#include "controls/BitmapResource.h"
#include "jobcontrol/FileSizeSignal.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QIcon>
#include <QUrl>

#include <string_view>

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

void describeCommandLine(QCommandLineParser &parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Lays background music under a video. A VIDEO given here is added as if chosen with the add-video "
        "button; the music, the output folder and the start are chosen in the window. An installed Melvora keeps "
        "its settings in $XDG_CONFIG_HOME/melvora/setting.ini (~/.config/melvora/); its help page is reached "
        "through the link in the window."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("VIDEO"), QStringLiteral("Video to add (only the first is taken)."),
                                 QStringLiteral("[VIDEO]"));
}

bool asksForHelpOrVersion(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "-h" || argument == "--help" || argument == "--help-all" || argument == "-v" ||
            argument == "--version")
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char **argv) {
    if (asksForHelpOrVersion(argc, argv)) {
        // Answered without a display: the window's application object would need one.
        QCoreApplication core(argc, argv);
        QCoreApplication::setApplicationVersion(QStringLiteral(MELVORA_VERSION));
        QCommandLineParser parser;
        describeCommandLine(parser);
        parser.process(core);
        return 0;
    }
    melvora::TerminationSignals::installHandlers();
    // A file-size limit fails the run and removes its output instead of
    // killing the program.
    melvora::ignoreFileSizeSignal();
    QApplication application(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(MELVORA_VERSION));
    // Wayland matches the window to its desktop entry, and so to its icon, by this name.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(melvora::CTonvexApp::applicationId()));
    QApplication::setWindowIcon(QIcon::fromTheme(QString::fromLatin1(melvora::CTonvexApp::applicationId()),
                                                 QIcon(melvora::bitmapResource(melvora::BitmapId::AppIcon))));

    QCommandLineParser parser;
    describeCommandLine(parser);
    parser.process(application);

    melvora::CTonvexApp app;
    return app.run(videoPaths(parser.positionalArguments()));
}
