#include "mainwindow/MixSettingsDlg.h"

#include "config/LanguageKeys.h"
#include "config/LanguageTexts.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>
#include <string_view>
#include <utility>

namespace melvora {
namespace {

namespace keys = languagekeys::mix;

// Sliders move in half decibels.
constexpr int kSliderStepsPerDb = 2;

const char *englishText(const IniKey &key) {
    static const std::pair<std::string_view, const char *> texts[] = {
        {"button", "Mix settings…"},
        {"title", "Mix settings"},
        {"levels", "Set the levels myself"},
        {"musiclevel", "Music level"},
        {"ownlevel", "Original sound level"},
        {"loudness", "Bring the music to a loudness of"},
        {"replace", "Replace the original sound with the music"},
        {"fadein", "Fade the music in over"},
        {"fadeout", "Fade the music out at the end over"},
        {"delay", "Start the music after"},
        {"musicstart", "Begin this far into the song"},
        {"loop", "Repeat the music until the video ends"},
        {"crossfade", "Blend the repeats over"},
        {"duck", "Lower the music while the video has sound"},
        {"duckdepth", "Lower by"},
        {"reset", "Reset to defaults"},
        {"ok", "OK"},
        {"cancel", "Cancel"},
    };
    for (const auto &[name, text] : texts) {
        if (name == key.key)
            return text;
    }
    return "";
}

QSlider *decibelSlider(MixControl control, QWidget *parent) {
    const MixControlInfo &info = mixControlInfo(control);
    auto *slider = new QSlider(Qt::Horizontal, parent);
    slider->setRange(static_cast<int>(info.minimum * kSliderStepsPerDb),
                     static_cast<int>(info.maximum * kSliderStepsPerDb));
    slider->setPageStep(kSliderStepsPerDb * 3);
    slider->setMinimumWidth(180);
    return slider;
}

double sliderDb(const QSlider *slider) {
    return double(slider->value()) / kSliderStepsPerDb;
}

void setSliderDb(QSlider *slider, double decibels) {
    slider->setValue(static_cast<int>(std::lround(decibels * kSliderStepsPerDb)));
}

// A slider with its value in dB beside it.
QWidget *withValueLabel(QSlider *slider, QLabel *&value, QWidget *parent) {
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    value = new QLabel(row);
    value->setMinimumWidth(value->fontMetrics().horizontalAdvance(QStringLiteral("−60.0 dB")));
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(slider, 1);
    layout->addWidget(value);
    auto show = [slider, label = value] {
        label->setText(QLocale().toString(sliderDb(slider), 'f', 1) + QStringLiteral(" dB"));
    };
    QObject::connect(slider, &QSlider::valueChanged, value, show);
    show();
    return row;
}

QDoubleSpinBox *secondsBox(MixControl control, QWidget *parent) {
    const MixControlInfo &info = mixControlInfo(control);
    auto *box = new QDoubleSpinBox(parent);
    box->setRange(info.minimum, info.maximum);
    box->setDecimals(2);
    box->setSingleStep(0.5);
    box->setSuffix(QStringLiteral(" s"));
    return box;
}

} // namespace

QString mixSettingsText(const IniKey &key) {
    const std::string text = LanguageTexts::instance().text(key);
    return text.empty() ? QString::fromUtf8(englishText(key)) : QString::fromStdString(text);
}

MixSettingsDlg::MixSettingsDlg(const MixSettings &settings, QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("mixSettingsDialog"));
    setWindowTitle(mixSettingsText(keys::title));
    auto *layout = new QVBoxLayout(this);

    m_levels = new QGroupBox(mixSettingsText(keys::levels), this);
    m_levels->setObjectName(QStringLiteral("levels"));
    m_levels->setCheckable(true);
    auto *levelsLayout = new QFormLayout(m_levels);
    m_musicLevel = decibelSlider(MixControl::MusicGain, m_levels);
    m_musicLevel->setObjectName(QStringLiteral("musicLevel"));
    levelsLayout->addRow(mixSettingsText(keys::musicLevel), withValueLabel(m_musicLevel, m_musicLevelValue, m_levels));
    m_ownLevel = decibelSlider(MixControl::OwnGain, m_levels);
    m_ownLevel->setObjectName(QStringLiteral("ownLevel"));
    QLabel *ownLevelValue = nullptr;
    levelsLayout->addRow(mixSettingsText(keys::ownLevel), withValueLabel(m_ownLevel, ownLevelValue, m_levels));
    m_loudness = new QCheckBox(mixSettingsText(keys::loudness), m_levels);
    m_loudness->setObjectName(QStringLiteral("loudness"));
    const MixControlInfo &loudness = mixControlInfo(MixControl::MusicLoudness);
    m_loudnessTarget = new QDoubleSpinBox(m_levels);
    m_loudnessTarget->setObjectName(QStringLiteral("loudnessTarget"));
    m_loudnessTarget->setRange(loudness.minimum, loudness.maximum);
    m_loudnessTarget->setDecimals(1);
    m_loudnessTarget->setSuffix(QStringLiteral(" LUFS"));
    levelsLayout->addRow(m_loudness, m_loudnessTarget);
    layout->addWidget(m_levels);

