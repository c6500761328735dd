// The poll applied to the dialog and the desktop: first with a job whose
// status the test sets, then with real runs of the engine.

#include "ProgressTesting.h"

#include "engine/MediaProbe.h"
#include "engine/MixJob.h"
#include "jobcontrol/OutputNaming.h"
#include "jobcontrol/StartFlow.h"
#include "platform/ScriptedDesktop.h"
#include "progress/CDUDuduzezDlg.h"
#include "progress/ProgressPoller.h"

#include <QCheckBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace melvora {
namespace {

using namespace melvora::test;

const QString kVideo = QStringLiteral("/视频/clip.mp4");
const QString kOutputFolder = QStringLiteral("/out/混音");
const std::string kOutputFile = "/out/混音/clip(0).mp4";
// A success names the new file on a second line.
const std::string kSucceededWithFile = kSucceeded + "\n" + kOutputFile;
const std::string kNoSpace = "Could not write the output file (No space left on device)";

QStringList messageTexts(const ScriptedDesktop &desktop) {
    QStringList texts;
    for (const ScriptedDesktop::Message &message : desktop.messages()) {
        EXPECT_EQ(message.icon, MessageIcon::None);
        texts << message.text;
    }
    return texts;
}

struct EndCase {
    const char *name;
    JobStatus status;
    bool stop;
    bool openFlag;
    QStringList messages;
    QStringList opened;
    bool dialogEnded;
    // The reason the engine recorded, whether the user is looking at the
    // program, and whether the desktop has a file manager that shows files.
    std::string reason = {};
    bool windowActive = true;
    bool fileManager = false;
    QStringList notified = {};
    QStringList shown = {};
    MusicFitReport fit = {}; // what fitting the song did: a second line of the success
};

void PrintTo(const EndCase &row, std::ostream *out) {
    *out << row.name;
}

class PollOutcome : public ::testing::TestWithParam<EndCase> {};

TEST_P(PollOutcome, ReportsOnceAndClosesTheDialog) {
    const EndCase &row = GetParam();
    ProgressFolder folder;
    ScriptedDesktop desktop;
    desktop.setFileManagerPresent(row.fileManager);
    MixJob job;
    job.status = JobStatus::Running;
    job.request.outputPath = kOutputFile;
    CDUDuduzezDlg dialog(job);
    dialog.show();
    ProgressPoller poller(job, [&] { return row.openFlag; });
    poller.setWindowActiveCheck([&] { return row.windowActive; });
    QSignalSpy stoppedSpy(&poller, &ProgressPoller::pollingStopped);
    QSignalSpy finishedSpy(&poller, &ProgressPoller::finished);
    poller.start(&dialog, kVideo, kOutputFolder, false);

    job.progressPercent = 42;
    poller.tick();
    EXPECT_EQ(dialog.progressLine(), kVideo + QStringLiteral("   42% ") + q(kDone));
    EXPECT_EQ(dialog.progressPosition(), 42);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(poller.isPolling());

    job.progressPercent = 100;
    job.status = row.status;
    job.stopRequested = row.stop ? 1 : 0;
    job.result.errorMessage = row.reason;
    job.result.fit = row.fit;
    poller.tick();
    EXPECT_EQ(dialog.progressLine(), kVideo + QStringLiteral("   100% ") + q(kDone));
    EXPECT_EQ(messageTexts(desktop), row.messages);
    EXPECT_EQ(desktop.openedTargets(), row.opened);
    EXPECT_EQ(desktop.notifications(), row.notified);
    EXPECT_EQ(desktop.shownFiles(), row.shown);
    EXPECT_EQ(!dialog.isVisible(), row.dialogEnded);
    EXPECT_EQ(poller.isPolling(), !row.dialogEnded);
    EXPECT_EQ(stoppedSpy.count(), row.dialogEnded ? 1 : 0);
    EXPECT_EQ(finishedSpy.count(), row.messages.isEmpty() ? 0 : 1);
    if (row.dialogEnded) {
        // The close path ran: the box is stored and the job told to stop.
        EXPECT_EQ(ProgressFolder::storedOpen(), "1");
        EXPECT_EQ(job.stopRequested.load(), 1);
    }

    // Nothing more happens once polling has ended.
    poller.tick();
    EXPECT_EQ(messageTexts(desktop), row.messages);
}

const QStringList kNone;

INSTANTIATE_TEST_SUITE_P(
    Rows, PollOutcome,
    ::testing::Values(EndCase{"running", JobStatus::Running, false, true, kNone, kNone, false},
                      EndCase{"stopped", JobStatus::Running, true, true, kNone, kNone, true},
                      EndCase{"failed_while_stopping", JobStatus::Failed, true, true, {q(kFailed)}, kNone, true},
                      EndCase{
                          "finished_open", JobStatus::Finished, false, true, {q(kSucceededWithFile)}, {kOutputFolder}, true},
                      EndCase{"finished_no_open", JobStatus::Finished, false, false, {q(kSucceededWithFile)}, kNone, true},
                      EndCase{"failed_with_reason",
                              JobStatus::Failed,
                              false,
                              true,
                              {q(kFailed + "\n" + kNoSpace)},
                              kNone,
                              true,
                              kNoSpace},
                      EndCase{"failed_while_away",
                              JobStatus::Failed,
                              false,
                              true,
                              {q(kFailed + "\n" + kNoSpace)},
                              kNone,
                              true,
                              kNoSpace,
                              false,
                              false,
                              {q(kName + "|" + kFailed + "\n" + kNoSpace)}},
                      EndCase{"finished_while_away_shows_the_file",
                              JobStatus::Finished,
                              false,
                              true,
                              {q(kSucceededWithFile)},
                              kNone,
                              true,
                              "",
                              false,
                              true,
                              {q(kName + "|" + kSucceededWithFile)},
                              {q(kOutputFile)}},
                      EndCase{"finished_fitted",
                              JobStatus::Finished,
                              false,
                              false,
                              {q(kSucceededWithFile + "\nfit: 1 jump, 1:12\u2192" "1:48, tempo +0.8 %")},
                              kNone,
                              true,
                              "",
                              true,
                              false,
                              {},
                              {},
                              {MusicFitReport::Kind::Fitted, {{72, 108}}, 0.8}},
                      EndCase{"finished_file_manager_no_open",
                              JobStatus::Finished,
                              false,
                              false,
                              {q(kSucceededWithFile)},
                              kNone,
                              true,
                              "",
                              true,
                              true}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ProgressPoller, ClearingTheBoxDuringTheRunKeepsTheFolderClosed) {
    ProgressFolder folder("1");
    ScriptedDesktop desktop;
    MixJob job;
    job.status = JobStatus::Running;
    bool openFolderWhenDone = true; // the owner's flag
    CDUDuduzezDlg dialog(job);
    QObject::connect(&dialog, &CDUDuduzezDlg::openFolderWhenDoneChanged, [&](bool open) { openFolderWhenDone = open; });
    dialog.show();
    ProgressPoller poller(job, [&] { return openFolderWhenDone; });
    poller.start(&dialog, kVideo, kOutputFolder, false);
    poller.tick();

    dialog.findChild<QCheckBox *>(QStringLiteral("1148"))->click();
    job.status = JobStatus::Finished;
    poller.tick();
    EXPECT_EQ(messageTexts(desktop), QStringList{q(kSucceeded)});
    EXPECT_TRUE(desktop.openedTargets().isEmpty());
    EXPECT_EQ(ProgressFolder::storedOpen(), "0");
}

TEST(ProgressPoller, StopButtonEndsPollingWithoutAMessage) {
    ProgressFolder folder;
    ScriptedDesktop desktop;
    MixJob job;
    job.status = JobStatus::Running;
    CDUDuduzezDlg dialog(job);
    dialog.show();
    ProgressPoller poller(job, [] { return true; });
    QSignalSpy stoppedSpy(&poller, &ProgressPoller::pollingStopped);
    poller.start(&dialog, kVideo, kOutputFolder);

    dialog.findChild<QPushButton *>(QStringLiteral("1000"))->click();
    EXPECT_FALSE(poller.isPolling());
    EXPECT_EQ(stoppedSpy.count(), 1);
    // Even a job that then reaches Finished is not reported.
    job.status = JobStatus::Finished;
    poller.tick();
    EXPECT_TRUE(desktop.messages().empty());
    EXPECT_TRUE(desktop.openedTargets().isEmpty());
}

// A real run of the engine, followed modally like the main window does.
struct RunResult {
    int dialogResult = -1;
    int finishedCount = 0;
    bool success = false;
    JobStatus status = JobStatus::Running;
};

RunResult runModally(MixJob &job, const std::string &music, const std::string &outputFolder, bool openFlag) {
    const std::string video = std::string(MELVORA_SOURCE_SAMPLES) + "/sample-video.mp4";
    job.probePath = video;
    EXPECT_EQ(probeVideo(job), kProbeAccepted);
    std::string error;
    const auto outputPath = claimOutputPath(outputFolder, video, error);
    EXPECT_TRUE(outputPath) << error;

    RunResult result;
    CDUDuduzezDlg dialog(job);
    ProgressPoller poller(job, [openFlag] { return openFlag; });
    QObject::connect(&poller, &ProgressPoller::finished, [&](bool success) {
        ++result.finishedCount;
        result.success = success;
    });
    EXPECT_TRUE(launchMixJob(job, video, music, outputPath.value_or(""), probedVideoSeconds(job)));
    poller.start(&dialog, QString::fromStdString(video), QString::fromStdString(outputFolder));
    // A job that never ends must not hang the test: end the loop with a result it rejects.
    QTimer::singleShot(60000, &dialog, [&] { dialog.QDialog::done(-1); });
    result.dialogResult = dialog.exec();
    joinMixJob(job);
    result.status = job.status.load();
    return result;
}

class RealRun : public ::testing::TestWithParam<bool> {};

TEST_P(RealRun, SuccessReportsAndOpensTheFolderWhenAsked) {
    const bool openFlag = GetParam();
    ProgressFolder folder;
    ScriptedDesktop desktop;
    const std::string outputFolder = folder.path() + "/output";
    std::filesystem::create_directories(outputFolder);
    MixJob job;

    const RunResult result =
        runModally(job, std::string(MELVORA_SOURCE_SAMPLES) + "/sample-music.mp3", outputFolder, openFlag);

    EXPECT_EQ(result.dialogResult, QDialog::Accepted);
    EXPECT_EQ(result.status, JobStatus::Finished) << job.result.errorMessage;
    EXPECT_EQ(result.finishedCount, 1);
    EXPECT_TRUE(result.success);
    EXPECT_EQ(messageTexts(desktop), QStringList{q(kSucceeded + "\n" + outputFolder + "/sample-video.mp4")});
    EXPECT_EQ(desktop.openedTargets(), openFlag ? QStringList{QString::fromStdString(outputFolder)} : QStringList{});
    EXPECT_GT(std::filesystem::file_size(outputFolder + "/sample-video.mp4"), 0u);
}

INSTANTIATE_TEST_SUITE_P(OpenFlag, RealRun, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "open" : "no_open"; });

TEST(ProgressPollerRealRun, GarbageMusicReportsFailure) {
    ProgressFolder folder;
    ScriptedDesktop desktop;
    const std::string outputFolder = folder.path() + "/output";
    std::filesystem::create_directories(outputFolder);
    folder.write("garbage.mp3", std::string(4096, '\x5a'));
    MixJob job;

    const RunResult result = runModally(job, folder.path() + "/garbage.mp3", outputFolder, true);

    EXPECT_EQ(result.dialogResult, QDialog::Accepted);
    EXPECT_EQ(result.status, JobStatus::Failed);
    EXPECT_EQ(result.finishedCount, 1);
    EXPECT_FALSE(result.success);
    ASSERT_FALSE(job.result.errorMessage.empty());
    EXPECT_EQ(messageTexts(desktop), QStringList{q(kFailed + "\n" + job.result.errorMessage)});
    EXPECT_TRUE(desktop.openedTargets().isEmpty());
}

} // namespace
} // namespace melvora
