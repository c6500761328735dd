#include "mainwindow/MixSettingsDlg.h"

#include "config/LanguageKeys.h"
#include "config/LanguageTexts.h"
#include "mainwindow/MixPreview.h"

#include <QCheckBox>
#include <QComboBox>
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

#include <algorithm>
#include <cmath>
#include <string_view>
#include <utility>

namespace melvora {
namespace {

namespace keys = languagekeys::mix;

// Sliders move in half decibels.
constexpr int kSliderStepsPerDb = 2;

// The loudness people publish at: video sites, podcasts, broadcast (EBU R128).
constexpr std::pair<IniKey, double> kLoudnessPresets[] = {
    {keys::presetWeb, -14},
    {keys::presetPodcast, -16},
    {keys::presetBroadcast, -23},
};

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
        {"outofrange", "Please enter %2 for “%1”."},
        {"summarymusic", "music %1"},
        {"summaryown", "original sound %1"},
        {"summaryreplace", "music only"},
        {"summaryfadein", "fade-in %1"},
        {"summaryfadeout", "fade-out %1"},
        {"summarydelay", "music after %1"},
        {"summarymusicstart", "song from %1"},
        {"summarynoloop", "played once"},
        {"summarycrossfade", "crossfade %1"},
        {"summaryduck", "ducking %1"},
        {"ducklookahead", "Lower it ahead of the voice by"},
        {"duckhold", "Keep it down through pauses of up to"},
        {"duckon", "Listen for"},
        {"duckonspeech", "Speech only"},
        {"duckonany", "Any sound"},
        {"wholeloudness", "Bring the whole mix to a loudness"},
        {"presetweb", "Video sites"},
        {"presetpodcast", "Podcasts"},
        {"presetbroadcast", "Broadcast"},
        {"presetother", "Other"},
        {"truepeak", "Peaks at most"},
        {"summaryloudness", "mix %1"},
        {"fit", "Fit the song to the video"},
        {"loopseams", "at the song’s own loop points"},
        {"summaryfit", "fitted to the video"},
        {"summaryloopseams", "looped at its seams"},
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

// A number as people read it here: the locale's decimal point, no trailing zeros.
QString plainNumber(double value) {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'g', 6);
}

// Decibels with their sign, as levels are spoken of: "−6 dB", "+3 dB", "0 dB".
QString signedDecibels(double value) {
    const QString digits = plainNumber(std::abs(value));
    const QString sign = value > 0 ? QStringLiteral("+") : value < 0 ? QStringLiteral("\u2212") : QString();
    return sign + digits + QStringLiteral(" dB");
}

QString withUnit(double value, std::string_view unit) {
    return plainNumber(value) + u' ' + QString::fromUtf8(unit.data(), qsizetype(unit.size()));
}

QString rangeText(MixControl control) {
    const MixControlInfo &info = mixControlInfo(control);
    const QString unit = QString::fromUtf8(info.unit.data(), qsizetype(info.unit.size()));
    if (unit == QStringLiteral("dB") && info.minimum < 0)
        return signedDecibels(info.minimum).chopped(3) + QStringLiteral(" … ") + signedDecibels(info.maximum);
    const QString minimum = info.minimum < 0 ? QStringLiteral("\u2212") + plainNumber(-info.minimum)
                                             : plainNumber(info.minimum);
    return minimum + QStringLiteral(" … ") + plainNumber(info.maximum) + u' ' + unit;
}

// A number box that takes whatever is typed, so that a value outside the
// control's range stays visible and is refused with a word, never changed
// behind the user's back; its arrows stay inside the range.
class RangeBox : public QDoubleSpinBox {
public:
    RangeBox(MixControl control, QWidget *parent) : QDoubleSpinBox(parent), m_info(mixControlInfo(control)) {
        setRange(-99999, 99999);
        setSuffix(u' ' + QString::fromUtf8(m_info.unit.data(), qsizetype(m_info.unit.size())));
    }
    bool inRange() const { return value() >= m_info.minimum && value() <= m_info.maximum; }
    void stepBy(int steps) override {
        setValue(std::clamp(value() + steps * singleStep(), m_info.minimum, m_info.maximum));
    }

protected:
    StepEnabled stepEnabled() const override {
        StepEnabled enabled = StepNone;
        if (value() < m_info.maximum)
            enabled |= StepUpEnabled;
        if (value() > m_info.minimum)
            enabled |= StepDownEnabled;
        return enabled;
    }

private:
    const MixControlInfo &m_info;
};

QDoubleSpinBox *secondsBox(MixControl control, QWidget *parent) {
    auto *box = new RangeBox(control, parent);
    box->setDecimals(2);
    box->setSingleStep(0.5);
    return box;
}

bool inRange(const QDoubleSpinBox *box) {
    return static_cast<const RangeBox *>(box)->inRange();
}

// A control with its range beside it.
QWidget *withRange(QWidget *control, MixControl range, QWidget *parent) {
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(control, 1);
    auto *label = new QLabel(rangeText(range), row);
    label->setObjectName(control->objectName() + QStringLiteral("Range"));
    label->setEnabled(false); // drawn greyed: a hint, not a value
    layout->addWidget(label);
    return row;
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
    levelsLayout->addRow(mixSettingsText(keys::musicLevel),
                         withRange(withValueLabel(m_musicLevel, m_musicLevelValue, m_levels), MixControl::MusicGain,
                                   m_levels));
    m_ownLevel = decibelSlider(MixControl::OwnGain, m_levels);
    m_ownLevel->setObjectName(QStringLiteral("ownLevel"));
    QLabel *ownLevelValue = nullptr;
    levelsLayout->addRow(mixSettingsText(keys::ownLevel),
                         withRange(withValueLabel(m_ownLevel, ownLevelValue, m_levels), MixControl::OwnGain, m_levels));
    m_loudness = new QCheckBox(mixSettingsText(keys::loudness), m_levels);
    m_loudness->setObjectName(QStringLiteral("loudness"));
    m_loudnessTarget = new RangeBox(MixControl::MusicLoudness, m_levels);
    m_loudnessTarget->setObjectName(QStringLiteral("loudnessTarget"));
    m_loudnessTarget->setDecimals(1);
    levelsLayout->addRow(m_loudness, withRange(m_loudnessTarget, MixControl::MusicLoudness, m_levels));
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
        times->addRow(mixSettingsText(control.second), withRange(*box, control.first, this));
        m_rangeBoxes.push_back({*box, mixSettingsText(control.second), rangeText(control.first)});
    }
    m_loop = new QCheckBox(mixSettingsText(keys::loop), this);
    m_loop->setObjectName(QStringLiteral("loop"));
    m_loopSeams = new QCheckBox(mixSettingsText(keys::loopSeams), this);
    m_loopSeams->setObjectName(QStringLiteral("loopSeams"));
    auto *loopRow = new QHBoxLayout;
    loopRow->addWidget(m_loop);
    loopRow->addWidget(m_loopSeams);
    loopRow->addStretch(1);
    times->addRow(loopRow);
    m_crossfade = secondsBox(MixControl::Crossfade, this);
    m_crossfade->setObjectName(QStringLiteral("crossfade"));
    times->addRow(mixSettingsText(keys::crossfade), withRange(m_crossfade, MixControl::Crossfade, this));
    m_rangeBoxes.push_back({m_crossfade, mixSettingsText(keys::crossfade), rangeText(MixControl::Crossfade)});
    m_rangeBoxes.push_back({m_loudnessTarget, mixSettingsText(keys::loudness), rangeText(MixControl::MusicLoudness)});
    m_duck = new QCheckBox(mixSettingsText(keys::duck), this);
    m_duck->setObjectName(QStringLiteral("duck"));
    times->addRow(m_duck);
    m_duckDepth = decibelSlider(MixControl::Duck, this);
    m_duckDepth->setObjectName(QStringLiteral("duckDepth"));
    QLabel *duckDepthValue = nullptr;
    times->addRow(mixSettingsText(keys::duckDepth),
                  withRange(withValueLabel(m_duckDepth, duckDepthValue, this), MixControl::Duck, this));
    const std::pair<QDoubleSpinBox **, std::pair<MixControl, IniKey>> duckTimes[] = {
        {&m_duckLookahead, {MixControl::DuckLookahead, keys::duckLookahead}},
        {&m_duckHold, {MixControl::DuckHold, keys::duckHold}},
    };
    for (const auto &[box, control] : duckTimes) {
        *box = secondsBox(control.first, this);
        (*box)->setSingleStep(0.05);
        (*box)->setObjectName(QString::fromUtf8(control.second.key.data(), qsizetype(control.second.key.size())));
        times->addRow(mixSettingsText(control.second), withRange(*box, control.first, this));
        m_rangeBoxes.push_back({*box, mixSettingsText(control.second), rangeText(control.first)});
    }
    m_duckKey = new QComboBox(this);
    m_duckKey->setObjectName(QStringLiteral("duckOn"));
    m_duckKey->addItem(mixSettingsText(keys::duckOnSpeech), int(DuckKey::Speech));
    m_duckKey->addItem(mixSettingsText(keys::duckOnAny), int(DuckKey::Any));
    times->addRow(mixSettingsText(keys::duckOn), m_duckKey);
    m_fit = new QCheckBox(mixSettingsText(keys::fit), this);
    m_fit->setObjectName(QStringLiteral("fit"));
    times->addRow(m_fit);
    layout->addLayout(times);

