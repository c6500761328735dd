// An output that cannot grow, as on a full disk: the file size limit makes
// every write past it fail with EFBIG (SIGXFSZ ignored, so the process lives
// on). Wherever the limit falls (header, packets, trailer), the run must end
// as failed with the system's reason, and never as finished.

#include "MediaTool.h"
#include "SampleMedia.h"
#include "WatchedRun.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <unistd.h>

namespace melvora::test {
namespace {

// Lowers the file size limit of this process for its lifetime.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = m_saved;
        limited.rlim_cur = bytes;
        m_applied = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_previousHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;
    bool applied() const { return m_applied; }

private:
    rlimit m_saved{};
    void (*m_previousHandler)(int) = SIG_DFL;
    bool m_applied = false;
};

struct WriteFailureCase {
    const char *name;
    const char *video;
    const char *music;
    const char *extension;
};

void PrintTo(const WriteFailureCase &c, std::ostream *os) { *os << c.name; }

class WriteFailure : public ::testing::TestWithParam<WriteFailureCase> {};

TEST_P(WriteFailure, EndsAsFailedWithTheReasonWhereverTheDiskFills) {
    const WriteFailureCase &c = GetParam();
    const std::string video = sample(c.video);
    const std::string music = sample(c.music);
    const std::string folder = makeFolder(std::string("write-failure-") + c.name);

    // The whole output's size tells where the header, the packets and the
    // trailer lie.
    MixJob job;
    const std::string whole = folder + "/whole" + c.extension;
    const MixOutcome unlimited = watchedMix(job, video, music, whole);
    ASSERT_EQ(unlimited.status, JobStatus::Finished) << unlimited.error;
    const auto size = static_cast<rlim_t>(std::filesystem::file_size(whole));
    ASSERT_GT(size, 20000u);

    for (const rlim_t limit : {rlim_t{0}, rlim_t{100}, rlim_t{5000}, size / 3, size / 2, size - 2000, size - 200,
                               size - 1}) {
        SCOPED_TRACE("limit " + std::to_string(limit) + " of " + std::to_string(size) + " bytes");
        const std::string output = folder + "/limit-" + std::to_string(limit) + c.extension;
        MixOutcome outcome;
        {
            FileSizeLimit fileSizeLimit(limit);
            ASSERT_TRUE(fileSizeLimit.applied());
            outcome = watchedMix(job, video, music, output);
        }
        EXPECT_FALSE(outcome.hung);
        EXPECT_EQ(outcome.status, JobStatus::Failed);
        EXPECT_NE(outcome.error.find("File too large"), std::string::npos) << outcome.error;
        // A file broken off mid-way is no usable video: nothing is left.
        EXPECT_FALSE(std::filesystem::exists(output));
    }
}

// A file system that fills up mid-way: the run ends at the first failed
// write, at once, as failed with the system's reason, and leaves the folder
// empty. Needs root to mount a small file system; skipped otherwise.
TEST(FullFileSystem, EndsAtTheFirstFailedWriteAndLeavesNothing) {
    const std::string folder = makeFolder("full-file-system");
    if (::geteuid() != 0 || runCommand("mount -t tmpfs -o size=160k tmpfs " + shellQuote(folder)).exitCode != 0)
        GTEST_SKIP() << "cannot mount a small file system here";
    struct Unmount {
        std::string folder;
        ~Unmount() { runCommand("umount " + shellQuote(folder)); }
    } unmount{folder};
    for (const char *video : {"long-sound.mp4", "long-silent.mp4"}) {
        SCOPED_TRACE(video);
        MixJob job;
        const MixOutcome outcome = watchedMix(job, sample(video), sample("music.mp3"), folder + "/out.mp4");
        EXPECT_FALSE(outcome.hung);
        EXPECT_EQ(outcome.status, JobStatus::Failed);
        EXPECT_NE(outcome.error.find("No space left on device"), std::string::npos) << outcome.error;
        EXPECT_TRUE(std::filesystem::is_empty(folder));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, WriteFailure,
    ::testing::Values(WriteFailureCase{"mp4_copied_music", "long-silent.mp4", "music.mp3", ".mp4"},
                      WriteFailureCase{"mp4_reencoded_music", "long-silent.mp4", "music.wma", ".mp4"},
                      WriteFailureCase{"mp4_mixed_sound", "long-sound.mp4", "music.mp3", ".mp4"},
                      WriteFailureCase{"mkv_mixed_sound", "long-sound.mkv", "music.mp3", ".mkv"}),
    [](const ::testing::TestParamInfo<WriteFailureCase> &info) { return std::string(info.param.name); });

} // namespace
} // namespace melvora::test
