// Start checks, the write test and the output naming rule, on real folders.

#include "MediaTool.h"

#include "jobcontrol/OutputFolder.h"
#include "jobcontrol/OutputNaming.h"
#include "jobcontrol/StartChecks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace melvora::test {
namespace {

void touch(const std::string &path, const std::string &content = "x") {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

std::string readAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct NamingCase {
    const char *name;
    std::string video;                 // file name of the video, placed in "videos/"
    std::vector<std::string> existing; // names already in the output folder
    std::string expected;
};

void PrintTo(const NamingCase &c, std::ostream *os) { *os << c.name; }

class OutputNamingRule : public ::testing::TestWithParam<NamingCase> {};

TEST_P(OutputNamingRule, ChoosesTheFirstFreeName) {
    const NamingCase &c = GetParam();
    const std::string folder = makeFolder(std::string("naming-") + c.name);
    for (const std::string &name : c.existing)
        touch(folder + "/" + name);
    std::string error;
    const auto claimed = claimOutputPath(folder, "/somewhere/videos/" + c.video, error);
    ASSERT_TRUE(claimed) << error;
    EXPECT_EQ(*claimed, folder + "/" + c.expected);
    // The name is claimed as a new empty file; nothing that was there changed.
    EXPECT_EQ(std::filesystem::file_size(*claimed), 0u);
    for (const std::string &name : c.existing)
        EXPECT_EQ(readAll(folder + "/" + name), "x");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OutputNamingRule,
    ::testing::Values(NamingCase{"free", "clip.mp4", {}, "clip.mp4"},
                      NamingCase{"taken-twice", "clip.mp4", {"clip.mp4", "clip(0).mp4"}, "clip(1).mp4"},
                      NamingCase{"gap-not-filled-backwards", "clip.mp4", {"clip.mp4", "clip(1).mp4"}, "clip(0).mp4"},
                      NamingCase{"last-dot", "a.b.mkv", {"a.b.mkv"}, "a.b(0).mkv"},
                      NamingCase{"no-dot", "clip", {"clip"}, "clip(0)"},
                      NamingCase{"chinese", "我的视频.mp4", {"我的视频.mp4"}, "我的视频(0).mp4"}),
    [](const ::testing::TestParamInfo<NamingCase> &info) {
        std::string name = info.param.name;
        for (char &ch : name)
            if (ch == '-')
                ch = '_';
        return name;
    });

TEST(OutputNaming, FoldersAndDanglingLinksCountAsTaken) {
    const std::string folder = makeFolder("naming-links");
    std::filesystem::create_directory(folder + "/clip.mp4");
    std::filesystem::create_symlink(folder + "/nowhere", folder + "/clip(0).mp4");
    std::string error;
    EXPECT_EQ(claimOutputPath(folder, "clip.mp4", error).value_or(""), folder + "/clip(1).mp4");
    EXPECT_FALSE(std::filesystem::exists(folder + "/nowhere")); // the link was not followed
}

TEST(OutputNaming, VideoInTheOutputFolderIsNeverTheOutput) {
    const std::string folder = makeFolder("naming-same-folder");
    touch(folder + "/clip.mp4", "video");
    std::string error;
    EXPECT_EQ(claimOutputPath(folder, folder + "/clip.mp4", error).value_or(""), folder + "/clip(0).mp4");
    EXPECT_EQ(readAll(folder + "/clip.mp4"), "video");
}

TEST(OutputNaming, FileNameAndCandidates) {
    EXPECT_EQ(fileNameOfPath("/v/clip.mp4"), "clip.mp4");
    EXPECT_EQ(fileNameOfPath("clip.mp4"), "clip.mp4");
    EXPECT_EQ(numberedCandidate("/o/a.b.mkv", 3), "/o/a.b(3).mkv");
    EXPECT_EQ(numberedCandidate("/o.d/clip", 0), "/o.d/clip(0)");
    // A name that would outgrow the file system's limit loses the end of its
    // stem, never half a UTF-8 character.
    const std::string longStem(250, 'a');
    EXPECT_EQ(numberedCandidate("/o/" + longStem + ".mp4", 12), "/o/" + longStem.substr(0, 247) + "(12).mp4");
    EXPECT_EQ(numberedCandidate("/o/ab\xc3\xa9.mp4", 0, 10), "/o/ab(0).mp4");
    EXPECT_EQ(numberedCandidate("/o/ab\xc3\xa9.mp4", -1, 10), "/o/ab\xc3\xa9.mp4");
}

TEST(WriteTest, NeverHarmsAnExistingProbeFile) {
    const std::string folder = makeFolder("write-test");
    const std::string probe = folder + "/" + kWriteProbeFileName;
    touch(probe, "precious");
    EXPECT_TRUE(folderAcceptsNewFile(folder));
    EXPECT_EQ(readAll(probe), "precious");
    // Nothing of the test is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()), 1);

    std::filesystem::remove(probe);
    EXPECT_TRUE(folderAcceptsNewFile(folder));
    EXPECT_TRUE(std::filesystem::is_empty(folder));
}

TEST(WriteTest, RefusesWhatIsNoWritableFolder) {
    const std::string folder = makeFolder("write-test-refusals");
    touch(folder + "/plain-file");
    EXPECT_FALSE(folderAcceptsNewFile(folder + "/plain-file"));
    EXPECT_FALSE(folderAcceptsNewFile(folder + "/missing"));
    EXPECT_FALSE(folderAcceptsNewFile(""));
    if (::geteuid() != 0) { // root writes anywhere
        const std::string locked = makeFolder("write-test-locked");
        std::filesystem::permissions(locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        EXPECT_FALSE(folderAcceptsNewFile(locked));
        std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
    }
}

TEST(StartChecks, StopAtTheFirstFailureInOrder) {
    const std::string folder = makeFolder("start-checks");
    const std::string video = folder + "/v.mp4";
    const std::string music = folder + "/m.mp3";
    touch(video);
    touch(music);
    struct Case {
        StartInputs inputs;
        StartRefusal expected;
    };
    const Case cases[] = {
        {{"", "", ""}, StartRefusal::NoVideo},
        {{video, "", folder}, StartRefusal::NoMusic},
        {{folder + "/none.mp4", folder + "/none.mp3", ""}, StartRefusal::VideoMissing},
        {{video, folder + "/none.mp3", ""}, StartRefusal::MusicMissing},
        {{video, music, "\\"}, StartRefusal::FolderIsSeparator},
        {{video, music, ""}, StartRefusal::FolderMissing},
        {{video, music, folder + "/none"}, StartRefusal::FolderMissing},
        {{video, music, video}, StartRefusal::FolderMissing},
        {{video, music, folder}, StartRefusal::None},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.inputs.videoPath + " | " + c.inputs.musicPath + " | " + c.inputs.outputFolder);
        EXPECT_EQ(checkStartInputs(c.inputs), c.expected);
    }
}

} // namespace
} // namespace melvora::test