    // A loudness target for the whole mix, with the usual targets to pick.
    m_wholeLoudness = new QGroupBox(mixSettingsText(keys::wholeLoudness), this);
    m_wholeLoudness->setObjectName(QStringLiteral("wholeLoudness"));
    m_wholeLoudness->setCheckable(true);
    auto *loudnessLayout = new QFormLayout(m_wholeLoudness);
    m_loudnessPreset = new QComboBox(m_wholeLoudness);
    m_loudnessPreset->setObjectName(QStringLiteral("loudnessPreset"));
    for (const auto &[key, lufs] : kLoudnessPresets)
        m_loudnessPreset->addItem(mixSettingsText(key) + QStringLiteral(" (") +
                                      withUnit(lufs, "LUFS").replace(u'-', QChar(0x2212)) + u')',
                                  lufs);
    m_loudnessPreset->addItem(mixSettingsText(keys::presetOther));
    m_mixLoudness = new RangeBox(MixControl::Loudness, m_wholeLoudness);
    m_mixLoudness->setObjectName(QStringLiteral("mixLoudness"));
    m_mixLoudness->setDecimals(1);
    auto *target = new QWidget(m_wholeLoudness);
    auto *targetLayout = new QHBoxLayout(target);
    targetLayout->setContentsMargins(0, 0, 0, 0);
    targetLayout->addWidget(m_loudnessPreset);
    targetLayout->addWidget(withRange(m_mixLoudness, MixControl::Loudness, target), 1);
    loudnessLayout->addRow(target);
    m_truePeak = new RangeBox(MixControl::TruePeak, m_wholeLoudness);
    m_truePeak->setObjectName(QStringLiteral("truePeak"));
    m_truePeak->setDecimals(1);
    m_truePeak->setSingleStep(0.5);
    loudnessLayout->addRow(mixSettingsText(keys::truePeak), withRange(m_truePeak, MixControl::TruePeak, m_wholeLoudness));
    m_rangeBoxes.push_back({m_mixLoudness, mixSettingsText(keys::wholeLoudness), rangeText(MixControl::Loudness)});
    m_rangeBoxes.push_back({m_truePeak, mixSettingsText(keys::truePeak), rangeText(MixControl::TruePeak)});
    layout->addWidget(m_wholeLoudness);
    // A preset writes its value; a value typed shows its preset, or "Other".
    connect(m_loudnessPreset, &QComboBox::activated, this, [this](int index) {
        if (const QVariant lufs = m_loudnessPreset->itemData(index); lufs.isValid())
            m_mixLoudness->setValue(lufs.toDouble());
    });
    connect(m_mixLoudness, &QDoubleSpinBox::valueChanged, this, [this](double lufs) {
        const int preset = m_loudnessPreset->findData(lufs);
        m_loudnessPreset->setCurrentIndex(preset >= 0 ? preset : m_loudnessPreset->count() - 1);
    });

