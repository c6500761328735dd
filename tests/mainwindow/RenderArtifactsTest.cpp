#include "WindowTesting.h"

#include "controls/BitmapResource.h"
#include "controls/CControlButton.h"
#include "engine/MixJob.h"
#include "mainwindow/CTonvexDlg.h"
#include "mainwindow/OutputFolderBox.h"
#include "platform/ScriptedDesktop.h"
#include "progress/CDUDuduzezDlg.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>

#include <gtest/gtest.h>

namespace melvora {
namespace {

using namespace melvora::testing;

std::string shippedLanguage(const char *name) {
    QFile file(QStringLiteral(MELVORA_LANGUAGE_DIR "/") + QString::fromLatin1(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll().toStdString();
}

// Saves the window as users see it, with the shipped English and German texts and with no
// language file at all, for a look by eye; the English one is the help page's picture
// (resources/help/main-window.png).
TEST(RenderArtifacts, SavesTheWindowAsUsersSeeIt) {
    const QDir out(QStringLiteral(MELVORA_ARTIFACT_DIR));
    ASSERT_TRUE(out.mkpath(QStringLiteral(".")));
    struct Case {
        const char *file;
        const char *settings;
        const char *language; // a shipped file, or none
    };
    // German has the longest texts.
    const Case cases[] = {
        {"mainwindow.png", "[LANGUAGE]\nfile=english.ini\n[PATH]\nname=/home/user/视频/输出\n[MIX]\nmusicgain=-6\nowngain=0\nfadeout=3\nduck=10\n",
         "english.ini"},
        {"mainwindow-german.png", "[LANGUAGE]\nfile=german.ini\n[MIX]\nmusicgain=-6\nowngain=0\nduck=10\n",
         "german.ini"},
        {"mainwindow-no-language.png", "[LANGUAGE]\nfile=\n", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        ExecutableFolderSandbox sandbox;
        ScriptedDesktop scripted;
        sandbox.writeSettings(c.settings);
        if (c.language)
            sandbox.writeLanguage(c.language, shippedLanguage(c.language));
        CTonvexDlg window;
        window.videoPathBox()->setText(QStringLiteral("/home/user/视频/假日.mp4"));
        window.musicPathBox()->setText(QStringLiteral("/home/user/音乐/海边.mp3"));
        window.show();

        const QImage image = window.grab().toImage();
        ASSERT_FALSE(image.isNull());
        EXPECT_TRUE(image.save(out.filePath(QString::fromLatin1(c.file))));
        // The light-blue ground and the start button's picture are where they belong.
        EXPECT_EQ(image.pixelColor(2, window.height() - 2), CTonvexDlg::backgroundColour());
        const QPoint start = window.startButton()->geometry().topLeft();
        EXPECT_EQ(image.pixelColor(start + QPoint(45, 45)),
                  window.startButton()->normalBitmap().pixelColor(45, 45));
        if (c.language) {
            // The progress dialog in the same language, half way through a run.
            MixJob job;
            CDUDuduzezDlg dialog(job, &window);
            dialog.setProgress(QStringLiteral("/home/user/视频/假日.mp4   42% ") + dialog.windowTitle(), 42);
            dialog.setTimeLeft(QStringLiteral("1:05"));
            dialog.show();
            EXPECT_TRUE(dialog.grab().save(out.filePath(QStringLiteral("progress-") + QString::fromLatin1(c.language)
                                                            .replace(QStringLiteral(".ini"), QStringLiteral(".png")))));
            dialog.hide();
        }
    }
}

} // namespace
} // namespace melvora
