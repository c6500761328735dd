#include "WindowTesting.h"

#include "MediaTool.h"

#include "app/CTonvexApp.h"
#include "app/TerminationSignals.h"
#include "config/Settings.h"
#include "engine/MixJob.h"
#include "mainwindow/CTonvexDlg.h"
#include "mainwindow/MainWindowActions.h"
#include "platform/ScriptedDesktop.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

namespace melvora {
namespace {

using namespace melvora::testing;

CTonvexDlg *mainWindow() {
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *window = qobject_cast<CTonvexDlg *>(widget); window && window->isVisible())
            return window;
    }
    return nullptr;
}

// Runs the application; once its window is up, hands it to whileRunning.
int runApplication(const std::function<void(CTonvexDlg &)> &whileRunning, const QStringList &files = {}) {
    QTimer::singleShot(0, [&] {
        CTonvexDlg *window = mainWindow();
        if (!window) {
            ADD_FAILURE() << "the main window is not up";
            QApplication::closeAllWindows();
            return;
        }
        whileRunning(*window);
    });
    return CTonvexApp().run(files);
}

TEST(CTonvexApp, RunsTheWindowModallyUntilItIsClosed) {
    ExecutableFolderSandbox sandbox;
    ScriptedDesktop scripted;
    sandbox.writeSettings("[LANGUAGE]\nfile=test.ini\n[JOIN]\nsize=99\nformat=3\n");
    sandbox.writeLanguage("test.ini", "[APPLICATION]\nname=A\nversion=1.0\n");

    QString title;
    bool modal = false;
    bool hasIcon = false;
    const int exitCode = runApplication([&](CTonvexDlg &window) {
        title = window.windowTitle();
        modal = QApplication::activeModalWidget() == &window;
        hasIcon = !window.windowIcon().isNull();
        window.close();
    });

    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(title, QStringLiteral("A 1.0"));
    EXPECT_TRUE(modal);
    EXPECT_TRUE(hasIcon);
    EXPECT_EQ(mainWindow(), nullptr);
    // The close saved the five selections; size was outside its list.
    for (const char *key : {"quality", "framerate", "audioquality", "samplerate"})
        EXPECT_EQ(Settings::readString({"JOIN", key}), "0") << key;
    EXPECT_EQ(Settings::readString({"JOIN", "size"}), "-1");
    EXPECT_EQ(Settings::readString({"JOIN", "format"}), "3");
}

// A termination signal (a session logging out) while a box is open above
// the window closes the box and then the window.
TEST(CTonvexApp, TerminationClosesOpenBoxesAndTheWindow) {
    ExecutableFolderSandbox sandbox;
    TerminationSignals::installHandlers();
    bool boxWasUp = false;
    const int exitCode = runApplication([&](CTonvexDlg &window) {
        QTimer::singleShot(0, [&] {
            boxWasUp = QApplication::activeModalWidget() != &window;
            std::raise(SIGTERM);
        });
        QMessageBox(QMessageBox::Information, "Melvora", "refused", QMessageBox::Ok, &window).exec();
    });
    EXPECT_TRUE(boxWasUp);
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(mainWindow(), nullptr);
}

