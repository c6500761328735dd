#pragma once

#include "jobcontrol/ProgressPolling.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QElapsedTimer>
#include <QTimer>

#include <functional>
#include <string>

namespace melvora {

class CDUDuduzezDlg;
struct MixJob;

// Follows a running job for the main window: every 500 ms it writes the
// progress line and the bar of the progress dialog and, once the job has
// ended, stops, closes the dialog, reports the result in a message box (and
// in a desktop notification when none of the program's windows is active)
// and, after a success, shows the new file in the file manager, or opens the
// output folder, when the user asked for it. The worker sends nothing; the
// job's status byte is the only news.
//
// The poller keeps its own 500 ms timer, or, started with ownTimer false,
// leaves the ticking to its owner's timer, which calls tick() and stops when
// pollingStopped() is emitted.
class ProgressPoller : public QObject {
    Q_OBJECT

public:
    static constexpr int kIntervalMs = 500;

    // openFolderWhenDone is asked at the end of a successful job: the owner's
    // flag, which the dialog's check box changes while the job runs.
    ProgressPoller(MixJob &job, std::function<bool()> openFolderWhenDone, QObject *parent = nullptr);

    // Starts following a job that has just been launched. The progress line
    // shows videoPath; outputFolder is opened after a success. A stop or
    // close box in the dialog ends the polling without a message. A dialog
    // destroyed meanwhile is simply no longer written to.
    void start(CDUDuduzezDlg *dialog, const QString &videoPath, const QString &outputFolder, bool ownTimer = true);
    // Stops polling without touching the dialog; emits pollingStopped() once.
    void stop();
    bool isPolling() const { return m_polling; }

    // Whether the user is looking at the program; by default, whether any of
    // its windows is the active one. Tests replace it.
    void setWindowActiveCheck(std::function<bool()> check) { m_windowActive = std::move(check); }

    // The failure report: the language file's text, then on a line of its
    // own the reason the engine recorded, when it recorded one.
    static QString failureText(const QString &languageText, const std::string &reason);
    // The success report: the language file's text, then the new file's path
    // on a line of its own, when there is one.
    static QString successText(const QString &languageText, const std::string &outputPath);

public slots:
    // One poll: the line and the bar, then decideTick() applied in order:
    // stop polling, the dialog's close path, the result message, the folder.
    // Does nothing when not polling.
    TickDecision tick();

signals:
    // Polling has ended (job ended, stop seen, the dialog's stop or close box,
    // or stop()); an owner that ticks with its own timer stops it here.
    void pollingStopped();
    // The job ended and its result was reported (after the folder was opened).
    void finished(bool success);

private:
    MixJob &m_job;
    std::function<bool()> m_openFolderWhenDone;
    std::function<bool()> m_windowActive;
    QTimer m_timer;
    QPointer<CDUDuduzezDlg> m_dialog;
    QMetaObject::Connection m_dialogStop;
    QString m_videoPath;
    QString m_outputFolder;
    QElapsedTimer m_sinceStart; // the pace of the run, for the time left
    bool m_polling = false;
};

} // namespace melvora
