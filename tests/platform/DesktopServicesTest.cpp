#include "platform/DesktopServices.h"
#include "platform/OpenResult.h"
#include "platform/QtDesktop.h"
#include "platform/ScriptedDesktop.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace melvora {
namespace {

// Runs handle on the next modal window once it is up, from inside its loop.
void whenModalShown(std::function<void(QWidget *)> handle) {
    QTimer::singleShot(0, [handle] {
        if (QWidget *modal = QApplication::activeModalWidget())
            handle(modal);
        else
            whenModalShown(handle);
    });
}

TEST(ApplicationTitle, IsTheExecutableNameWithoutExtension) {
    EXPECT_EQ(applicationTitle(), QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
    EXPECT_EQ(applicationTitle(), QStringLiteral("melvora_platform_tests"));
}

TEST(ScriptedDesktop, InstallsItselfWhileAliveAndRestoresThePrevious) {
    EXPECT_NE(dynamic_cast<QtDesktop *>(&desktop()), nullptr);
    {
        ScriptedDesktop outer;
        EXPECT_EQ(&desktop(), &outer);
        {
            ScriptedDesktop inner;
            EXPECT_EQ(&desktop(), &inner);
        }
        EXPECT_EQ(&desktop(), &outer);
    }
    EXPECT_NE(dynamic_cast<QtDesktop *>(&desktop()), nullptr);
}

TEST(ScriptedDesktop, AnswersFromItsQueuesAndCancelsWhenEmpty) {
    ScriptedDesktop scripted;
    scripted.queueFileNames({QStringLiteral("/v/a.mp4"), QStringLiteral("/v/b.mp4")});
    scripted.queueFolder(QStringLiteral("/out"));
    scripted.queueFolderCancel();
    scripted.queueFolder(QString());
    scripted.queueOpenResult(OpenResult::PathNotFound);
    scripted.setDefaultOpenResult(OpenResult::Opened);

    EXPECT_EQ(desktop().openFileNames(nullptr, QStringLiteral("V|*.mp4|")),
              QStringList({QStringLiteral("/v/a.mp4"), QStringLiteral("/v/b.mp4")}));
    EXPECT_TRUE(desktop().openFileNames(nullptr, QStringLiteral("A|*.mp3|")).isEmpty());

    EXPECT_EQ(desktop().pickFolder(QStringLiteral("Please select output folder:")), QStringLiteral("/out"));
    EXPECT_EQ(desktop().pickFolder(QStringLiteral("t2")), std::nullopt);
    // A picked item without a file-system path is not a cancel.
    EXPECT_EQ(desktop().pickFolder(QStringLiteral("t3")), QString());
    EXPECT_EQ(desktop().pickFolder(QStringLiteral("t4")), std::nullopt);

    EXPECT_EQ(desktop().openInDesktop(QStringLiteral("/out")), OpenResult::PathNotFound);
    EXPECT_EQ(desktop().openInDesktop(QStringLiteral("https://example.org")), OpenResult::Opened);

    EXPECT_EQ(scripted.fileDialogFilters(), QStringList({QStringLiteral("V|*.mp4|"), QStringLiteral("A|*.mp3|")}));
    EXPECT_EQ(scripted.folderPickerTitles(),
              QStringList({QStringLiteral("Please select output folder:"), QStringLiteral("t2"), QStringLiteral("t3"),
                           QStringLiteral("t4")}));
    EXPECT_EQ(scripted.openedTargets(), QStringList({QStringLiteral("/out"), QStringLiteral("https://example.org")}));
}

TEST(ScriptedDesktop, RecordsMessagesWithCaptionAndIcon) {
    ScriptedDesktop scripted;
    desktop().messageBox(QStringLiteral("不是有效的视频文件，请添加视频文件！"));
    desktop().beep();
    desktop().messageBox(QStringLiteral("Unable to open hyperlink:\n\nx"), MessageIcon::Exclamation);

    ASSERT_EQ(scripted.messages().size(), 2u);
    EXPECT_EQ(scripted.messages()[0].caption, applicationTitle());
    EXPECT_EQ(scripted.messages()[0].text, QStringLiteral("不是有效的视频文件，请添加视频文件！"));
    EXPECT_EQ(scripted.messages()[0].icon, MessageIcon::None);
    EXPECT_EQ(scripted.messages()[1].icon, MessageIcon::Exclamation);
    EXPECT_EQ(scripted.beeps(), 1);

    scripted.clearRecords();
    EXPECT_TRUE(scripted.messages().empty());
    EXPECT_EQ(scripted.beeps(), 0);
}

struct MessageBoxCase {
    MessageIcon icon;
    QMessageBox::Icon expected;
};

class QtMessageBoxTest : public ::testing::TestWithParam<MessageBoxCase> {};

TEST_P(QtMessageBoxTest, ShowsAnOkOnlyPlainTextBoxCaptionedWithTheTitle) {
    const QString text = QStringLiteral("<b>not bold</b>\n目录无效!");
    QString caption;
    QString shownText;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::Question;
    int buttons = 0;
    whenModalShown([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle();
        shownText = box->text();
        format = box->textFormat();
        icon = box->icon();
        buttons = box->buttons().size();
        box->button(QMessageBox::Ok)->click();
    });
    QtDesktop real;
    real.messageBox(text, GetParam().icon);
    EXPECT_EQ(caption, applicationTitle());
    EXPECT_EQ(shownText, text);
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(icon, GetParam().expected);
    EXPECT_EQ(buttons, 1);
}

INSTANTIATE_TEST_SUITE_P(Icons, QtMessageBoxTest,
                         ::testing::Values(MessageBoxCase{MessageIcon::None, QMessageBox::NoIcon},
                                           MessageBoxCase{MessageIcon::Exclamation, QMessageBox::Warning}));

TEST(QtDesktop, OpenFileDialogOffersTheTranslatedFiltersAndAllowsSeveralFiles) {
    QStringList filters;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    whenModalShown([&](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        ASSERT_NE(dialog, nullptr);
        filters = dialog->nameFilters();
        mode = dialog->fileMode();
        dialog->reject();
    });
    QtDesktop real;
    const QStringList chosen = real.openFileNames(nullptr, QStringLiteral("视频|*.mp4;*.mkv|所有文件|*.*|"));
    EXPECT_TRUE(chosen.isEmpty());
    EXPECT_EQ(filters, QStringList({QStringLiteral("视频 (*.mp4 *.mkv)"), QStringLiteral("所有文件 (*)")}));
    EXPECT_EQ(mode, QFileDialog::ExistingFiles);
}

TEST(QtDesktop, FolderPickerShowsItsTitleAndCancelGivesNothing) {
    QString title;
    whenModalShown([&](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        ASSERT_NE(dialog, nullptr);
        title = dialog->windowTitle();
        dialog->reject();
    });
    QtDesktop real;
    EXPECT_EQ(real.pickFolder(QStringLiteral("Please select output folder:")), std::nullopt);
    EXPECT_EQ(title, QStringLiteral("Please select output folder:"));
}

// With no session bus there is neither a notification service nor a file
// manager to ask: the notification is dropped without a word, and showing a
// file falls back to opening the folder given (here a missing one, so that
// nothing opens and the fallback's own answer comes back).
TEST(QtDesktop, WithoutASessionBusShowingAFileOpensTheFolderInstead) {
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/melvora-test-bus");
    QtDesktop real;
    real.notify(QStringLiteral("Melvora"), QStringLiteral("done"));
    const QString existingFile = QCoreApplication::applicationFilePath();
    const QString missingFolder = QDir::tempPath() + QStringLiteral("/melvora-no-such-folder/sub");
    EXPECT_EQ(real.showInFileManager(existingFile, missingFolder), OpenResult::PathNotFound);
}

} // namespace
} // namespace melvora