// Closing the window in the middle of a job ends the run only after the
// worker has stopped and finalised its output.
TEST(CTonvexApp, CloseDuringAJobWaitsForTheWorker) {
    const std::string folder = test::makeFolder("app-close-during-run");
    const std::string video = folder + "/long.mkv";
    const std::string music = folder + "/music.wav";
    const std::string output = folder + "/out.mkv";
    test::makeMedia("-f lavfi -i testsrc=size=96x64:rate=5:duration=300 -f lavfi -i "
                    "sine=frequency=440:sample_rate=44100:duration=300 -c:v libx264 -preset ultrafast "
                    "-pix_fmt yuv420p -c:a aac -shortest",
                    video);
    test::makeMedia("-f lavfi -i sine=frequency=1000:duration=3 -ac 2 -c:a pcm_s16le", music);

    ExecutableFolderSandbox sandbox;
    ScriptedDesktop scripted;
    JobStatus statusAtClose = JobStatus::Finished;
    const int exitCode = runApplication([&](CTonvexDlg &window) {
        MixJob &job = window.ensureMixJob();
        job.request.videoPath = video;
        job.request.musicPath = music;
        job.request.outputPath = output;
        job.request.durationSeconds = 300;
        if (!startMixJob(job))
            ADD_FAILURE() << "no worker";
        while (job.progressPercent.load() < 1 && job.workerActive.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        statusAtClose = job.status.load();
        window.close();
    });

    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(statusAtClose, JobStatus::Running);
    EXPECT_TRUE(test::isReadableMedia(output));
    EXPECT_EQ(test::decodeErrors(output), 0);
    EXPECT_LT(test::durationSeconds(output), 290.0);
    EXPECT_TRUE(sandbox.hasSettings());
}

// Files given on the command line (VIDEO [MUSIC], or one file from the file manager's "Open
// with") go through the add buttons' paths: probed, then shown in their box or refused with the
// button's message. One file that is music goes to the music box.
struct CommandLineCase {
    const char *name;
    std::vector<const char *> files; // in the samples folder
    const char *video;               // what the boxes show afterwards
    const char *music;
    bool refusedAsVideo;
};

class CommandLineFiles : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLineFiles, GoThroughTheAddPaths) {
    const CommandLineCase &row = GetParam();
    ExecutableFolderSandbox sandbox;
    ScriptedDesktop scripted;
    const QString samples = QStringLiteral(MELVORA_SOURCE_SAMPLES "/");
    QStringList files;
    for (const char *file : row.files)
        files << samples + QString::fromLatin1(file);
    QString video, music;
    bool hadJob = false;
    runApplication(
        [&](CTonvexDlg &window) {
            // After the window's own start-up work, which queued the adds first.
            QTimer::singleShot(0, &window, [&] {
                video = window.videoPathBox()->text();
                music = window.musicPathBox()->text();
                hadJob = window.mixJob() != nullptr;
                window.close();
            });
        },
        files);

    EXPECT_TRUE(hadJob);
    EXPECT_EQ(video, *row.video ? samples + QString::fromLatin1(row.video) : QString());
    EXPECT_EQ(music, *row.music ? samples + QString::fromLatin1(row.music) : QString());
    ASSERT_EQ(scripted.messages().size(), row.refusedAsVideo ? 1u : 0u);
    if (row.refusedAsVideo)
        EXPECT_EQ(scripted.messages().front().text, QString::fromUtf8(MainWindowActions::kNotAVideo));
    // The dialogs were answered, not shown: no open-file dialog asked the user.
    EXPECT_TRUE(scripted.fileDialogFilters().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CommandLineFiles,
    ::testing::Values(CommandLineCase{"video", {"sample-video.mp4"}, "sample-video.mp4", "", false},
                      CommandLineCase{"music_alone", {"sample-music.mp3"}, "", "sample-music.mp3", false},
                      CommandLineCase{"video_and_music", {"sample-video.mp4", "sample-music.mp3"}, "sample-video.mp4",
                                      "sample-music.mp3", false},
                      CommandLineCase{"music_as_video", {"sample-music.mp3", "sample-music.mp3"}, "",
                                      "sample-music.mp3", true},
                      CommandLineCase{"not_media", {"make-samples.sh"}, "", "", true}),
    [](const auto &info) { return std::string(info.param.name); });

// The program is build/melvora, with the language files and a default
// setting.ini beside it, where it looks for them.
TEST(CTonvexApp, ExecutableSitsAtTheBuildRootWithItsFiles) {
    const std::filesystem::path program(MELVORA_EXECUTABLE);
    EXPECT_EQ(program.filename(), "melvora");
    EXPECT_TRUE(std::filesystem::exists(program.parent_path() / "CMakeCache.txt")) << program;
    EXPECT_TRUE(std::filesystem::exists(program.parent_path() / "setting.ini"));
    for (const char *language :
         {"english.ini", "spanish.ini", "german.ini", "french.ini", "italian.ini", "japanese.ini", "chinese.ini"})
        EXPECT_TRUE(std::filesystem::exists(program.parent_path() / "languages" / language)) << language;
    EXPECT_TRUE(std::filesystem::exists(program.parent_path() / "help" / "index.html"));
}

} // namespace
} // namespace melvora
