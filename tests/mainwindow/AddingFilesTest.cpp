// Adding the video and the music, the output folder's buttons and dropped
// files, through the scripted desktop.

#include "FlowTesting.h"

#include "config/Settings.h"
#include "engine/MixJob.h"
#include "jobcontrol/OutputFolder.h"
#include "mainwindow/OutputFolderBox.h"

#include <gtest/gtest.h>

namespace melvora {
namespace {

using namespace melvora::testing;

// Media by a short name; "missing" names a file that does not exist.
std::string mediaPath(const std::string &name) {
    const FlowMedia &media = FlowMedia::get();
    if (name == "video")
        return media.video;
    if (name == "silent")
        return media.silentVideo;
    if (name == "music")
        return media.music;
    return media.folder + "/" + name;
}

struct AddCase {
    const char *name;
    bool videoButton;
    std::vector<std::string> chosen; // empty: the dialog is cancelled
    const char *shown;               // what the box shows afterwards ("" for nothing)
    const char *message;             // the one message, or nullptr
};

void PrintTo(const AddCase &c, std::ostream *out) {
    *out << c.name;
}

class AddFile : public ::testing::TestWithParam<AddCase> {};

// A file goes into its box only when the probe finds the wanted kind of
// stream; otherwise the fixed rejection text is shown and the box stays.
TEST_P(AddFile, ProbesBeforeShowing) {
    const AddCase &c = GetParam();
    FlowWindow flow;
    QStringList chosen;
    for (const std::string &name : c.chosen)
        chosen << q(mediaPath(name));
    flow.scripted.queueFileNames(chosen);
    QLineEdit *box = c.videoButton ? flow.window.videoPathBox() : flow.window.musicPathBox();
    QLineEdit *other = c.videoButton ? flow.window.musicPathBox() : flow.window.videoPathBox();
    (c.videoButton ? flow.window.addVideoButton() : flow.window.addMusicButton())->click();

    EXPECT_EQ(box->text(), *c.shown ? q(mediaPath(c.shown)) : QString());
    EXPECT_TRUE(other->text().isEmpty());
    EXPECT_EQ(flow.messages(), c.message ? QStringList{QString::fromUtf8(c.message)} : QStringList());
    // The job record comes into being with the first probe.
    EXPECT_EQ(flow.window.mixJob() != nullptr, !c.chosen.empty());
    // The dialog offered the media patterns first, then all files.
    const QString patterns =
        QString::fromLatin1(c.videoButton ? MainWindowActions::kVideoPatterns : MainWindowActions::kMusicPatterns);
    EXPECT_EQ(flow.scripted.fileDialogFilters(),
              QStringList{QStringLiteral("媒体文件|") + patterns + QStringLiteral("|所有文件|*.*|")});
}

const char *const kNotAVideo = MainWindowActions::kNotAVideo;
const char *const kNotMusic = MainWindowActions::kNotMusic;

INSTANTIATE_TEST_SUITE_P(Cases, AddFile,
                         ::testing::Values(AddCase{"Video", true, {"video"}, "video", nullptr},
                                           AddCase{"SilentVideo", true, {"silent"}, "silent", nullptr},
                                           AddCase{"MusicAsVideo", true, {"music"}, "", kNotAVideo},
                                           AddCase{"MissingVideo", true, {"missing.mp4"}, "", kNotAVideo},
                                           AddCase{"VideoCancelled", true, {}, "", nullptr},
                                           AddCase{"SeveralTakesTheFirst", true, {"video", "music"}, "video", nullptr},
                                           AddCase{"SeveralFirstRejected", true, {"music", "video"}, "", kNotAVideo},
                                           AddCase{"Music", false, {"music"}, "music", nullptr},
                                           AddCase{"VideoWithSoundAsMusic", false, {"video"}, "video", nullptr},
                                           AddCase{"SilentVideoAsMusic", false, {"silent"}, "", kNotMusic},
                                           AddCase{"MusicCancelled", false, {}, "", nullptr}),
                         [](const ::testing::TestParamInfo<AddCase> &info) { return std::string(info.param.name); });

TEST(AddFile, RejectedSecondVideoKeepsTheFirstAndReplacingWorks) {
    FlowWindow flow;
    flow.addVideo(mediaPath("video"));
    flow.addVideo(mediaPath("music"));
    EXPECT_EQ(flow.window.videoPathBox()->text(), q(mediaPath("video")));
    EXPECT_EQ(flow.messages(), QStringList{QString::fromUtf8(kNotAVideo)});
    flow.addVideo(mediaPath("silent"));
    EXPECT_EQ(flow.window.videoPathBox()->text(), q(mediaPath("silent")));
    EXPECT_EQ(flow.messages().size(), 1);
}

// Without language texts the dialog gets no filter at all.
TEST(AddFile, NoLanguageGivesAnEmptyMediaFilterName) {
    ExecutableFolderSandbox sandbox;
    ScriptedDesktop scripted;
    CTonvexDlg window;
    window.addVideoButton()->click();
    ASSERT_EQ(scripted.fileDialogFilters().size(), 1);
    EXPECT_TRUE(scripted.fileDialogFilters().front().startsWith(QStringLiteral("|*.rm;")));
}

struct BrowseCase {
    const char *name;
    std::string picked; // "<cancel>" cancels the picker
    QStringList messages;
    bool remembered;
};

void PrintTo(const BrowseCase &c, std::ostream *out) {
    *out << c.name;
}

class Browse : public ::testing::TestWithParam<BrowseCase> {};

TEST_P(Browse, RemembersOnlyAFolderThatTakesFiles) {
    const BrowseCase &c = GetParam();
    FlowWindow flow("[PATH]\nname=/earlier\n");
    if (c.picked == "<cancel>")
        flow.scripted.queueFolderCancel();
    else
        flow.scripted.queueFolder(q(c.picked));
    flow.window.browseButton()->click();

    EXPECT_EQ(flow.scripted.folderPickerTitles(), QStringList{QStringLiteral("Please select output folder:")});
    EXPECT_EQ(flow.messages(), c.messages);
    const QString expected = c.remembered ? q(c.picked) : QStringLiteral("/earlier");
    EXPECT_EQ(flow.window.outputFolderBox()->currentText(), expected);
    EXPECT_EQ(flow.window.outputFolder(), expected);
    EXPECT_EQ(flow.window.acceptedOutputFolder(), expected);
    EXPECT_EQ(q(Settings::readString({"PATH", "name"})), expected);
    EXPECT_EQ(flow.window.outputFolderBox()->count(), c.remembered ? 1 : 0);
}

const QString kInvalid = QString::fromUtf8(MainWindowActions::kPickedFolderInvalid);
const QString kNotWritable = QString::fromUtf8(MainWindowActions::kPickedFolderNotWritable);

INSTANTIATE_TEST_SUITE_P(Cases, Browse,
                         ::testing::Values(BrowseCase{"Writable", test::makeFolder("browse 输出"), {}, true},
                                           BrowseCase{"Cancelled", "<cancel>", {}, false},
                                           BrowseCase{"Missing", "/no/such/folder", {kInvalid, kNotWritable}, false},
                                           BrowseCase{"Empty", "", {kInvalid, kNotWritable}, false},
                                           // /proc refuses new files even to the superuser.
                                           BrowseCase{"NotWritable", "/proc", {kNotWritable}, false},
                                           BrowseCase{"AFile", "/etc/hostname", {kNotWritable}, false}),
                         [](const ::testing::TestParamInfo<BrowseCase> &info) { return std::string(info.param.name); });

// A file that already has the probe file's name survives the write test, and
// each Browse adds the folder to the list again.
TEST(Browse, KeepsAnExistingProbeFileAndListsEveryChoice) {
    const std::string folder = test::makeFolder("browse-probe-file");
    const std::string probe = folder + "/" + kWriteProbeFileName;
    std::ofstream(probe, std::ios::binary) << "precious";
    FlowWindow flow;
    flow.browse(folder);
    flow.browse(folder);
    EXPECT_TRUE(flow.messages().isEmpty());
    EXPECT_EQ(fileBytes(probe), "precious");
    EXPECT_EQ(folderEntries(folder), std::vector<std::string>{kWriteProbeFileName});
    EXPECT_EQ(flow.window.outputFolderBox()->count(), 2);
}

// Open folder hands the box's text to the desktop as it stands, typed or
// empty, and reports nothing.
TEST(OpenFolder, OpensWhatTheBoxShows) {
    FlowWindow flow("[PATH]\nname=/remembered\n");
    flow.window.openFolderButton()->click();
    flow.window.outputFolderBox()->setEditText(QStringLiteral("/typed/输出"));
    flow.window.openFolderButton()->click();
    flow.window.outputFolderBox()->setEditText(QString());
    flow.scripted.setDefaultOpenResult(2);
    flow.window.openFolderButton()->click();
    EXPECT_EQ(flow.scripted.openedTargets(), (QStringList{"/remembered", "/typed/输出", ""}));
    EXPECT_TRUE(flow.messages().isEmpty());
}

struct DropCase {
    const char *name;
    std::vector<std::string> dropped;
    const char *reported;   // file name in the one message, or nullptr
    const char *lastProbed; // the job's probe path afterwards
};

void PrintTo(const DropCase &c, std::ostream *out) {
    *out << c.name;
}

class Drop : public ::testing::TestWithParam<DropCase> {};

// Dropped files are probed as videos in order up to the first that is not
// one, which alone is reported; the boxes never change.
TEST_P(Drop, ReportsTheFirstFileThatIsNoVideo) {
    const DropCase &c = GetParam();
    FlowWindow flow;
    flow.window.musicPathBox()->setText(QStringLiteral("typed"));
    std::vector<std::string> paths;
    for (const std::string &name : c.dropped)
        paths.push_back(mediaPath(name));
    dropFiles(flow.window, paths);

    QStringList expected;
    if (c.reported)
        expected << QStringLiteral("文件") + QString::fromUtf8(c.reported) + QStringLiteral(" 不是有效的视频!");
    EXPECT_EQ(flow.messages(), expected);
    ASSERT_NE(flow.window.mixJob(), nullptr);
    EXPECT_EQ(flow.window.mixJob()->probePath, mediaPath(c.lastProbed));
    EXPECT_TRUE(flow.window.videoPathBox()->text().isEmpty());
    EXPECT_EQ(flow.window.musicPathBox()->text(), QStringLiteral("typed"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Drop,
    ::testing::Values(DropCase{"OneVideo", {"video"}, nullptr, "video"},
                      DropCase{"AudioOnly", {"music"}, "music.mp3", "music"},
                      DropCase{"ValidInvalidValid", {"video", "music", "silent"}, "music.mp3", "music"},
                      DropCase{"TwoVideos", {"video", "silent"}, nullptr, "silent"},
                      DropCase{"Missing", {"gone 视频.mp4", "video"}, "gone 视频.mp4", "gone 视频.mp4"}),
    [](const ::testing::TestParamInfo<DropCase> &info) { return std::string(info.param.name); });

} // namespace
} // namespace melvora
