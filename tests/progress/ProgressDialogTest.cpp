// The progress dialog offscreen: its texts, the check box and the setting,
// the three ways out, and the keys it swallows.

#include "ProgressTesting.h"

#include "controls/CLabel.h"
#include "engine/MixJob.h"
#include "progress/CDUDuduzezDlg.h"

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace melvora {
namespace {

using namespace melvora::test;

template <typename T> T *control(const QWidget &dialog, const char *id) {
    T *found = dialog.findChild<T *>(QString::fromLatin1(id));
    EXPECT_NE(found, nullptr) << "control " << id;
    return found;
}

TEST(ProgressDialog, ShowsTheTemplateControlsWithTheLanguageTexts) {
    ProgressFolder folder;
    MixJob job;
    CDUDuduzezDlg dialog(job);

    EXPECT_EQ(dialog.windowTitle(), q(kName));
    EXPECT_EQ(control<QLabel>(dialog, "1158")->text(), q(kCurrentFile));
    EXPECT_EQ(control<CLabel>(dialog, "1018")->text(), QStringLiteral("..."));
    QProgressBar *bar = control<QProgressBar>(dialog, "1011");
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(control<QCheckBox>(dialog, "1148")->text(), QStringLiteral("完成后打开文件夹"));
    QPushButton *stop = control<QPushButton>(dialog, "1000");
    EXPECT_EQ(stop->text(), q(kStop));
    EXPECT_EQ(stop->toolTip(), q(kStop));
    EXPECT_FALSE(stop->autoDefault());
    // No minimise or maximise box; a close box.
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowMinMaxButtonsHint);
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowCloseButtonHint);
}

struct OpenSettingCase {
    const char *name;
    std::optional<std::string> stored;
    bool checked;
};

void PrintTo(const OpenSettingCase &row, std::ostream *out) {
    *out << row.name;
}

class CheckBoxFromSetting : public ::testing::TestWithParam<OpenSettingCase> {};

TEST_P(CheckBoxFromSetting, CheckedOnlyForExactlyOne) {
    ProgressFolder folder(GetParam().stored);
    MixJob job;
    CDUDuduzezDlg dialog(job);
    EXPECT_EQ(control<QCheckBox>(dialog, "1148")->isChecked(), GetParam().checked);
}

INSTANTIATE_TEST_SUITE_P(Rows, CheckBoxFromSetting,
                         ::testing::Values(OpenSettingCase{"one", "1", true}, OpenSettingCase{"zero", "0", false},
                                           OpenSettingCase{"yes", "yes", false}, OpenSettingCase{"empty", "", false},
                                           OpenSettingCase{"eleven", "11", false},
                                           OpenSettingCase{"missing", std::nullopt, true}),
                         [](const auto &info) { return std::string(info.param.name); });

// How a way out was taken, and what it must leave behind.
struct ExitCase {
    const char *name;
    std::function<void(CDUDuduzezDlg &)> takeExit;
    bool byUser;
    bool writesSetting;
};

void PrintTo(const ExitCase &row, std::ostream *out) {
    *out << row.name;
}

class DialogExits : public ::testing::TestWithParam<ExitCase> {};