    // The preview opens beside the dialog and follows its settings.
    m_previewButton = new QPushButton(mixPreviewText(languagekeys::mixpreview::button), this);
    m_previewButton->setObjectName(QStringLiteral("preview"));
    m_previewButton->setAutoDefault(false);
    layout->addWidget(m_previewButton, 0, Qt::AlignLeft);
    connect(m_previewButton, &QPushButton::clicked, this, [this] {
        if (!m_preview)
            m_preview = new MixPreviewDlg([this] { return this->settings(); }, m_previewVideo, m_previewMusic, this);
        m_preview->show();
        m_preview->raise();
    });

    // Why OK is not available, in words, while a number is outside its range.
    m_problem = new QLabel(this);
    m_problem->setObjectName(QStringLiteral("problem"));
    m_problem->setWordWrap(true);
    QPalette warning = m_problem->palette();
    warning.setColor(QPalette::WindowText, QColor(176, 0, 32));
    m_problem->setPalette(warning);
    m_problem->hide();
    layout->addWidget(m_problem);

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

    for (QCheckBox *box : {m_loudness, m_loop, m_loopSeams, m_duck, m_replace, m_fit})
        connect(box, &QCheckBox::toggled, this, &MixSettingsDlg::updateEnabledControls);
    for (QGroupBox *group : {m_levels, m_wholeLoudness})
        connect(group, &QGroupBox::toggled, this, &MixSettingsDlg::updateEnabledControls);
    for (const RangeCheck &check : m_rangeBoxes)
        connect(check.box, &QDoubleSpinBox::valueChanged, this, &MixSettingsDlg::checkRanges);
    setSettings(settings);
}

