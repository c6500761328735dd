// The start button end to end: checks and their messages, the output's name,
// the run behind the progress dialog, its result, stop and close box, judged
// from outside with ffprobe.

#include "FlowTesting.h"

#include "config/Settings.h"
#include "engine/MixJob.h"
#include "jobcontrol/OutputFolder.h"
#include "mainwindow/OutputFolderBox.h"
#include "mainwindow/WorkerWait.h"

#include <QCheckBox>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

namespace melvora {
namespace {

using namespace melvora::testing;

std::string freshFolder(const std::string &name) {
    static int counter = 0;
    return test::makeFolder("start-" + std::to_string(++counter) + "-" + name);
}

bool contains(const std::vector<std::string> &list, const std::string &item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

std::string formatName(const std::string &path) {
    const test::CommandResult result =
        test::runCommand("ffprobe -v error -show_entries format=format_name -of csv=p=0 " + test::shellQuote(path));
    std::string name = result.output;
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r'))
        name.pop_back();
    return name;
}

std::string copyInto(const std::string &from, const std::string &folder, const std::string &name) {
    const std::string to = folder + "/" + name;
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    return to;
}

QPushButton *stopButton(CDUDuduzezDlg &dialog) {
    return dialog.findChild<QPushButton *>(QStringLiteral("1000"));
}

QCheckBox *openFolderBox(CDUDuduzezDlg &dialog) {
    return dialog.findChild<QCheckBox *>(QStringLiteral("1148"));
}

// The run has made some progress, so what ends it now ends it midway.
bool runIsUnderWay(const CTonvexDlg &window) {
    return window.mixJob() && window.mixJob()->progressPercent.load() >= 1;
}

std::string storedOpen() {
    return Settings::readString({"DIR", "open"}, "<missing>");
}

// The output has the copied video and the AAC sound, and lasts about as long
// as the video; a whole decode of it (slower) only where asked for.
void expectMixedOutput(const std::string &output, double seconds, bool decodeAll = false) {
    ASSERT_TRUE(std::filesystem::exists(output)) << output;
    EXPECT_TRUE(test::isReadableMedia(output));
    if (decodeAll) {
        EXPECT_EQ(test::decodeErrors(output), 0);
    }
    const std::vector<std::string> streams = test::streamSummary(output);
    EXPECT_TRUE(contains(streams, "video h264")) << ::testing::PrintToString(streams);
    EXPECT_TRUE(contains(streams, "audio aac 44100 2")) << ::testing::PrintToString(streams);
    EXPECT_NEAR(test::durationSeconds(output), seconds, 0.35);
}

struct RoadCase {
    const char *name;
    const char *open;    // DIR/open before the run
    bool clearDuringRun; // the user clears the check box while the job runs
    bool folderOpened;
    const char *openAfter; // DIR/open after the run
};

void PrintTo(const RoadCase &c, std::ostream *out) {
    *out << c.name;
}

class WholeRoad : public ::testing::TestWithParam<RoadCase> {};

// Add both files, Browse, start: the success text, the mixed file in the
// folder, and the folder opened only when the check box asks for it.
TEST_P(WholeRoad, AddBrowseStartAndFindTheFile) {
    const RoadCase &c = GetParam();
    const FlowMedia &media = FlowMedia::get();
    const std::string out = freshFolder("road 输出");
    FlowWindow flow(std::string("[DIR]\nopen=") + c.open + "\n");
    flow.prepareRun(media.video, media.music, out);
    EXPECT_EQ(Settings::readString({"PATH", "name"}), out);

    flow.pressStart([&](CDUDuduzezDlg &dialog) {
        // The main window is blocked behind the dialog.
        EXPECT_EQ(QApplication::activeModalWidget(), &dialog);
        if (c.clearDuringRun)
            openFolderBox(dialog)->click();
        return true;
    });

    EXPECT_TRUE(QTest::qWaitFor([&] { return !flow.scripted.messages().empty(); }, 20000));
    EXPECT_EQ(flow.messages(), QStringList{succeeded(out + "/clip.mp4")});
    EXPECT_FALSE(flow.progressDialog()->isVisible());
    EXPECT_EQ(flow.scripted.openedTargets(), c.folderOpened ? QStringList{q(out)} : QStringList());
    EXPECT_EQ(storedOpen(), c.openAfter);
    EXPECT_EQ(folderEntries(out), std::vector<std::string>{"clip.mp4"});
    expectMixedOutput(out + "/clip.mp4", 2.0, true);
    EXPECT_DOUBLE_EQ(flow.window.mixJob()->request.durationSeconds, test::durationSeconds(media.video));
}

INSTANTIATE_TEST_SUITE_P(Cases, WholeRoad,
                         ::testing::Values(RoadCase{"FolderOpened", "1", false, true, "1"},
                                           RoadCase{"SettingCleared", "0", false, false, "0"},
                                           RoadCase{"ClearedDuringTheRun", "1", true, false, "0"}),
                         [](const ::testing::TestParamInfo<RoadCase> &info) { return std::string(info.param.name); });

struct RefusalCase {
    const char *name;
    std::string video;
    std::string music;
    std::string folder; // "<out>": a fresh writable folder
    QStringList messages;
    const char *acceptedAfter; // "<out>" or the folder as typed
};

void PrintTo(const RefusalCase &c, std::ostream *out) {
    *out << c.name;
}

class Refusal : public ::testing::TestWithParam<RefusalCase> {};

// The checks run in order and the first failure alone is reported; a refused
// start shows no progress dialog, writes nothing into the folder and leaves
// the accepted folder as it was unless the folder checks got that far.
TEST_P(Refusal, ReportsTheFirstFailureOnly) {
    const RefusalCase &c = GetParam();
    const FlowMedia &media = FlowMedia::get();
    const auto resolve = [&](const std::string &name) {
        if (name == "video")
            return media.video;
        if (name == "silent")
            return media.silentVideo;
        if (name == "music")
            return media.music;
        return name;
    };
    const std::string out = freshFolder("refusal");
    FlowWindow flow("[PATH]\nname=/earlier\n");
    flow.window.videoPathBox()->setText(q(resolve(c.video)));
    flow.window.musicPathBox()->setText(q(resolve(c.music)));
    flow.window.outputFolderBox()->setEditText(q(c.folder == "<out>" ? out : c.folder));

    flow.pressStart();

    EXPECT_EQ(flow.messages(), c.messages);
    EXPECT_EQ(flow.progressDialog(), nullptr);
    EXPECT_TRUE(folderEntries(out).empty());
    const std::string accepted = std::string(c.acceptedAfter) == "<out>" ? out : c.acceptedAfter;
    EXPECT_EQ(flow.window.acceptedOutputFolder(), q(accepted));
    EXPECT_EQ(Settings::readString({"PATH", "name"}), "/earlier"); // a typed folder is never remembered
    if (MixJob *job = flow.window.mixJob()) {
        EXPECT_EQ(job->status.load(), JobStatus::Finished); // never started
    }
}

const QString kNoVideo = QString::fromUtf8(MainWindowActions::kNoVideo);
const QString kNoMusic = QString::fromUtf8(MainWindowActions::kNoMusic);
const QString kVideoMissing = QString::fromUtf8(MainWindowActions::kVideoMissing);
const QString kMusicMissing = QString::fromUtf8(MainWindowActions::kMusicMissing);
const QString kNotCreated = QString::fromUtf8(MainWindowActions::kOutputNotCreated);
const QString kNotAVideo = QString::fromUtf8(MainWindowActions::kNotAVideo);
const QString kNotMusic = QString::fromUtf8(MainWindowActions::kNotMusic);

INSTANTIATE_TEST_SUITE_P(
    Cases, Refusal,
    ::testing::Values(RefusalCase{"BothEmpty", "", "", "", {kNoVideo}, "/earlier"},
                      RefusalCase{"MusicEmpty", "video", "", "<out>", {kNoMusic}, "/earlier"},
                      RefusalCase{
                          "VideoMissing", "/no/clip.mp4", "/no/music.mp3", "<out>", {kVideoMissing}, "/earlier"},
                      RefusalCase{"MusicMissing", "video", "/no/music.mp3", "/no/folder", {kMusicMissing}, "/earlier"},
                      RefusalCase{"FolderIsABackslash", "video", "music", "\\", {}, "/earlier"},
                      RefusalCase{"FolderMissing", "video", "music", "/no/folder", {kMissingFolder}, "/earlier"},
                      RefusalCase{"FolderEmpty", "video", "music", "", {kMissingFolder}, "/earlier"},
                      RefusalCase{"FolderRefusesFiles", "video", "music", "/proc", {kNotCreated}, "/proc"},
                      RefusalCase{"TypedVideoIsMusic", "music", "music", "<out>", {kNotAVideo}, "<out>"},
                      RefusalCase{"TypedMusicIsSilent", "video", "silent", "<out>", {kNotMusic}, "<out>"}),
    [](const ::testing::TestParamInfo<RefusalCase> &info) { return std::string(info.param.name); });

// Paths typed by hand, never added with the buttons, are probed at the start
// and run; the typed folder is used but not remembered.
TEST(StartAction, TypedPathsAreProbedAndRun) {
    const FlowMedia &media = FlowMedia::get();
    const std::string out = freshFolder("typed");
    FlowWindow flow;
    flow.window.videoPathBox()->setText(q(media.silentVideo));
    flow.window.musicPathBox()->setText(q(media.music));
    flow.window.outputFolderBox()->setEditText(q(out));
    flow.pressStart();

    EXPECT_EQ(flow.messages(), QStringList{succeeded(out + "/silent.mkv")});
    EXPECT_EQ(flow.window.acceptedOutputFolder(), q(out));
    EXPECT_EQ(Settings::readString({"PATH", "name"}, "<missing>"), "<missing>");
    const std::string output = out + "/silent.mkv";
    EXPECT_TRUE(test::isReadableMedia(output));
    EXPECT_NEAR(test::durationSeconds(output), 2.0, 0.35);
    EXPECT_DOUBLE_EQ(flow.window.mixJob()->request.durationSeconds, test::durationSeconds(media.silentVideo));
}

// The length a run uses is that of the video it mixes, even after a drop or a
// rejected add has probed other files since the video was added.
TEST(StartAction, RunsWithTheDurationOfTheVideoInTheBox) {
    const FlowMedia &media = FlowMedia::get();
    const std::string out = freshFolder("duration");
    FlowWindow flow;
    flow.prepareRun(media.video, media.music, out);
    dropFiles(flow.window, {media.longVideo});
    ASSERT_EQ(flow.window.mixJob()->probePath, media.longVideo);
    flow.addVideo(media.music); // rejected: the box keeps the video
    ASSERT_EQ(flow.messages(), QStringList{kNotAVideo});
    ASSERT_NE(flow.window.mixJob()->info.videoDuration, 0);

    flow.pressStart();

    EXPECT_EQ(flow.messages(), (QStringList{kNotAVideo, succeeded(out + "/clip.mp4")}));
    EXPECT_DOUBLE_EQ(flow.window.mixJob()->request.durationSeconds, test::durationSeconds(media.video));
    expectMixedOutput(out + "/clip.mp4", 2.0);
}

// Existing files are never overwritten: the output takes the first free
// numbered name, also when the folder is the video's own.
TEST(StartAction, NamesTheOutputAfterTheVideoWithoutOverwriting) {
    const FlowMedia &media = FlowMedia::get();
    const std::string folder = freshFolder("naming");
    const std::string video = copyInto(media.video, folder, "clip.mp4");
    const std::string out = freshFolder("naming-out");
    std::ofstream(out + "/clip.mp4", std::ios::binary) << "keep me";
    std::ofstream(out + "/clip(0).mp4", std::ios::binary) << "keep me too";

    FlowWindow flow;
    flow.prepareRun(video, media.music, out);
    flow.pressStart();
    EXPECT_EQ(flow.messages(), QStringList{succeeded(out + "/clip(1).mp4")});
    EXPECT_EQ(fileBytes(out + "/clip.mp4"), "keep me");
    EXPECT_EQ(fileBytes(out + "/clip(0).mp4"), "keep me too");
    expectMixedOutput(out + "/clip(1).mp4", 2.0);

    const std::string original = fileBytes(video);
    flow.browse(folder);
    flow.pressStart();
    EXPECT_EQ(flow.messages(), (QStringList{succeeded(out + "/clip(1).mp4"), succeeded(folder + "/clip(0).mp4")}));
    EXPECT_EQ(fileBytes(video), original);
    expectMixedOutput(folder + "/clip(0).mp4", 2.0);
}

// A video whose name has no dot gives an output of the same bare name, in
// the video's own container type.
TEST(StartAction, VideoNameWithoutADot) {
    const FlowMedia &media = FlowMedia::get();
    const std::string folder = freshFolder("no-dot");
    const std::string video = copyInto(media.video, folder, "影片");
    const std::string out = freshFolder("no-dot-out");
    FlowWindow flow;
    flow.prepareRun(video, media.music, out);
    flow.pressStart();
    flow.pressStart();

    EXPECT_EQ(flow.messages(), (QStringList{succeeded(out + "/影片"), succeeded(out + "/影片(0)")}));
    EXPECT_EQ(folderEntries(out), (std::vector<std::string>{"影片", "影片(0)"}));
    for (const char *name : {"影片", "影片(0)"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(formatName(out + "/" + name), formatName(video));
        expectMixedOutput(out + "/" + name, 2.0);
    }
}

// The message after a stop, once the file is finished: how much of the video it holds (read from
// the file itself, to the second) and where it is.
void expectStopReport(const QStringList &messages, const std::string &output) {
    ASSERT_EQ(messages.size(), 1);
    static const QRegularExpression report(
        QStringLiteral("^Stopped\\. The new file holds the first (\\d+):(\\d\\d) of the video:\n(.*)$"));
    const QRegularExpressionMatch match = report.match(messages.front());
    ASSERT_TRUE(match.hasMatch()) << messages.front().toStdString();
    EXPECT_NEAR(match.captured(1).toInt() * 60 + match.captured(2).toInt(), test::durationSeconds(output), 1.0);
    EXPECT_EQ(match.captured(3), q(output));
}

// Stop ends the run at once; once the file written so far is finished (and playable) a message
// says what it holds. The check box is not stored.
TEST(StartAction, StopLeavesAPlayableFileAndSaysWhatItHolds) {
    const FlowMedia &media = FlowMedia::get();
    const std::string out = freshFolder("stop");
    FlowWindow flow;
    flow.prepareRun(media.longVideo, media.music, out);
    flow.pressStart([&](CDUDuduzezDlg &dialog) {
        if (!runIsUnderWay(flow.window))
            return false;
        openFolderBox(dialog)->click();
        stopButton(dialog)->click();
        return true;
    });

    const std::string output = out + "/long.mp4";
    expectStopReport(flow.messages(), output);
    EXPECT_TRUE(flow.scripted.openedTargets().isEmpty());
    EXPECT_FALSE(flow.progressDialog()->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(storedOpen(), "<missing>");
    EXPECT_FALSE(flow.window.openFolderWhenDone()); // the owner's flag follows the click
    ASSERT_TRUE(flow.waitForWorker());
    EXPECT_TRUE(test::isReadableMedia(output));
    EXPECT_EQ(test::decodeErrors(output), 0);
    EXPECT_GT(test::durationSeconds(output), 0.0);
    EXPECT_LT(test::durationSeconds(output), 290.0);
}

// The close box ends the run like stop and stores the check box.
TEST(StartAction, CloseBoxStoresTheCheckBox) {
    const FlowMedia &media = FlowMedia::get();
    const std::string out = freshFolder("close-box");
    FlowWindow flow;
    flow.prepareRun(media.longVideo, media.music, out);
    flow.pressStart([&](CDUDuduzezDlg &dialog) {
        if (!runIsUnderWay(flow.window))
            return false;
        openFolderBox(dialog)->click();
        dialog.close();
        return true;
    });

    expectStopReport(flow.messages(), out + "/long.mp4");
    EXPECT_EQ(storedOpen(), "0");
    ASSERT_TRUE(flow.waitForWorker());
    EXPECT_TRUE(test::isReadableMedia(out + "/long.mp4"));
}

// The progress line: the video path, three spaces, the percent, "% " and the
// language's word; the bar shows the same percent.
TEST(StartAction, ProgressLineFormat) {
    const FlowMedia &media = FlowMedia::get();
    const std::string out = freshFolder("line");
    FlowWindow flow;
    flow.prepareRun(media.longVideo, media.music, out);
    QString line;
    int position = -1;
    flow.pressStart([&](CDUDuduzezDlg &dialog) {
        if (dialog.progressLine() == QLatin1String(CDUDuduzezDlg::kInitialLine))
            return false;
        line = dialog.progressLine();
        position = dialog.progressPosition();
        stopButton(dialog)->click();
        return true;
    });

    const QRegularExpression pattern(QStringLiteral("^") + QRegularExpression::escape(q(media.longVideo)) +
                                     QStringLiteral("   (\\d+)% 完成$"));
    const QRegularExpressionMatch match = pattern.match(line);
    ASSERT_TRUE(match.hasMatch()) << line.toStdString();
    EXPECT_EQ(match.captured(1).toInt(), position);
    EXPECT_TRUE(flow.waitForWorker());
}

// A job that fails at once (its music no longer decodes) is reported with
// the failure text and the engine's reason at the first poll, and the dialog
// closes.
TEST(StartAction, JobThatFailsAtOnceReportsFailure) {
    const FlowMedia &media = FlowMedia::get();
    const std::string folder = freshFolder("failing");
    const std::string music = copyInto(media.music, folder, "music.mp3");
    const std::string out = freshFolder("failing-out");
    FlowWindow flow;
    flow.prepareRun(media.video, music, out);
    std::ofstream(music, std::ios::binary | std::ios::trunc) << "this is no music";

    flow.pressStart();

    // The failure text, then the reason the engine recorded.
    const std::string reason = flow.window.mixJob()->result.errorMessage;
    EXPECT_NE(reason.find("music"), std::string::npos) << reason;
    EXPECT_EQ(flow.messages(), QStringList{kFailed + u'\n' + QString::fromStdString(reason)});
    EXPECT_TRUE(flow.scripted.openedTargets().isEmpty());
    EXPECT_FALSE(flow.progressDialog()->isVisible());
    EXPECT_EQ(flow.progressDialog()->progressLine(), q(media.video) + QStringLiteral("   0% 完成"));
    EXPECT_EQ(flow.window.mixJob()->status.load(), JobStatus::Failed);
    // The run wrote nothing usable: the folder is as it was.
    EXPECT_TRUE(flow.waitForWorker());
    EXPECT_TRUE(folderEntries(out).empty());
}

// A worker that cannot be started ends the action with the failure text at
// once; no progress dialog waits for a run that never began, and the name
// claimed for the output is given back.
TEST(StartAction, WorkerThatCannotStartReportsFailure) {
    const FlowMedia &media = FlowMedia::get();
    const std::string out = freshFolder("no-worker");
    FlowWindow flow;
    flow.prepareRun(media.video, media.music, out);
    int launches = 0;
    flow.window.actions()->setLauncher(
        [&](MixJob &job, const MixRequest &run) {
            ++launches;
            EXPECT_TRUE(std::filesystem::exists(run.outputPath));
            job.status = JobStatus::Failed;
            return false;
        });
    flow.pressStart();

    EXPECT_EQ(launches, 1);
    EXPECT_EQ(flow.messages(), QStringList{kFailed});
    EXPECT_EQ(flow.progressDialog(), nullptr);
    EXPECT_TRUE(folderEntries(out).empty());
    EXPECT_TRUE(flow.window.isEnabled());
}

// A start right after a stop waits for the stopped worker's tear-down and
// then runs normally; both files are whole.
TEST(StartAction, StartRightAfterStopWaitsForTheWorker) {
    const FlowMedia &media = FlowMedia::get();
    const std::string out = freshFolder("restart");
    FlowWindow flow;
    flow.prepareRun(media.longVideo, media.music, out);
    flow.pressStart([&](CDUDuduzezDlg &dialog) {
        if (!runIsUnderWay(flow.window))
            return false;
        stopButton(dialog)->click();
        return true;
    });
    flow.window.videoPathBox()->setText(q(media.video));
    flow.pressStart();

    ASSERT_EQ(flow.messages().size(), 2);
    EXPECT_TRUE(flow.messages().front().startsWith(QStringLiteral("Stopped."))) << flow.messages().front().toStdString();
    EXPECT_EQ(flow.messages().back(), succeeded(out + "/clip.mp4"));
    expectMixedOutput(out + "/clip.mp4", 2.0);
    EXPECT_TRUE(test::isReadableMedia(out + "/long.mp4"));
    EXPECT_EQ(test::decodeErrors(out + "/long.mp4"), 0);
}

// Closing the main window in the middle of a run ends the dialog, stops the
// worker and waits for it before the job goes.
TEST(StartAction, ClosingTheWindowDuringARun) {
    const FlowMedia &media = FlowMedia::get();
    const std::string out = freshFolder("close-window");
    FlowWindow flow;
    flow.prepareRun(media.longVideo, media.music, out);
    flow.pressStart([&](CDUDuduzezDlg &) {
        if (!runIsUnderWay(flow.window))
            return false;
        flow.window.close();
        return true;
    });

    EXPECT_FALSE(flow.window.isVisible());
    EXPECT_EQ(flow.window.mixJob(), nullptr);
    EXPECT_TRUE(flow.messages().isEmpty());
    EXPECT_TRUE(test::isReadableMedia(out + "/long.mp4"));
    EXPECT_LT(test::durationSeconds(out + "/long.mp4"), 290.0);
}

// The wait for a worker keeps timers running, and can be given up.
TEST(WorkerWait, KeepsTheEventLoopGoingAndCanBeGivenUp) {
    const FlowMedia &media = FlowMedia::get();
    const std::string out = freshFolder("wait");
    MixJob job;
    job.request.videoPath = media.longVideo;
    job.request.musicPath = media.music;
    job.request.outputPath = out + "/a.mp4";
    job.request.durationSeconds = 300;
    ASSERT_TRUE(startMixJob(job));
    EXPECT_FALSE(waitForWorkerResponsively(job, [] { return false; }));
    EXPECT_TRUE(job.workerActive.load());

    bool timerRan = false;
    QTimer::singleShot(0, [&] { timerRan = true; });
    // Only once the event loop has run is the worker asked to stop.
    EXPECT_TRUE(waitForWorkerResponsively(job, [&] {
        if (timerRan)
            job.stopRequested = 1;
        return true;
    }));
    EXPECT_TRUE(timerRan);
    EXPECT_FALSE(job.workerActive.load());
    EXPECT_TRUE(test::isReadableMedia(job.request.outputPath));
}

} // namespace
} // namespace melvora
