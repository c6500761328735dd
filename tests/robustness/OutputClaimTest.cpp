// Output names under contention: many threads and processes claiming names
// in one folder, links planted at the candidate names while they do, and an
// output folder that holds the inputs themselves. No two claims may get the
// same name, no existing file may change, and no link may be followed.

#include "MediaTool.h"
#include "SampleMedia.h"
#include "WatchedRun.h"

#include "jobcontrol/OutputNaming.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace melvora::test {
namespace {

bool isSymlink(const std::string &path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

// Files already in the folder: each must keep its content.
std::map<std::string, std::uint64_t> plantExisting(const std::string &folder) {
    std::map<std::string, std::uint64_t> digests;
    for (const char *name : {"clip.mp4", "clip(2).mp4", "clip(7).mp4"}) {
        writeText(folder + "/" + name, std::string("precious ") + name);
        digests[folder + "/" + name] = fileDigest(folder + "/" + name);
    }
    return digests;
}

void expectUntouched(const std::map<std::string, std::uint64_t> &digests) {
    for (const auto &[path, digest] : digests)
        EXPECT_EQ(fileDigest(path), digest) << path;
}

void expectDistinctEmptyClaims(const std::vector<std::string> &claims, std::size_t expected) {
    EXPECT_EQ(claims.size(), expected);
    const std::set<std::string> distinct(claims.begin(), claims.end());
    EXPECT_EQ(distinct.size(), claims.size()) << "two claims got the same name";
    for (const std::string &path : claims) {
        EXPECT_FALSE(isSymlink(path)) << path;
        EXPECT_TRUE(std::filesystem::is_regular_file(path)) << path;
        EXPECT_EQ(std::filesystem::file_size(path), 0u) << path;
    }
}

TEST(OutputClaim, ConcurrentThreadsNeverShareANameNorTruncateAFile) {
    const std::string folder = makeFolder("claim-threads");
    const auto existing = plantExisting(folder);
    constexpr int kThreads = 8;
    constexpr int kClaimsEach = 40;
    std::vector<std::vector<std::string>> perThread(kThreads);
    std::atomic<int> failures{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load()) {
            }
            for (int i = 0; i < kClaimsEach; ++i) {
                std::string error;
                if (auto claimed = claimOutputPath(folder, "/videos/clip.mp4", error))
                    perThread[t].push_back(*claimed);
                else
                    ++failures;
            }
        });
    }
    go = true;
    for (std::thread &thread : threads)
        thread.join();

    std::vector<std::string> claims;
    for (const auto &list : perThread)
        claims.insert(claims.end(), list.begin(), list.end());
    EXPECT_EQ(failures.load(), 0);
    expectDistinctEmptyClaims(claims, kThreads * kClaimsEach);
    expectUntouched(existing);
}

