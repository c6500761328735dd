#include "mainwindow/MainWindowActions.h"

#include "config/LanguageKeys.h"
#include "config/LanguageTexts.h"
#include "config/SettingKeys.h"
#include "config/Settings.h"
#include "controls/CControlButton.h"
#include "engine/MediaProbe.h"
#include "engine/MixJob.h"
#include "jobcontrol/OutputFolder.h"
#include "jobcontrol/OutputNaming.h"
#include "jobcontrol/ProgressPolling.h"
#include "jobcontrol/StartFlow.h"
#include "mainwindow/CTonvexDlg.h"
#include "mainwindow/OutputFolderBox.h"
#include "mainwindow/WorkerWait.h"
#include "platform/DesktopServices.h"
#include "progress/CDUDuduzezDlg.h"
#include "progress/ProgressPoller.h"

#include <QLineEdit>
#include <QPushButton>

namespace melvora {
namespace {

namespace captions = languagekeys::captions;

// A refusal: the language file's text for it, else the fixed text.
void tell(const IniKey &caption, const char *fixedText) {
    desktop().messageBox(QString::fromStdString(LanguageTexts::instance().textOr(caption, fixedText)));
}

void tell(const IniKey &languageKey) {
    desktop().messageBox(QString::fromStdString(LanguageTexts::instance().text(languageKey)));
}

} // namespace

MainWindowActions::MainWindowActions(CTonvexDlg &window)
    : QObject(&window), m_window(window) {
    connect(window.addVideoButton(), &QPushButton::clicked, this, &MainWindowActions::addVideo);
    connect(window.addMusicButton(), &QPushButton::clicked, this, &MainWindowActions::addMusic);
    connect(window.browseButton(), &QPushButton::clicked, this, &MainWindowActions::browseForOutputFolder);
    connect(window.openFolderButton(), &QPushButton::clicked, this, &MainWindowActions::openOutputFolder);
    connect(window.startButton(), &QPushButton::clicked, this, &MainWindowActions::start);
    connect(&window, &CTonvexDlg::filesDropped, this, &MainWindowActions::dropFiles);
    connect(&window, &CTonvexDlg::aboutToClose, this, &MainWindowActions::windowClosing);
}

MainWindowActions::~MainWindowActions() = default;

QString MainWindowActions::filterText(const char *patterns) {
    const LanguageTexts &texts = LanguageTexts::instance();
    return QString::fromStdString(texts.text(languagekeys::mediaFilterName)) + u'|' + QString::fromLatin1(patterns) +
           u'|' + QString::fromStdString(texts.text(languagekeys::allFilesFilterName)) + QStringLiteral("|*.*|");
}

void MainWindowActions::setLauncher(RunLauncher launcher) { m_launcher = std::move(launcher); }

MixJob *MainWindowActions::readyJob() {
    if (m_closing)
        return nullptr;
    MixJob &job = m_window.ensureMixJob();
    // A stopped worker may still be finishing its file: the record is its
    // until then.
    if (!waitForWorkerResponsively(job, [this] { return !m_closing; }))
        return nullptr;
    return m_closing ? nullptr : m_window.mixJob();
}

bool MainWindowActions::probe(MixJob &job, const QString &path, ProbeKind kind) {
    return probeAccepts(job, path.toStdString(), kind == ProbeKind::Video ? MediaKind::Video : MediaKind::Music);
}

void MainWindowActions::addVideo() {
    addFile(ProbeKind::Video);
}

void MainWindowActions::addMusic() {
    addFile(ProbeKind::Music);
}

void MainWindowActions::addFile(ProbeKind kind) {
    const bool video = kind == ProbeKind::Video;
    const QStringList chosen = desktop().openFileNames(&m_window, filterText(video ? kVideoPatterns : kMusicPatterns));
    if (chosen.isEmpty())
        return;
    // Several files may be selected; the first one is the one taken.
    const QString path = chosen.first();
    MixJob *job = readyJob();
    if (!job)
        return;
    if (!probe(*job, path, kind)) {
        video ? tell(captions::notAVideo, kNotAVideo) : tell(captions::notMusic, kNotMusic);
        return;
    }
    if (video) {
        m_window.videoPathBox()->setText(path);
        m_video = {path, probedVideoSeconds(*job)};
    } else {
        m_window.musicPathBox()->setText(path);
        m_music = path;
    }
}

void MainWindowActions::dropFiles(const QStringList &paths) {
    // The record belongs to a run while one is in progress.
    if (m_running || m_busy || paths.isEmpty())
        return;
    MixJob *job = readyJob();
    if (!job)
        return;
    for (const QString &path : paths) {
        if (!probe(*job, path, ProbeKind::Video)) {
            const std::string name = fileNameOfPath(path.toStdString());
            desktop().messageBox(QString::fromStdString(LanguageTexts::instance().invalidDropMessage(name)));
            return;
        }
        m_video = {path, probedVideoSeconds(*job)};
    }
}

void MainWindowActions::browseForOutputFolder() {
    const std::optional<QString> picked = desktop().pickFolder(
        QString::fromStdString(LanguageTexts::instance().textOr(captions::folderPicker, kFolderPickerTitle)));
    if (!picked)
        return;
    const QString folder = *picked;
    const std::string folderUtf8 = folder.toStdString();
    // Both checks speak: a folder that does not exist fails the write test too.
    if (!pathExists(folderUtf8))
        tell(captions::folderInvalid, kPickedFolderInvalid);
    if (!folderAcceptsNewFile(folderUtf8)) {
        tell(captions::folderNotWritable, kPickedFolderNotWritable);
        return;
    }
    if (!folder.isEmpty()) {
        m_window.setOutputFolder(folder);
        m_window.outputFolderBox()->addFolder(folder);
        m_window.setAcceptedOutputFolder(folder);
        Settings::writeString(settingkeys::outputFolder, folderUtf8);
    }
    m_window.loadControlsFromMembers();
}

void MainWindowActions::openOutputFolder() {
    // Whatever the box holds goes to the desktop; a failure is not reported.
    desktop().openInDesktop(m_window.outputFolderBox()->currentText());
}

void MainWindowActions::start() {
    if (m_busy || m_running || m_closing)
        return;
    m_busy = true;
    struct Unbusy {
        bool &flag;
        ~Unbusy() { flag = false; }
    } unbusy{m_busy};

    m_window.readControlsIntoMembers();
    const QString video = m_window.videoPathBox()->text();
    const QString music = m_window.musicPathBox()->text();
    MixJob *job = readyJob();
    if (!job)
        return;
    StartRequest request;
    request.inputs = {video.toStdString(), music.toStdString(), m_window.outputFolder().toStdString()};
    // The run takes its length from the probe of this very video: a path
    // typed by hand, or one whose probe results a later probe replaced, is
    // probed again by the start flow.
    if (video == m_video.path)
        request.probedVideoSeconds = m_video.seconds;
    request.musicProbed = music == m_music;
    request.mix.mixSettings = m_window.mixSettings();
    request.mix.fastStart = Settings::readString(settingkeys::outputFastStart) == "1";
    const StartOutcome outcome = startMixRun(*job, request, m_launcher);

    // The folder that passed the existence check is the accepted one, even
    // when its write test failed.
    if (outcome.refusal == StartRefusal::None || outcome.refusal == StartRefusal::FolderNotWritable)
        m_window.setAcceptedOutputFolder(m_window.outputFolder());
    if (outcome.videoSeconds)
        m_video = {video, *outcome.videoSeconds};
    if (outcome.musicAccepted)
        m_music = music;

    switch (outcome.step) {
    case StartStep::Started:
        return runProgressDialog(*job, video);
    case StartStep::Refused:
        return tellRefusal(outcome.refusal);
    case StartStep::NotAVideo:
        return tell(captions::notAVideo, kNotAVideo);
    case StartStep::NotMusic:
        return tell(captions::notMusic, kNotMusic);
    case StartStep::MusicUnfit:
        desktop().messageBox(QString::fromStdString(outcome.reason));
        return;
    case StartStep::NoOutputName:
        return tell(captions::outputNotCreated, kOutputNotCreated);
    case StartStep::NotStarted:
        desktop().messageBox(QString::fromStdString(
            failureMessage(LanguageTexts::instance().text(languagekeys::jobFailed), outcome.reason)));
        return;
    }
}

void MainWindowActions::tellRefusal(StartRefusal refusal) {
    switch (refusal) {
    case StartRefusal::None:
    case StartRefusal::FolderIsSeparator: // refused without a word
        return;
    case StartRefusal::NoVideo:
        return tell(captions::noVideo, kNoVideo);
    case StartRefusal::NoMusic:
        return tell(captions::noMusic, kNoMusic);
    case StartRefusal::VideoMissing:
        return tell(captions::videoMissing, kVideoMissing);
    case StartRefusal::MusicMissing:
        return tell(captions::musicMissing, kMusicMissing);
    case StartRefusal::FolderMissing:
        return tell(languagekeys::missingOutputFolder);
    case StartRefusal::FolderNotWritable:
        return tell(captions::outputNotCreated, kOutputNotCreated);
    }
}

void MainWindowActions::runProgressDialog(MixJob &job, const QString &videoPath) {
    if (!m_progressDialog) {
        m_progressDialog = new CDUDuduzezDlg(job, &m_window);
        connect(m_progressDialog, &CDUDuduzezDlg::openFolderWhenDoneChanged, &m_window,
                &CTonvexDlg::setOpenFolderWhenDone);
    }
    if (!m_poller)
        m_poller = std::make_unique<ProgressPoller>(job, [this] { return m_window.openFolderWhenDone(); });
    m_running = true;
    bool stoppedByUser = false;
    const QMetaObject::Connection byUser =
        connect(m_progressDialog, &CDUDuduzezDlg::closedByUser, this, [&stoppedByUser] { stoppedByUser = true; });
    m_poller->start(m_progressDialog, videoPath, m_window.outputFolder());
    m_progressDialog->exec();
    disconnect(byUser);
    m_running = false;
    if (stoppedByUser)
        reportStop(job);
}

void MainWindowActions::reportStop(MixJob &job) {
    // The worker finishes the file after the dialog has gone: what it holds is known only then.
    if (!waitForWorkerResponsively(job, [this] { return !m_closing; }) || m_closing)
        return;
    if (job.status.load() == JobStatus::Failed) {
        desktop().messageBox(ProgressPoller::failureText(
            QString::fromStdString(LanguageTexts::instance().text(languagekeys::jobFailed)), job.result.errorMessage));
        return;
    }
    const std::string path = job.request.outputPath;
    if (path.empty() || !pathExists(path))
        return;
    // The length of what was written, read from the file; the run's progress when the file
    // cannot tell.
    double seconds = job.request.durationSeconds * job.progressPercent.load() / 100.0;
    if (probeAccepts(job, path, MediaKind::Video) && probedVideoSeconds(job) > 0)
        seconds = probedVideoSeconds(job);
    const QString words = QString::fromStdString(LanguageTexts::instance().textOr(
        captions::stopped, "Stopped. The new file holds the first %1 of the video:"));
    desktop().messageBox(words.arg(QString::fromStdString(clockText(seconds))) + u'\n' + QString::fromStdString(path));
}

void MainWindowActions::windowClosing() {
    m_closing = true;
    if (m_poller)
        m_poller->stop();
    // The window releases the job next, stopping and waiting for its worker;
    // the dialog must not outlive it showing a run that is over.
    if (m_progressDialog) {
        if (m_progressDialog->isVisible())
            m_progressDialog->done(QDialog::Accepted);
        m_progressDialog->deleteLater();
    }
}

} // namespace melvora