    m_replace = new QCheckBox(mixSettingsText(keys::replace), this);
    m_replace->setObjectName(QStringLiteral("replace"));
    layout->addWidget(m_replace);

    auto *times = new QFormLayout;
    const std::pair<QDoubleSpinBox **, std::pair<MixControl, IniKey>> secondControls[] = {
        {&m_fadeIn, {MixControl::FadeIn, keys::fadeIn}},
        {&m_fadeOut, {MixControl::FadeOut, keys::fadeOut}},
        {&m_delay, {MixControl::Delay, keys::delay}},
        {&m_musicStart, {MixControl::MusicStart, keys::musicStart}},
    };
    for (const auto &[box, control] : secondControls) {
        *box = secondsBox(control.first, this);
        (*box)->setObjectName(QString::fromUtf8(control.second.key.data(), qsizetype(control.second.key.size())));
        times->addRow(mixSettingsText(control.second), *box);
    }
    m_loop = new QCheckBox(mixSettingsText(keys::loop), this);
    m_loop->setObjectName(QStringLiteral("loop"));
    times->addRow(m_loop);
    m_crossfade = secondsBox(MixControl::Crossfade, this);
    m_crossfade->setObjectName(QStringLiteral("crossfade"));
    times->addRow(mixSettingsText(keys::crossfade), m_crossfade);
    m_duck = new QCheckBox(mixSettingsText(keys::duck), this);
    m_duck->setObjectName(QStringLiteral("duck"));
    times->addRow(m_duck);
    m_duckDepth = decibelSlider(MixControl::Duck, this);
    m_duckDepth->setObjectName(QStringLiteral("duckDepth"));
    QLabel *duckDepthValue = nullptr;
    times->addRow(mixSettingsText(keys::duckDepth), withValueLabel(m_duckDepth, duckDepthValue, this));
    layout->addLayout(times);

    auto *buttons = new QDialogButtonBox(this);
    m_reset = buttons->addButton(mixSettingsText(keys::reset), QDialogButtonBox::ResetRole);
    m_reset->setObjectName(QStringLiteral("reset"));
    m_ok = buttons->addButton(mixSettingsText(keys::ok), QDialogButtonBox::AcceptRole);
    m_ok->setObjectName(QStringLiteral("ok"));
    QPushButton *cancel = buttons->addButton(mixSettingsText(keys::cancel), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancel"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_reset, &QPushButton::clicked, this, [this] { setSettings(MixSettings{}); });

    for (QCheckBox *box : {m_loudness, m_loop, m_duck})
        connect(box, &QCheckBox::toggled, this, &MixSettingsDlg::updateEnabledControls);
    connect(m_levels, &QGroupBox::toggled, this, &MixSettingsDlg::updateEnabledControls);
    setSettings(settings);
}

void MixSettingsDlg::setSettings(const MixSettings &settings) {
    m_levels->setChecked(settings.levelsSet());
    setSliderDb(m_musicLevel, settings.musicGainDb.value_or(0));
    setSliderDb(m_ownLevel, settings.ownGainDb.value_or(0));
    m_loudness->setChecked(settings.musicLoudnessLufs.has_value());
    m_loudnessTarget->setValue(
        settings.musicLoudnessLufs.value_or(mixControlInfo(MixControl::MusicLoudness).defaultValue));
    m_replace->setChecked(settings.replaceOwnSound);
    m_fadeIn->setValue(settings.fadeInSeconds);
    m_fadeOut->setValue(settings.fadeOutSeconds);
    m_delay->setValue(settings.delaySeconds);
    m_musicStart->setValue(settings.musicStartSeconds);
    m_loop->setChecked(settings.loop);
    m_crossfade->setValue(settings.crossfadeSeconds);
    m_duck->setChecked(settings.duckDb.has_value());
    setSliderDb(m_duckDepth, settings.duckDb.value_or(mixControlInfo(MixControl::Duck).defaultValue));
    updateEnabledControls();
}

MixSettings MixSettingsDlg::settings() const {
    MixSettings settings;
    if (m_levels->isChecked()) {
        if (m_loudness->isChecked())
            settings.musicLoudnessLufs = m_loudnessTarget->value();
        else
            settings.musicGainDb = sliderDb(m_musicLevel);
        settings.ownGainDb = sliderDb(m_ownLevel);
    }
    settings.replaceOwnSound = m_replace->isChecked();
    settings.fadeInSeconds = m_fadeIn->value();
    settings.fadeOutSeconds = m_fadeOut->value();
    settings.delaySeconds = m_delay->value();
    settings.musicStartSeconds = m_musicStart->value();
    settings.loop = m_loop->isChecked();
    settings.crossfadeSeconds = settings.loop ? m_crossfade->value() : 0;
    if (m_duck->isChecked())
        settings.duckDb = sliderDb(m_duckDepth);
    return settings;
}

void MixSettingsDlg::updateEnabledControls() {
    m_musicLevel->setEnabled(m_levels->isChecked() && !m_loudness->isChecked());
    m_loudnessTarget->setEnabled(m_levels->isChecked() && m_loudness->isChecked());
    m_crossfade->setEnabled(m_loop->isChecked());
    m_duckDepth->setEnabled(m_duck->isChecked());
}

} // namespace melvora