TEST_P(DialogExits, StopTheJobAndEndAccepted) {
    const ExitCase &row = GetParam();
    for (const bool checked : {true, false}) {
        SCOPED_TRACE(checked ? "box checked" : "box cleared");
        // The stored value is the opposite of the box, so a write shows.
        ProgressFolder folder(checked ? "0" : "1");
        MixJob job;
        CDUDuduzezDlg dialog(job);
        control<QCheckBox>(dialog, "1148")->setChecked(checked);
        QSignalSpy stopSpy(&dialog, &CDUDuduzezDlg::stopRequested);
        QSignalSpy userSpy(&dialog, &CDUDuduzezDlg::closedByUser);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));

        row.takeExit(dialog);

        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(job.stopRequested.load(), 1);
        EXPECT_EQ(stopSpy.count(), 1);
        EXPECT_EQ(userSpy.count(), row.byUser ? 1 : 0);
        const std::string expected = row.writesSetting ? (checked ? "1" : "0") : (checked ? "0" : "1");
        EXPECT_EQ(ProgressFolder::storedOpen(), expected);

        // A second way out after the first changes nothing.
        dialog.closePath();
        EXPECT_EQ(stopSpy.count(), 1);
        EXPECT_EQ(userSpy.count(), row.byUser ? 1 : 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ways, DialogExits,
    ::testing::Values(
        ExitCase{"stop_button", [](CDUDuduzezDlg &d) { control<QPushButton>(d, "1000")->click(); }, true, false},
        ExitCase{"stop_button_by_mouse",
                 [](CDUDuduzezDlg &d) { QTest::mouseClick(control<QPushButton>(d, "1000"), Qt::LeftButton); }, true,
                 false},
        ExitCase{"close_box", [](CDUDuduzezDlg &d) { d.close(); }, true, true},
        ExitCase{"owner_close_path", [](CDUDuduzezDlg &d) { d.closePath(); }, false, true}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ProgressDialog, CheckBoxClicksReachTheOwnerButNotTheSetting) {
    ProgressFolder folder("1");
    MixJob job;
    CDUDuduzezDlg dialog(job);
    QSignalSpy spy(&dialog, &CDUDuduzezDlg::openFolderWhenDoneChanged);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QCheckBox *box = control<QCheckBox>(dialog, "1148");
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(4, box->height() / 2));
    ASSERT_EQ(spy.count(), 1);
    QTest::keyClick(box, Qt::Key_Space);
    ASSERT_EQ(spy.count(), 2);
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(4, box->height() / 2));
    ASSERT_EQ(spy.count(), 3);
    EXPECT_EQ(spy.at(0).at(0).toBool(), false);
    EXPECT_EQ(spy.at(1).at(0).toBool(), true);
    EXPECT_EQ(spy.at(2).at(0).toBool(), false);
    EXPECT_EQ(ProgressFolder::storedOpen(), "1");
    // Resetting the box for the next job is not a click.
    dialog.reset();
    EXPECT_EQ(spy.count(), 3);
}

TEST(ProgressDialog, EscapeAndEnterNeverEndIt) {
    ProgressFolder folder;
    MixJob job;
    CDUDuduzezDlg dialog(job);
    QSignalSpy stopSpy(&dialog, &CDUDuduzezDlg::stopRequested);
    QSignalSpy boxSpy(&dialog, &CDUDuduzezDlg::openFolderWhenDoneChanged);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QWidget *targets[] = {&dialog, control<QPushButton>(dialog, "1000"), control<QCheckBox>(dialog, "1148")};
    for (QWidget *target : targets) {
        target->setFocus();
        for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
            SCOPED_TRACE(target->objectName().toStdString() + " key " + std::to_string(key));
            QTest::keyClick(target, key);
            QCoreApplication::processEvents();
            EXPECT_TRUE(dialog.isVisible());
            EXPECT_FALSE(dialog.isEnding());
        }
    }
    EXPECT_EQ(stopSpy.count(), 0);
    EXPECT_EQ(boxSpy.count(), 0);
    EXPECT_EQ(job.stopRequested.load(), 0);
    EXPECT_EQ(ProgressFolder::storedOpen(), "1");
}

TEST(ProgressDialog, EachJobStartsFresh) {
    ProgressFolder folder("1");
    MixJob job;
    CDUDuduzezDlg dialog(job);
    dialog.show();
    dialog.setProgress(QStringLiteral("/v/a.mp4   60% x"), 60);
    control<QCheckBox>(dialog, "1148")->click();
    dialog.closePath(); // stores "0"
    ASSERT_FALSE(dialog.isVisible());

    // Between jobs the language changes; the next job's dialog follows it, its caption too.
    folder.writeLanguage("other.ini", "Other name", "Other label", "Halt",
                         "[CAPTIONS]\nopenwhendone=Open the folder when done\n");
    folder.write("setting.ini", "[LANGUAGE]\nfile=other.ini\n[DIR]\nopen=1\n");
    dialog.show();
    EXPECT_FALSE(dialog.isEnding());
    EXPECT_EQ(dialog.progressLine(), QStringLiteral("..."));
    EXPECT_EQ(dialog.progressPosition(), 0);
    EXPECT_TRUE(dialog.openFolderChecked());
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Other name"));
    EXPECT_EQ(control<QLabel>(dialog, "1158")->text(), QStringLiteral("Other label"));
    EXPECT_EQ(control<QPushButton>(dialog, "1000")->toolTip(), QStringLiteral("Halt"));
    EXPECT_EQ(control<QCheckBox>(dialog, "1148")->text(), QStringLiteral("Open the folder when done"));

    // And it can be ended again.
    job.stopRequested = 0;
    control<QPushButton>(dialog, "1000")->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(job.stopRequested.load(), 1);
}

} // namespace
} // namespace melvora
