#include "WindowTesting.h"

#include "controls/BitmapResource.h"
#include "controls/CControlButton.h"
#include "mainwindow/CTonvexDlg.h"
#include "mainwindow/OutputFolderBox.h"
#include "platform/ScriptedDesktop.h"

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

// Saves the window as users see it, once with the shipped English texts and
// once with no language file at all, for a look by eye.
TEST(RenderArtifacts, SavesTheWindowAsUsersSeeIt) {
    const QDir out(QStringLiteral(MELVORA_ARTIFACT_DIR));
    ASSERT_TRUE(out.mkpath(QStringLiteral(".")));
    struct Case {
        const char *file;
        const char *settings;
        bool withLanguage;
    };
    const Case cases[] = {
        {"mainwindow.png", "[LANGUAGE]\nfile=english.ini\n[PATH]\nname=/home/user/视频/输出\n", true},
        {"mainwindow-no-language.png", "", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        ExecutableFolderSandbox sandbox;
        ScriptedDesktop scripted;
        sandbox.writeSettings(c.settings);
        if (c.withLanguage)
            sandbox.writeLanguage("english.ini", shippedLanguage("english.ini"));
        CTonvexDlg window;
        window.videoPathBox()->setText(QStringLiteral("/home/user/视频/假日.mp4"));
        window.show();

        const QImage image = window.grab().toImage();
        ASSERT_FALSE(image.isNull());
        EXPECT_TRUE(image.save(out.filePath(QString::fromLatin1(c.file))));
        // The light-blue ground and the start button's picture are where they belong.
        EXPECT_EQ(image.pixelColor(2, window.height() - 2), CTonvexDlg::backgroundColour());
        const QPoint start = window.startButton()->geometry().topLeft();
        EXPECT_EQ(image.pixelColor(start + QPoint(45, 45)), loadBitmap(BitmapId::StartNormal).pixelColor(45, 45));
    }
}

} // namespace
} // namespace melvora
