#include "progress/CDUDuduzezDlg.h"

#include "config/LanguageFile.h"
#include "config/LanguageKeys.h"
#include "config/SettingKeys.h"
#include "config/Settings.h"
#include "controls/CLabel.h"
#include "engine/MixJob.h"
#include "jobcontrol/ProgressPolling.h"
#include "controls/DialogUnits.h"

#include <QCheckBox>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace melvora {
namespace {

// The template's layout, in dialog units.
constexpr QSize kClientSize(324, 89);
constexpr QRect kCurrentFileLabelRect(19, 5, 44, 8);
constexpr QRect kProgressLineRect(66, 5, 254, 8);
constexpr QRect kProgressBarRect(20, 30, 282, 14);
constexpr QRect kOpenFolderBoxRect(21, 66, 170, 13);
constexpr QRect kStopButtonRect(253, 65, 50, 19);
// Not in the template: the free strip between the bar and the check box.
constexpr QRect kTimeLeftRect(20, 48, 282, 10);

const char *const kOpenFolderBoxText = "完成后打开文件夹";

QString currentText(const IniKey &key) {
    return QString::fromStdString(LanguageFile::readCurrentText(key));
}

bool isSwallowedKey(const QEvent *event) {
    if (event->type() != QEvent::KeyPress)
        return false;
    const int key = static_cast<const QKeyEvent *>(event)->key();
    return key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter;
}

} // namespace

CDUDuduzezDlg::CDUDuduzezDlg(MixJob &job, QWidget *owner) : QDialog(owner), m_job(job) {
    // A caption with a close box only: no minimise, maximise or help button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setObjectName(QStringLiteral("129"));
    setModal(true);
    buildControls();
    reset();
}

void CDUDuduzezDlg::buildControls() {
    const DialogUnits units = DialogUnits::ofFont(font());
    setFixedSize(units.toPixels(kClientSize));

    m_currentFileLabel = new QLabel(this);
    m_currentFileLabel->setObjectName(QStringLiteral("1158"));
    m_currentFileLabel->setGeometry(units.toPixels(kCurrentFileLabelRect));

    m_progressLine = new CLabel(this);
    m_progressLine->setObjectName(QStringLiteral("1018"));
    m_progressLine->setGeometry(units.toPixels(kProgressLineRect));

    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("1011"));
    m_progressBar->setGeometry(units.toPixels(kProgressBarRect));
    m_progressBar->setRange(0, 100);
    m_progressBar->setTextVisible(false);

    m_timeLeft = new QLabel(this);
    m_timeLeft->setObjectName(QStringLiteral("timeLeft"));
    m_timeLeft->setGeometry(units.toPixels(kTimeLeftRect));
    m_timeLeft->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    m_openFolderBox = new QCheckBox(QString::fromUtf8(kOpenFolderBoxText), this);
    m_openFolderBox->setObjectName(QStringLiteral("1148"));
    m_openFolderBox->setGeometry(units.toPixels(kOpenFolderBoxRect));
    connect(m_openFolderBox, &QCheckBox::clicked, this, &CDUDuduzezDlg::openFolderWhenDoneChanged);

    m_stopButton = new QPushButton(this);
    m_stopButton->setObjectName(QStringLiteral("1000"));
    m_stopButton->setGeometry(units.toPixels(kStopButtonRect));
    // Enter must never press stop, even with the focus on the button.
    m_stopButton->setAutoDefault(false);
    m_stopButton->setDefault(false);
    connect(m_stopButton, &QPushButton::clicked, this, &CDUDuduzezDlg::onStopClicked);

    // Esc and Enter are swallowed before any control sees them, so neither
    // ends the dialog nor presses a button.
    installEventFilter(this);
    for (QWidget *child : findChildren<QWidget *>())
        child->installEventFilter(this);
}

void CDUDuduzezDlg::reset() {
    // Reread each time, so a language or setting changed since the last job applies.
    setWindowTitle(currentText(languagekeys::applicationName));
    m_currentFileLabel->setText(currentText(languagekeys::currentFileLabel));
    const QString stopText = currentText(languagekeys::stopButton);
    m_stopButton->setText(stopText);
    m_stopButton->setToolTip(stopText);
    const std::string open =
        Settings::readString(settingkeys::openFolderWhenDone, settingkeys::openFolderWhenDoneDefault);
    m_openFolderBox->setChecked(open == "1");
    const std::string openText = LanguageFile::readCurrentText(languagekeys::captions::openWhenDone);
    m_openFolderBox->setText(QString::fromUtf8(openText.empty() ? kOpenFolderBoxText : openText.c_str()));
    m_progressLine->setText(QString::fromLatin1(kInitialLine));
    m_progressBar->setValue(0);
    m_timeLeft->clear();
    m_ending = false;
    m_ended = false;
}

void CDUDuduzezDlg::setProgress(const QString &line, int percent) {
    m_progressLine->setText(line);
    if (progressBarTakes(percent))
        m_progressBar->setValue(percent);
}

void CDUDuduzezDlg::closePath() {
    runClosePath(false);
}

void CDUDuduzezDlg::setTimeLeft(const QString &time) {
    if (time.isEmpty()) {
        m_timeLeft->clear();
        return;
    }
    const std::string words = LanguageFile::readCurrentText(languagekeys::captions::timeLeft);
    m_timeLeft->setText((words.empty() ? QStringLiteral("Time left: %1") : QString::fromStdString(words)).arg(time));
}

QString CDUDuduzezDlg::timeLeftText() const {
    return m_timeLeft->text();
}

bool CDUDuduzezDlg::openFolderChecked() const {
    return m_openFolderBox->isChecked();
}

QString CDUDuduzezDlg::progressLine() const {
    return m_progressLine->text();
}

int CDUDuduzezDlg::progressPosition() const {
    return m_progressBar->value();
}

void CDUDuduzezDlg::reject() {
    runClosePath(true);
}

void CDUDuduzezDlg::done(int result) {
    m_ended = true;
    QDialog::done(result);
}

bool CDUDuduzezDlg::eventFilter(QObject *watched, QEvent *event) {
    if (isSwallowedKey(event))
        return true;
    return QDialog::eventFilter(watched, event);
}

void CDUDuduzezDlg::showEvent(QShowEvent *event) {
    // A dialog reused for the next job starts that job fresh.
    if (m_ended)
        reset();
    QDialog::showEvent(event);
}

void CDUDuduzezDlg::onStopClicked() {
    // The stop button leaves DIR/open alone: only the close path stores the box.
    if (m_ending)
        return;
    m_ending = true;
    requestStop();
    emit closedByUser();
    if (pauseBeforeEnding())
        done(QDialog::Accepted);
}

void CDUDuduzezDlg::runClosePath(bool byUser) {
    if (m_ending)
        return;
    m_ending = true;
    // The result is not looked at: a setting that cannot be written is only not remembered.
    Settings::writeString(settingkeys::openFolderWhenDone, m_openFolderBox->isChecked() ? "1" : "0");
    requestStop();
    if (byUser)
        emit closedByUser();
    if (pauseBeforeEnding())
        done(QDialog::Accepted);
}

void CDUDuduzezDlg::requestStop() {
    m_job.stopRequested = 1;
    emit stopRequested();
}

bool CDUDuduzezDlg::pauseBeforeEnding() {
    QPointer<CDUDuduzezDlg> self(this);
    QEventLoop pause;
    QTimer::singleShot(kStopPauseMs, &pause, &QEventLoop::quit);
    pause.exec(QEventLoop::ExcludeUserInputEvents);
    return !self.isNull();
}

} // namespace melvora
