#include "app/CTonvexApp.h"
#include "app/TerminationSignals.h"
#include "controls/BitmapResource.h"
#include "jobcontrol/FfmpegMessages.h"
#include "jobcontrol/FileSizeSignal.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QIcon>
#include <QUrl>

#include <string_view>

namespace {

// Paths as the desktop passes them (%F), relative ones from the working folder; file: URLs too.
QStringList filePaths(const QStringList &arguments) {
    QStringList paths;
    for (const QString &argument : arguments) {
        const QUrl url(argument);
        const QString path = url.isLocalFile() ? url.toLocalFile() : argument;
        paths << QFileInfo(path).absoluteFilePath();
    }
    return paths;
}

const QCommandLineOption verboseOption({QStringLiteral("v"), QStringLiteral("verbose")},
                                       QStringLiteral("Show FFmpeg's own messages and stream layouts on stderr (also "
                                                      "MELVORA_VERBOSE=1)."));
const QCommandLineOption versionOption(QStringLiteral("version"), QStringLiteral("Displays version information."));

void describeCommandLine(QCommandLineParser &parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Lays background music under a video. A VIDEO given here is added as if chosen with the add-video button, "
        "a MUSIC file as if chosen with the add-music button; a single file that is music (as a file manager's "
        "\"Open with\" gives it) goes to the music box. The output folder and the start are chosen in the window; "
        "the Mix settings button sets levels, fades, delay, looping and ducking, and its Preview button draws the "
        "whole video with the music as it will be laid and plays the mix from a clicked point. An installed Melvora keeps its "
        "settings in $XDG_CONFIG_HOME/melvora/setting.ini (~/.config/melvora/); its help page is reached through the "
        "link in the window."));
    parser.addHelpOption();
    parser.addOption(versionOption);
    parser.addOption(verboseOption);
    parser.addPositionalArgument(QStringLiteral("VIDEO"), QStringLiteral("Video to add."), QStringLiteral("[VIDEO"));
    parser.addPositionalArgument(QStringLiteral("MUSIC"), QStringLiteral("Music to add."), QStringLiteral("[MUSIC]]"));
}

bool asksForHelpOrVersion(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "-h" || argument == "--help" || argument == "--help-all" || argument == "--version")
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
        if (parser.isSet(versionOption))
            parser.showVersion();
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
    melvora::showFfmpegMessages(melvora::ffmpegMessagesWanted(parser.isSet(verboseOption)));

    melvora::CTonvexApp app;
    return app.run(filePaths(parser.positionalArguments()));
}
