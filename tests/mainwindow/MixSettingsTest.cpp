// The mix settings button and dialog, driven offscreen.

#include "FlowTesting.h"
#include "WindowTesting.h"

#include "config/LanguageKeys.h"
#include "config/MixSettingsStore.h"
#include "controls/CControlButton.h"
#include "mainwindow/CTonvexDlg.h"
#include "mainwindow/MixPreview.h"
#include "mainwindow/MixSettingsDlg.h"
#include "platform/ScriptedDesktop.h"

#include <QApplication>
#include <QAudioDevice>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMediaDevices>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <functional>

#include <gtest/gtest.h>

namespace melvora {
namespace {

using namespace melvora::testing;

// Clicks the window's button and, once the dialog is up, lets act drive it.
void runDialog(CTonvexDlg &window, const std::function<void(MixSettingsDlg &)> &act) {
    bool ran = false;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<MixSettingsDlg *>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        ran = true;
        act(*dialog);
    });
    window.mixSettingsButton()->click();
    EXPECT_TRUE(ran);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(MixSettingsButton, SitsInTheFreeStripWithItsLanguageText) {
    ExecutableFolderSandbox sandbox;
    ScriptedDesktop scripted;
    {
        CTonvexDlg window; // no language file: the English text
        EXPECT_EQ(window.mixSettingsButton()->text(), QStringLiteral("Mix settings…"));
        const QRect button = window.mixSettingsButton()->geometry();
        EXPECT_TRUE(window.rect().contains(button));
        EXPECT_GT(button.top(), window.control(CTonvexDlg::OutputFolderCombo)->geometry().bottom());
        EXPECT_LT(button.right(), window.startButton()->geometry().left());
        EXPECT_TRUE(window.mixSettings().isDefault());
    }
    sandbox.writeSettings("[LANGUAGE]\nfile=test.ini\n[MIX]\nfadeout=2.5\n");
    sandbox.writeLanguage("test.ini", "[MIX]\nbutton=Réglages du mixage…\n");
    CTonvexDlg window;
    EXPECT_EQ(window.mixSettingsButton()->text(), QStringLiteral("Réglages du mixage…"));
    EXPECT_EQ(window.mixSettings().fadeOutSeconds, 2.5); // read at start-up for the next start
}

TEST(MixSettingsDialog, OkSavesToTheSettingsAndResetGivesTheDefaults) {
    ExecutableFolderSandbox sandbox;
    ScriptedDesktop scripted;
    CTonvexDlg window;

    runDialog(window, [](MixSettingsDlg &dialog) {
        EXPECT_FALSE(dialog.levelsGroup()->isChecked());
        dialog.levelsGroup()->setChecked(true);
        dialog.musicLevelSlider()->setValue(-24); // half decibels
        EXPECT_TRUE(dialog.musicLevelValue()->text().endsWith(QStringLiteral("12.0 dB")))
            << dialog.musicLevelValue()->text().toStdString();
        dialog.fadeOutBox()->setValue(3);
        dialog.loopBox()->setChecked(false);
        EXPECT_FALSE(dialog.crossfadeBox()->isEnabled());
        EXPECT_FALSE(dialog.loopSeamsBox()->isEnabled()); // the seams belong to the repeat
        dialog.fitBox()->setChecked(true);
        EXPECT_FALSE(dialog.loopBox()->isEnabled()); // a fitted song has its own seams
        dialog.duckBox()->setChecked(true);
        dialog.duckDepthSlider()->setValue(28);
        dialog.okButton()->click();
    });
    MixSettings expected;
    expected.musicGainDb = -12;
    expected.ownGainDb = 0;
    expected.fadeOutSeconds = 3;
    expected.loop = false;
    expected.fit = true;
    expected.duckDb = 14;
    EXPECT_EQ(window.mixSettings(), expected);
    EXPECT_EQ(MixSettingsStore::load(), expected);
    EXPECT_NE(sandbox.settings().find("musicgain=-12"), std::string::npos) << sandbox.settings();
    MixSettings shaped = expected;
    shaped.duckLookaheadSeconds = 1, shaped.duckHoldSeconds = 2, shaped.duckKey = DuckKey::Any;
    EXPECT_EQ(MixSettingsDlg(shaped).settings(), shaped); // the ducking's shape has no controls, yet stays

    // The dialog opens on what was saved; reset and OK bring back the plain mix.
    runDialog(window, [](MixSettingsDlg &dialog) {
        EXPECT_TRUE(dialog.levelsGroup()->isChecked());
        EXPECT_FALSE(dialog.loopBox()->isChecked());
        EXPECT_TRUE(dialog.fitBox()->isChecked());
        EXPECT_EQ(dialog.fadeOutBox()->value(), 3);
        dialog.resetButton()->click();
        EXPECT_TRUE(dialog.settings().isDefault());
        dialog.okButton()->click();
    });
    EXPECT_TRUE(window.mixSettings().isDefault());
    EXPECT_TRUE(MixSettingsStore::load().isDefault());
}

TEST(MixSettingsDialog, CancelKeepsEverythingAsItWas) {
    ExecutableFolderSandbox sandbox;
    ScriptedDesktop scripted;
    CTonvexDlg window;
    runDialog(window, [](MixSettingsDlg &dialog) {
        dialog.replaceBox()->setChecked(true);
        dialog.reject();
    });
    EXPECT_TRUE(window.mixSettings().isDefault());
    EXPECT_EQ(sandbox.settings().find("[MIX]"), std::string::npos);
}

// The line beside the button names what differs from the plain mix, in the language's words.
TEST(MixSettingsButton, TheLineBesideItSaysWhatIsActive) {
    MixSettings levels, loudness, replace;
    levels.musicGainDb = -6, levels.ownGainDb = 0, levels.fadeOutSeconds = 3, levels.duckDb = 10;
    levels.loudnessLufs = -16;
    loudness.musicLoudnessLufs = -23, loudness.ownGainDb = 2.5, loudness.loop = false, loudness.crossfadeSeconds = 1;
    // With replace the own level and ducking have nothing to act on: not named.
    replace.replaceOwnSound = true, replace.ownGainDb = -3, replace.duckDb = 10, replace.delaySeconds = 1.5;
    replace.musicStartSeconds = 30, replace.crossfadeSeconds = 0.5;
    const std::pair<MixSettings, const char *> rows[] = {
        {MixSettings{}, ""},
        {levels, "music −6 dB · fade-out 3 s · ducking 10 dB · mix −16 LUFS"},
        {loudness, "music −23 LUFS · original sound +2.5 dB · played once"},
        {replace, "music only · music after 1.5 s · song from 30 s · crossfade 0.5 s"}};
    for (const auto &[settings, expected] : rows)
        EXPECT_EQ(mixSettingsSummary(settings), QString::fromUtf8(expected));

    ExecutableFolderSandbox sandbox;
    ScriptedDesktop scripted;
    sandbox.writeSettings("[MIX]\nfadein=2\n");
    CTonvexDlg window;
    EXPECT_EQ(window.mixSummaryLine()->text(), QStringLiteral("fade-in 2 s"));
    runDialog(window, [](MixSettingsDlg &dialog) {
        dialog.resetButton()->click();
        dialog.okButton()->click();
    });
    EXPECT_TRUE(window.mixSummaryLine()->text().isEmpty());
}

// Every number shows its range; one typed outside it stays as typed and is refused in words.
// What a choice makes pointless is disabled.
TEST(MixSettingsDialog, RangesAreShownRefusedInWordsAndPointlessControlsDisabled) {
    MixSettingsDlg dialog{MixSettings{}};
    EXPECT_EQ(dialog.findChild<QLabel *>(QStringLiteral("fadeinRange"))->text(), QStringLiteral("0 … 600 s"));
    EXPECT_EQ(dialog.findChild<QLabel *>(QStringLiteral("loudnessTargetRange"))->text(),
              QStringLiteral("−60 … 0 LUFS"));
    dialog.fadeInBox()->setValue(9999);
    EXPECT_EQ(dialog.fadeInBox()->value(), 9999);
    EXPECT_FALSE(dialog.okButton()->isEnabled());
    EXPECT_FALSE(dialog.problemLabel()->isHidden());
    EXPECT_EQ(dialog.problem(), QStringLiteral("Please enter 0 … 600 s for “Fade the music in over”."));
    dialog.accept();
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    dialog.fadeInBox()->setValue(600);
    EXPECT_TRUE(dialog.okButton()->isEnabled());
    EXPECT_TRUE(dialog.problem().isEmpty());
    // A box disabled by a choice does not hold the settings back.
    dialog.crossfadeBox()->setValue(99);
    EXPECT_FALSE(dialog.okButton()->isEnabled());
    dialog.loopBox()->setChecked(false);
    EXPECT_TRUE(dialog.okButton()->isEnabled());

    dialog.duckBox()->setChecked(true);
    dialog.levelsGroup()->setChecked(true);
    dialog.replaceBox()->setChecked(true);
    EXPECT_FALSE(dialog.ownLevelSlider()->isEnabled());
    EXPECT_FALSE(dialog.duckBox()->isEnabled());
    EXPECT_FALSE(dialog.duckDepthSlider()->isEnabled());
    EXPECT_TRUE(dialog.musicLevelSlider()->isEnabled());
    EXPECT_TRUE(dialog.settings().duckDb.has_value()); // kept for when replace is cleared
    dialog.replaceBox()->setChecked(false);
    EXPECT_TRUE(dialog.duckDepthSlider()->isEnabled());
}

TEST(MixSettingsDialog, ALoudnessTargetTakesThePlaceOfTheMusicLevel) {
    MixSettings settings;
    settings.musicLoudnessLufs = -27;
    MixSettingsDlg dialog(settings);
    EXPECT_TRUE(dialog.levelsGroup()->isChecked());
    EXPECT_TRUE(dialog.loudnessBox()->isChecked());
    EXPECT_FALSE(dialog.musicLevelSlider()->isEnabled());
    EXPECT_EQ(dialog.loudnessTarget()->value(), -27);
    const MixSettings read = dialog.settings();
    EXPECT_EQ(read.musicLoudnessLufs, -27);
    EXPECT_FALSE(read.musicGainDb);
    EXPECT_EQ(validateMixSettings(read), "");

    // The whole mix's target: a preset writes its value, a value typed shows its preset or "Other";
    // the ducking's timing and key go through its controls.
    EXPECT_FALSE(read.loudnessLufs);
    dialog.wholeLoudnessGroup()->setChecked(true);
    dialog.loudnessPresetBox()->setCurrentIndex(2);
    emit dialog.loudnessPresetBox()->activated(2);
    EXPECT_EQ(dialog.settings().loudnessLufs, -23);
    dialog.mixLoudnessBox()->setValue(-16);
    EXPECT_EQ(dialog.loudnessPresetBox()->currentIndex(), 1);
    dialog.mixLoudnessBox()->setValue(-18);
    EXPECT_EQ(dialog.loudnessPresetBox()->currentText(), QStringLiteral("Other"));
    dialog.truePeakBox()->setValue(-2);
    dialog.duckBox()->setChecked(true);
    dialog.duckHoldBox()->setValue(1.5);
    dialog.duckKeyBox()->setCurrentIndex(1);
    const MixSettings shaped = dialog.settings();
    EXPECT_EQ(shaped.loudnessLufs, -18);
    EXPECT_EQ(shaped.truePeakDb, -2);
    EXPECT_EQ(shaped.duckHoldSeconds, 1.5);
    EXPECT_EQ(shaped.duckKey, DuckKey::Any);
    dialog.duckBox()->setChecked(false);
    EXPECT_FALSE(dialog.duckHoldBox()->isEnabled());

    // A picture of the dialog for reviewers, beside the main window's.
    QDir().mkpath(QStringLiteral(MELVORA_ARTIFACT_DIR));
    dialog.adjustSize();
    EXPECT_TRUE(dialog.grab().save(QStringLiteral(MELVORA_ARTIFACT_DIR "/mix-settings.png")));
}

TEST(MixSettingsDialog, ThePreviewDrawsTheChosenFilesAndFollowsTheSettings) {
    ExecutableFolderSandbox sandbox;
    ScriptedDesktop scripted;
    CTonvexDlg window;
    const auto openPreview = [](MixSettingsDlg &dialog) {
        dialog.previewButton()->click();
        return qobject_cast<MixPreviewDlg *>(dialog.previewDialog());
    };
    runDialog(window, [&](MixSettingsDlg &dialog) {
        MixPreviewDlg *preview = openPreview(dialog);
        ASSERT_NE(preview, nullptr);
        EXPECT_TRUE(preview->statusLabel()->text().startsWith(QStringLiteral("Choose a video and a music file")));
        EXPECT_FALSE(preview->playButton()->isEnabled());
        EXPECT_EQ(preview->rendering(), nullptr);
        dialog.reject();
    });

    const FlowMedia &media = FlowMedia::get();
    window.videoPathBox()->setText(q(media.video));
    window.musicPathBox()->setText(q(media.music));
    runDialog(window, [&](MixSettingsDlg &dialog) {
        MixPreviewDlg *preview = openPreview(dialog);
        ASSERT_NE(preview, nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(preview->rendering() && preview->rendering()->finished(), 30000);
        EXPECT_GE(preview->rendering()->result(), 0);
        QTRY_VERIFY(!preview->timeline()->rendering().music.empty());
        // A change in the dialog is a new rendering of the new settings.
        dialog.fadeInBox()->setValue(1.5);
        QTRY_COMPARE(preview->rendering()->settings(), dialog.settings());
        QTRY_VERIFY(preview->rendering()->finished());
        // A whole-mix target: the picture is the mix brought to it, not a sketch, and says so.
        dialog.wholeLoudnessGroup()->setChecked(true);
        dialog.mixLoudnessBox()->setValue(-20);
        QTRY_COMPARE(preview->rendering()->settings(), dialog.settings());
        QTRY_VERIFY_WITH_TIMEOUT(preview->rendering()->finished(), 30000);
        QTRY_VERIFY(!preview->timeline()->rendering().sketch);
        const MixPreviewRender::Levels &shown = preview->timeline()->rendering();
        ASSERT_TRUE(shown.targetLufs && shown.reachedLufs);
        EXPECT_DOUBLE_EQ(*shown.targetLufs, -20);
        EXPECT_NEAR(*shown.reachedLufs, -20, 0.5);
        dialog.wholeLoudnessGroup()->setChecked(false);
        // Fitting the song: a second of music has no plan for two of video, so the preview lays it as
        // the run will, faded out, and tells the run's warning; a later fade-out still counts.
        dialog.fitBox()->setChecked(true);
        for (double fadeOut : {0.0, 1.0}) {
            dialog.fadeOutBox()->setValue(fadeOut);
            QTRY_COMPARE(preview->rendering()->settings(), dialog.settings());
            QTRY_VERIFY_WITH_TIMEOUT(preview->rendering()->finished(), 30000);
            EXPECT_GE(preview->rendering()->result(), 0);
            QTRY_VERIFY(preview->statusLabel()->text().contains(QStringLiteral("fades out at the end instead")));
            EXPECT_TRUE(preview->timeline()->notice().isEmpty());
            EXPECT_TRUE(preview->timeline()->rendering().seamSeconds.empty());
        }
        dialog.fitBox()->setChecked(false);
        // Without a sound output the picture works and the button says why it cannot play.
        const bool output = !QMediaDevices::audioOutputs().isEmpty();
        EXPECT_EQ(preview->playButton()->isEnabled(), output);
        if (!output) {
            EXPECT_EQ(preview->playButton()->toolTip(), mixPreviewText(languagekeys::mixpreview::noOutput));
            EXPECT_TRUE(preview->statusLabel()->text().contains(preview->playButton()->toolTip()));
        }
        // A click chooses where to play from.
        QTest::mouseClick(preview->timeline(), Qt::LeftButton, {}, QPoint(preview->timeline()->width() / 2, 10));
        EXPECT_NEAR(preview->timeline()->pointSeconds(), 1.0, 0.1);
        // Where there is a sound output (a desktop, or a null sink of a sound server), Play plays
        // from the point: the sound is taken up and the playhead moves on from there.
        if (output) {
            preview->playButton()->click();
            EXPECT_TRUE(preview->playing());
            QTRY_VERIFY_WITH_TIMEOUT(preview->timeline()->playhead() > 1.2, 5000);
            preview->playButton()->click();
            EXPECT_FALSE(preview->playing());
        }
        dialog.reject();
    });
}

} // namespace
} // namespace melvora
