#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace melvora {

class CLabel;
struct MixJob;

// The modal progress window of a running job: a label, the progress line,
// a bar, the "open the folder when done" check box and a stop button. It
// owns no job logic: its owner's poll writes the line and the bar
// (setProgress) and ends it at the end of the job (closePath); the user
// ends it with the stop button or the close box. Every way out asks the job
// to stop and ends the dialog with QDialog::Accepted.
//
// Controls carry the ids of the dialog's template as object names:
// "1158" label, "1018" progress line, "1011" bar, "1148" check box, "1000"
// stop button.
class CDUDuduzezDlg : public QDialog {
    Q_OBJECT

public:
    // The pause between asking the job to stop and ending the dialog, which
    // gives the worker a moment to see the flag.
    static constexpr int kStopPauseMs = 100;
    // What the progress line shows until the first poll.
    static constexpr const char *kInitialLine = "...";

    CDUDuduzezDlg(MixJob &job, QWidget *owner = nullptr);

    // The state a job starts with: texts and the check box read afresh from
    // the language file and the settings, the line back to "...", the bar at
    // 0. Runs on construction and again when a dialog that was ended is
    // shown for the next job.
    void reset();

    // The poll's output: the line as given; the bar only takes 0..100.
    void setProgress(const QString &line, int percent);
    // The time left ("1:05") under the bar, in the words of the language
    // file; empty while unknown.
    void setTimeLeft(const QString &time);
    QString timeLeftText() const;

    // Ends the dialog as its close box does: stores the check box in the
    // settings (DIR/open "1" or "0"), sets the job's stop flag, pauses
    // kStopPauseMs and ends with Accepted. The owner runs it at the end of a
    // job. Once the dialog is ending, further calls do nothing.
    void closePath();

    bool openFolderChecked() const;
    QString progressLine() const;
    int progressPosition() const;
    // True from the start of a way out until the next reset().
    bool isEnding() const { return m_ending; }

signals:
    // The job's stop flag was just set and the dialog is about to end: the
    // owner stops polling now (before the pause).
    void stopRequested();
    // The user chose to end the job (stop button or close box); emitted
    // after stopRequested(). Not emitted for closePath() run by the owner.
    void closedByUser();
    // The user clicked the check box; the owner's open-folder-when-done flag
    // follows every click, while the setting is written only by the close path.
    void openFolderWhenDoneChanged(bool open);

public slots:
    // The close box, Alt+F4 and every other request to reject the dialog
    // take the close path.
    void reject() override;
    void done(int result) override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void buildControls();
    void onStopClicked();
    void runClosePath(bool byUser);
    void requestStop();
    // Lets the worker see the stop flag while the window keeps painting;
    // user input waits until the dialog has ended. False when the dialog was
    // destroyed meanwhile.
    bool pauseBeforeEnding();

    MixJob &m_job;
    QLabel *m_currentFileLabel = nullptr;  // 1158
    CLabel *m_progressLine = nullptr;      // 1018
    QProgressBar *m_progressBar = nullptr; // 1011
    QCheckBox *m_openFolderBox = nullptr;  // 1148
    QPushButton *m_stopButton = nullptr;   // 1000
    QLabel *m_timeLeft = nullptr;          // in the free strip under the bar
    bool m_ending = false;
    bool m_ended = false;
};

} // namespace melvora
