#include "progress/ProgressPoller.h"

#include "config/LanguageKeys.h"
#include "config/LanguageTexts.h"
#include "engine/MixJob.h"
#include "platform/DesktopServices.h"
#include "progress/CDUDuduzezDlg.h"

#include <QApplication>

namespace melvora {
namespace {

QString languageText(const IniKey &key) {
    return QString::fromStdString(LanguageTexts::instance().text(key));
}

bool anyWindowActive() {
    return QApplication::activeWindow() != nullptr;
}

} // namespace

QString ProgressPoller::failureText(const QString &languageText, const std::string &reason) {
    if (reason.empty())
        return languageText;
    return languageText + u'\n' + QString::fromStdString(reason);
}

QString ProgressPoller::successText(const QString &languageText, const std::string &outputPath) {
    return failureText(languageText, outputPath);
}

ProgressPoller::ProgressPoller(MixJob &job, std::function<bool()> openFolderWhenDone, QObject *parent)
    : QObject(parent), m_job(job), m_openFolderWhenDone(std::move(openFolderWhenDone)),
      m_windowActive(anyWindowActive) {
    m_timer.setInterval(kIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &ProgressPoller::tick);
}

void ProgressPoller::start(CDUDuduzezDlg *dialog, const QString &videoPath, const QString &outputFolder,
                           bool ownTimer) {
    stop();
    disconnect(m_dialogStop);
    m_dialog = dialog;
    m_videoPath = videoPath;
    m_outputFolder = outputFolder;
    // The dialog's stop button and close box end polling at once, before
    // their pause, so no poll runs while the dialog is ending.
    if (dialog)
        m_dialogStop = connect(dialog, &CDUDuduzezDlg::stopRequested, this, &ProgressPoller::stop);
    m_polling = true;
    m_sinceStart.start();
    if (ownTimer)
        m_timer.start();
}

void ProgressPoller::stop() {
    m_timer.stop();
    if (!m_polling)
        return;
    m_polling = false;
    emit pollingStopped();
}

TickDecision ProgressPoller::tick() {
    if (!m_polling)
        return {};
    const std::int32_t percent = m_job.progressPercent.load();
    const bool stopSeen = m_job.stopRequested.load() != 0;
    const JobStatus status = m_job.status.load();

    if (m_dialog) {
        const std::string line = progressLine(m_videoPath.toStdString(), percent,
                                              LanguageTexts::instance().text(languagekeys::progressSuffix));
        m_dialog->setProgress(QString::fromStdString(line), percent);
        const double left = secondsLeft(double(m_sinceStart.elapsed()) / 1000, percent);
        m_dialog->setTimeLeft(left >= 0 && status == JobStatus::Running ? QString::fromStdString(clockText(left))
                                                                        : QString());
    }

    // The owner's flag is asked only when it matters, at a success.
    const bool openFolder = status == JobStatus::Finished && m_openFolderWhenDone && m_openFolderWhenDone();
    const TickDecision decision = decideTick(status, stopSeen, openFolder);
    // Asked before the dialog closes: while activation passes back to the main window no window
    // is active, and that would read as a user who went away.
    const bool userAway = decision.message != ResultMessage::None && !m_windowActive();
    if (!decision.keepPolling)
        stop();
    if (decision.closeDialog && m_dialog)
        m_dialog->closePath();
    if (decision.message == ResultMessage::None)
        return decision;

    const bool success = decision.message == ResultMessage::Success;
    // The worker has published its status, so the reason and the output path are complete.
    QString text = success ? successText(languageText(languagekeys::jobSucceeded), m_job.request.outputPath)
                           : failureText(languageText(languagekeys::jobFailed), m_job.result.errorMessage);
    // What fitting the song did, on a line of its own.
    if (const std::string fit = musicFitText(m_job.result.fit); success && !fit.empty())
        text += u'\n' + QString::fromStdString(fit);
    // A user who went on to other work learns of the end without coming back; the box waits.
    if (userAway) {
        QString summary = languageText(languagekeys::applicationName);
        if (summary.isEmpty())
            summary = applicationTitle();
        desktop().notify(summary, text);
    }
    desktop().messageBox(text);
    // As with the Open-folder button, a folder that cannot be opened is not reported.
    if (decision.openFolder)
        desktop().showInFileManager(QString::fromStdString(m_job.request.outputPath), m_outputFolder);
    emit finished(success);
    return decision;
}

} // namespace melvora