TEST(OutputClaim, ConcurrentProcessesNeverShareAName) {
    const std::string folder = makeFolder("claim-processes");
    const auto existing = plantExisting(folder);
    constexpr int kProcesses = 6;
    constexpr int kClaimsEach = 30;
    int results[2];
    ASSERT_EQ(::pipe(results), 0);
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Each claimed name goes up the pipe as one line; nothing else
            // runs in the child.
            ::close(results[0]);
            for (int i = 0; i < kClaimsEach; ++i) {
                std::string error;
                const auto claimed = claimOutputPath(folder, "clip.mp4", error);
                const std::string line = (claimed ? *claimed : "FAILED " + error) + "\n";
                if (::write(results[1], line.data(), line.size()) != static_cast<ssize_t>(line.size()))
                    ::_exit(2);
            }
            ::_exit(0);
        }
        children.push_back(child);
    }
    ::close(results[1]);
    std::string text;
    char buffer[4096];
    ssize_t count = 0;
    while ((count = ::read(results[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(count));
    ::close(results[0]);
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    std::vector<std::string> claims;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_NE(line.rfind("FAILED", 0), 0u) << line;
        claims.push_back(line);
    }
    expectDistinctEmptyClaims(claims, kProcesses * kClaimsEach);
    expectUntouched(existing);
}

// A planter keeps putting links (to a victim file, and dangling ones to a
// name that must never appear) at the candidate names while claims run.
TEST(OutputClaim, LinksPlantedDuringClaimsAreNeverFollowed) {
    const std::string folder = makeFolder("claim-links");
    const std::string elsewhere = makeFolder("claim-links-elsewhere");
    const std::string victim = elsewhere + "/victim.mp4";
    writeText(victim, "the user's own file");
    const std::uint64_t victimDigest = fileDigest(victim);
    const std::string neverCreated = elsewhere + "/never-created.mp4";

    std::atomic<bool> stop{false};
    std::thread planter([&] {
        for (int round = 0; !stop.load(); ++round) {
            const int counter = round % 200;
            const std::string name = folder + "/" + (counter == 0 ? "clip.mp4" : "clip(" + std::to_string(counter - 1) + ").mp4");
            std::error_code ignored;
            std::filesystem::create_symlink(round % 2 ? victim : neverCreated, name, ignored);
        }
    });
    std::vector<std::string> claims;
    for (int i = 0; i < 150; ++i) {
        std::string error;
        const auto claimed = claimOutputPath(folder, "clip.mp4", error);
        ASSERT_TRUE(claimed) << error;
        claims.push_back(*claimed);
    }
    stop = true;
    planter.join();

    expectDistinctEmptyClaims(claims, 150);
    EXPECT_EQ(fileDigest(victim), victimDigest);
    EXPECT_FALSE(std::filesystem::exists(neverCreated));
}

struct TakenCase {
    const char *name;
    std::function<void(const std::string &folder, const std::string &elsewhere)> plant;
};

void PrintTo(const TakenCase &c, std::ostream *os) { *os << c.name; }

class TakenName : public ::testing::TestWithParam<TakenCase> {};

// Whatever occupies the name (a link dangling or not, a folder, a pipe), the
// claim passes it by and leaves it as it was.
TEST_P(TakenName, IsPassedByAndLeftAlone) {
    const std::string folder = makeFolder(std::string("taken-") + GetParam().name);
    const std::string elsewhere = makeFolder(std::string("taken-target-") + GetParam().name);
    GetParam().plant(folder, elsewhere);
    const auto before = folderEntries(elsewhere);
    std::map<std::string, std::uint64_t> digests;
    for (const std::string &name : before)
        digests[name] = fileDigest(elsewhere + "/" + name);

    std::string error;
    EXPECT_EQ(claimOutputPath(folder, "/v/clip.mp4", error).value_or(error), folder + "/clip(0).mp4");
    EXPECT_EQ(folderEntries(elsewhere), before);
    for (const auto &[name, digest] : digests)
        EXPECT_EQ(fileDigest(elsewhere + "/" + name), digest) << name;
}

INSTANTIATE_TEST_SUITE_P(
    Occupants, TakenName,
    ::testing::Values(
        TakenCase{"dangling_link",
                  [](const std::string &f, const std::string &e) {
                      std::filesystem::create_symlink(e + "/missing.mp4", f + "/clip.mp4");
                  }},
        TakenCase{"link_to_a_file",
                  [](const std::string &f, const std::string &e) {
                      writeText(e + "/real.mp4", "real");
                      std::filesystem::create_symlink(e + "/real.mp4", f + "/clip.mp4");
                  }},
        TakenCase{"link_to_a_folder",
                  [](const std::string &f, const std::string &e) { std::filesystem::create_symlink(e, f + "/clip.mp4"); }},
        TakenCase{"link_loop",
                  [](const std::string &f, const std::string &) {
                      std::filesystem::create_symlink(f + "/clip.mp4", f + "/clip.mp4");
                  }},
        TakenCase{"named_pipe",
                  [](const std::string &f, const std::string &) { ::mkfifo((f + "/clip.mp4").c_str(), 0644); }}),
    [](const ::testing::TestParamInfo<TakenCase> &info) { return std::string(info.param.name); });

// The output folder is the video's own folder: the whole run never touches
// the video or the music, and the only new entry is the claimed output.
TEST(OutputClaim, OutputBesideTheInputsNeverTouchesThem) {
    const std::string folder = makeFolder("claim-same-folder");
    const std::string video = folder + "/clip.mp4";
    const std::string music = folder + "/music.mp3";
    std::filesystem::copy_file(sample("long-sound.mp4"), video);
    std::filesystem::copy_file(sample("music.mp3"), music);
    const std::uint64_t videoDigest = fileDigest(video);
    const std::uint64_t musicDigest = fileDigest(music);

    std::string error;
    const auto output = claimOutputPath(folder, video, error);
    ASSERT_TRUE(output) << error;
    EXPECT_EQ(*output, folder + "/clip(0).mp4");
    MixJob job;
    const MixOutcome outcome = watchedMix(job, video, music, *output);
    EXPECT_EQ(outcome.status, JobStatus::Finished) << outcome.error;

    EXPECT_EQ(fileDigest(video), videoDigest);
    EXPECT_EQ(fileDigest(music), musicDigest);
    EXPECT_EQ(folderEntries(folder), (std::vector<std::string>{"clip(0).mp4", "clip.mp4", "music.mp3"}));
    EXPECT_EQ(decodeErrors(*output), 0);
}

// The output's container follows the video's name. A name whose extension
// picks a container that writes files of its own (a playlist with segments,
// a numbered picture sequence) must not write anything but the claimed file,
// let alone overwrite the files already in the folder.
TEST(OutputClaim, OnlyTheClaimedFileIsWrittenWhateverTheVideosName) {
    for (const char *name : {"clip.m3u8", "clip.mpd", "clip.jpg", "clip"}) {
        SCOPED_TRACE(name);
        const std::string folder = makeFolder(std::string("claim-container-") + name);
        const std::string video = folder + "/" + name;
        std::filesystem::copy_file(sample("long-sound.mp4"), video); // an ordinary MP4 under that name
        // Names a segmenting container would pick for its pieces.
        for (const char *piece : {"clip(0)0.ts", "clip(0)1.ts", "clip(0)-0.m4s", "init-stream0.m4s",
                                  "chunk-stream0-00001.m4s", "clip(0).jpg"})
            writeText(folder + "/" + piece, std::string("precious ") + piece);
        std::map<std::string, std::uint64_t> digests;
        for (const std::string &entry : folderEntries(folder))
            digests[entry] = fileDigest(folder + "/" + entry);

        std::string error;
        const auto output = claimOutputPath(folder, video, error);
        ASSERT_TRUE(output) << error;
        MixJob job;
        const MixOutcome outcome = watchedMix(job, video, sample("music.mp3"), *output);
        EXPECT_FALSE(outcome.hung);

        std::vector<std::string> expected;
        for (const auto &[entry, digest] : digests) {
            expected.push_back(entry);
            EXPECT_EQ(fileDigest(folder + "/" + entry), digest) << entry << " changed (" << outcome.error << ")";
        }
        expected.push_back(std::filesystem::path(*output).filename().string());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(folderEntries(folder), expected) << "files beside the claimed output were written";
    }
}

} // namespace
} // namespace melvora::test