void MixSettingsDlg::setPreviewFiles(const QString &videoPath, const QString &musicPath) {
    m_previewVideo = videoPath;
    m_previewMusic = musicPath;
}

void MixSettingsDlg::accept() {
    // Enter in a number box must not slip a value past the check.
    if (!problem().isEmpty())
        return;
    QDialog::accept();
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
    m_loopSeams->setChecked(settings.loopAtSeams);
    m_fit->setChecked(settings.fit);
    m_crossfade->setValue(settings.crossfadeSeconds);
    m_duck->setChecked(settings.duckDb.has_value());
    setSliderDb(m_duckDepth, settings.duckDb.value_or(mixControlInfo(MixControl::Duck).defaultValue));
    m_duckLookahead->setValue(settings.duckLookaheadSeconds);
    m_duckHold->setValue(settings.duckHoldSeconds);
    m_duckKey->setCurrentIndex(m_duckKey->findData(int(settings.duckKey)));
    m_wholeLoudness->setChecked(settings.loudnessLufs.has_value());
    m_mixLoudness->setValue(settings.loudnessLufs.value_or(mixControlInfo(MixControl::Loudness).defaultValue));
    m_truePeak->setValue(settings.truePeakDb);
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
    settings.loopAtSeams = settings.loop && m_loopSeams->isChecked();
    settings.fit = m_fit->isChecked();
    settings.crossfadeSeconds = settings.loop ? m_crossfade->value() : 0;
    if (m_duck->isChecked())
        settings.duckDb = sliderDb(m_duckDepth);
    settings.duckLookaheadSeconds = m_duckLookahead->value();
    settings.duckHoldSeconds = m_duckHold->value();
    settings.duckKey = DuckKey(m_duckKey->currentData().toInt());
    if (m_wholeLoudness->isChecked())
        settings.loudnessLufs = m_mixLoudness->value();
    settings.truePeakDb = m_truePeak->value();
    return settings;
}

