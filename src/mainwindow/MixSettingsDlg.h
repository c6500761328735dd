#pragma once

#include "config/IniKey.h"
#include "engine/MixSettings.h"

#include <QDialog>
#include <QString>

#include <vector>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSlider;

namespace melvora {

// The mix settings as controls: the two levels (or a loudness target) as
// sliders with their dB shown, seconds in spin boxes, replace, loop and
// ducking as check boxes (the ducking's look-ahead, hold and key beneath
// it), a loudness target for the whole mix with the usual targets to pick
// and its true-peak ceiling, and a reset to the defaults. Every number shows its
// range; one typed outside it is shown as typed, named in a line above the
// buttons and keeps OK unavailable. Controls that a choice makes pointless
// (the own level and ducking with replace, the crossfade without repeats) are
// disabled, their values kept. It only edits a
// value; the main window keeps and saves it. Texts come from the language
// file's [MIX] section, in English where it has none.
class MixSettingsDlg : public QDialog {
    Q_OBJECT

public:
    explicit MixSettingsDlg(const MixSettings &settings, QWidget *parent = nullptr);

    void setSettings(const MixSettings &settings);
    MixSettings settings() const;
    // Why the settings cannot be taken as they stand (a number outside its
    // range, named with the range); "" when they can.
    QString problem() const;
    QLabel *problemLabel() const { return m_problem; }

    QGroupBox *levelsGroup() const { return m_levels; }
    QSlider *musicLevelSlider() const { return m_musicLevel; }
    QSlider *ownLevelSlider() const { return m_ownLevel; }
    QLabel *musicLevelValue() const { return m_musicLevelValue; }
    QCheckBox *loudnessBox() const { return m_loudness; }
    QDoubleSpinBox *loudnessTarget() const { return m_loudnessTarget; }
    QCheckBox *replaceBox() const { return m_replace; }
    QDoubleSpinBox *fadeInBox() const { return m_fadeIn; }
    QDoubleSpinBox *fadeOutBox() const { return m_fadeOut; }
    QDoubleSpinBox *delayBox() const { return m_delay; }
    QDoubleSpinBox *musicStartBox() const { return m_musicStart; }
    QCheckBox *loopBox() const { return m_loop; }
    QCheckBox *loopSeamsBox() const { return m_loopSeams; }
    QCheckBox *fitBox() const { return m_fit; }
    QDoubleSpinBox *crossfadeBox() const { return m_crossfade; }
    QCheckBox *duckBox() const { return m_duck; }
    QSlider *duckDepthSlider() const { return m_duckDepth; }
    QDoubleSpinBox *duckLookaheadBox() const { return m_duckLookahead; }
    QDoubleSpinBox *duckHoldBox() const { return m_duckHold; }
    QComboBox *duckKeyBox() const { return m_duckKey; }
    QGroupBox *wholeLoudnessGroup() const { return m_wholeLoudness; }
    QComboBox *loudnessPresetBox() const { return m_loudnessPreset; }
    QDoubleSpinBox *mixLoudnessBox() const { return m_mixLoudness; }
    QDoubleSpinBox *truePeakBox() const { return m_truePeak; }
    QPushButton *resetButton() const { return m_reset; }
    QPushButton *okButton() const { return m_ok; }

    // The files the preview hears; without both it says so and stays empty.
    void setPreviewFiles(const QString &videoPath, const QString &musicPath);
    QPushButton *previewButton() const { return m_previewButton; }
    // The preview's window once the button opened it.
    QDialog *previewDialog() const { return m_preview; }

public slots:
    void accept() override;

private:
    struct RangeCheck {
        QDoubleSpinBox *box;
        QString label;
        QString range;
    };

    void updateEnabledControls();
    void checkRanges();

    QGroupBox *m_levels = nullptr;
    QSlider *m_musicLevel = nullptr;
    QLabel *m_musicLevelValue = nullptr;
    QSlider *m_ownLevel = nullptr;
    QCheckBox *m_loudness = nullptr;
    QDoubleSpinBox *m_loudnessTarget = nullptr;
    QCheckBox *m_replace = nullptr;
    QDoubleSpinBox *m_fadeIn = nullptr;
    QDoubleSpinBox *m_fadeOut = nullptr;
    QDoubleSpinBox *m_delay = nullptr;
    QDoubleSpinBox *m_musicStart = nullptr;
    QCheckBox *m_loop = nullptr;
    QCheckBox *m_loopSeams = nullptr;
    QCheckBox *m_fit = nullptr;
    QDoubleSpinBox *m_crossfade = nullptr;
    QCheckBox *m_duck = nullptr;
    QSlider *m_duckDepth = nullptr;
    QDoubleSpinBox *m_duckLookahead = nullptr;
    QDoubleSpinBox *m_duckHold = nullptr;
    QComboBox *m_duckKey = nullptr;
    QGroupBox *m_wholeLoudness = nullptr;
    QComboBox *m_loudnessPreset = nullptr;
    QDoubleSpinBox *m_mixLoudness = nullptr;
    QDoubleSpinBox *m_truePeak = nullptr;
    QPushButton *m_reset = nullptr;
    QPushButton *m_ok = nullptr;
    QLabel *m_problem = nullptr;
    std::vector<RangeCheck> m_rangeBoxes;
    QPushButton *m_previewButton = nullptr;
    QDialog *m_preview = nullptr;
    QString m_previewVideo;
    QString m_previewMusic;
};

// The language text of a [MIX] key, or the English text when the file has none.
QString mixSettingsText(const IniKey &key);

// The settings that differ from the plain mix, in a few words each joined by
// " · " (for example "music −6 dB · fade-out 3 s · ducking 10 dB"); "" for
// the defaults.
QString mixSettingsSummary(const MixSettings &settings);

} // namespace melvora