QString MixSettingsDlg::problem() const {
    for (const RangeCheck &check : m_rangeBoxes) {
        if (check.box->isEnabled() && !inRange(check.box))
            return mixSettingsText(keys::outOfRange).arg(check.label, check.range);
    }
    return {};
}

void MixSettingsDlg::checkRanges() {
    const QString text = problem();
    for (const RangeCheck &check : m_rangeBoxes) {
        QPalette colours = check.box->palette();
        const bool bad = check.box->isEnabled() && !inRange(check.box);
        colours.setColor(QPalette::Text, bad ? m_problem->palette().color(QPalette::WindowText)
                                             : palette().color(QPalette::Text));
        check.box->setPalette(colours);
    }
    m_problem->setText(text);
    m_problem->setVisible(!text.isEmpty());
    m_ok->setEnabled(text.isEmpty());
}

void MixSettingsDlg::updateEnabledControls() {
    const bool ownSound = !m_replace->isChecked(); // the own level and ducking act on the video's own sound
    m_musicLevel->setEnabled(m_levels->isChecked() && !m_loudness->isChecked());
    m_loudnessTarget->setEnabled(m_levels->isChecked() && m_loudness->isChecked());
    m_ownLevel->setEnabled(ownSound);
    // A fitted song has its own seams; the loop settings count without it.
    m_loop->setEnabled(!m_fit->isChecked());
    m_loopSeams->setEnabled(m_loop->isChecked() && !m_fit->isChecked());
    m_crossfade->setEnabled(m_loop->isChecked() && !m_loopSeams->isChecked() && !m_fit->isChecked());
    m_duck->setEnabled(ownSound);
    m_duckDepth->setEnabled(ownSound && m_duck->isChecked());
    for (QWidget *shape : std::initializer_list<QWidget *>{m_duckLookahead, m_duckHold, m_duckKey})
        shape->setEnabled(ownSound && m_duck->isChecked());
    checkRanges();
}

QString mixSettingsSummary(const MixSettings &settings) {
    QStringList parts;
    const auto add = [&parts](const IniKey &key, const QString &value = {}) {
        const QString text = mixSettingsText(key);
        parts << (value.isEmpty() ? text : text.arg(value));
    };
    if (settings.musicLoudnessLufs)
        add(keys::summaryMusic, withUnit(*settings.musicLoudnessLufs, "LUFS").replace(u'-', QChar(0x2212)));
    else if (settings.musicGainDb)
        add(keys::summaryMusic, signedDecibels(*settings.musicGainDb));
    if (settings.replaceOwnSound)
        add(keys::summaryReplace);
    else if (settings.ownGainDb && *settings.ownGainDb != 0) // set levels keep the own sound at 0 dB
        add(keys::summaryOwn, signedDecibels(*settings.ownGainDb));
    if (settings.fadeInSeconds > 0)
        add(keys::summaryFadeIn, withUnit(settings.fadeInSeconds, "s"));
    if (settings.fadeOutSeconds > 0)
        add(keys::summaryFadeOut, withUnit(settings.fadeOutSeconds, "s"));
    if (settings.delaySeconds > 0)
        add(keys::summaryDelay, withUnit(settings.delaySeconds, "s"));
    if (settings.musicStartSeconds > 0)
        add(keys::summaryMusicStart, withUnit(settings.musicStartSeconds, "s"));
    if (settings.fit)
        add(keys::summaryFit);
    else if (!settings.loop)
        add(keys::summaryNoLoop);
    else if (settings.loopAtSeams)
        add(keys::summaryLoopSeams);
    else if (settings.crossfadeSeconds > 0)
        add(keys::summaryCrossfade, withUnit(settings.crossfadeSeconds, "s"));
    if (settings.duckDb && !settings.replaceOwnSound)
        add(keys::summaryDuck, withUnit(*settings.duckDb, "dB"));
    if (settings.loudnessLufs)
        add(keys::summaryLoudness, withUnit(*settings.loudnessLufs, "LUFS").replace(u'-', QChar(0x2212)));
    return parts.join(QStringLiteral(" · "));
}

} // namespace melvora
