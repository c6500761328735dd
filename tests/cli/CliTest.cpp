// Runs the melvora-cli program as a user would and checks exit codes,
// messages and outputs.

#include "MediaTool.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace melvora::test {
namespace {

const std::string kCli = MELVORA_CLI_PATH;

std::string fixtures() {
    static const std::string folder = [] {
        const std::string f = makeFolder("cli-fixtures");
        makeMedia("-f lavfi -i testsrc=size=160x90:rate=25:duration=3 -f lavfi -i sine=frequency=440:duration=3 "
                  "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -shortest",
                  f + "/video.mp4");
        // Long enough that encoding its sound outlasts the interrupt by far.
        makeMedia("-f lavfi -i testsrc=size=64x36:rate=5:duration=120 -f lavfi -i sine=frequency=440:duration=120 "
                  "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -shortest",
                  f + "/long.mp4");
        makeMedia("-f lavfi -i sine=frequency=1000:duration=1 -ac 2 -c:a libmp3lame", f + "/music.mp3");
        makeMedia("-f lavfi -i testsrc=size=160x90:rate=25:duration=3 -c:v libx264 -preset ultrafast "
                  "-pix_fmt yuv420p",
                  f + "/silent.mp4");
        makeMedia("-f lavfi -i testsrc=size=64x64:rate=1:duration=1 -frames:v 1", f + "/picture.png");
        return f;
    }();
    return folder;
}

std::string lastLine(const std::string &text) {
    std::istringstream lines(text);
    std::string line, last;
    while (std::getline(lines, line))
        if (!line.empty())
            last = line;
    return last;
}

CommandResult cli(const std::string &arguments) { return runCommand(shellQuote(kCli) + " " + arguments); }

TEST(CliMix, WritesTheMixAndPrintsItsPath) {
    const std::string out = makeFolder("cli-out");
    const CommandResult first =
        cli("mix " + shellQuote(fixtures() + "/video.mp4") + " " + shellQuote(fixtures() + "/music.mp3") + " -o " +
            shellQuote(out) + " 2>/dev/null");
    ASSERT_EQ(first.exitCode, 0) << first.output;
    EXPECT_EQ(lastLine(first.output), out + "/video.mp4");
    EXPECT_EQ(decodeErrors(out + "/video.mp4"), 0);

    // A second mix never overwrites the first.
    const CommandResult second = cli("mix " + shellQuote(fixtures() + "/video.mp4") + " " +
                                     shellQuote(fixtures() + "/music.mp3") + " -o " + shellQuote(out) + " 2>/dev/null");
    ASSERT_EQ(second.exitCode, 0) << second.output;
    EXPECT_EQ(lastLine(second.output), out + "/video(0).mp4");
}

TEST(CliMix, DefaultsToTheVideosFolderAndShowsProgress) {
    const std::string folder = makeFolder("cli-default-folder");
    std::filesystem::copy_file(fixtures() + "/video.mp4", folder + "/clip.mp4");
    const CommandResult result = runCommand("( " + shellQuote(kCli) + " mix " + shellQuote(folder + "/clip.mp4") +
                                            " " + shellQuote(fixtures() + "/music.mp3") + " 2>&1 >/dev/null )");
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_TRUE(std::filesystem::exists(folder + "/clip(0).mp4"));
    EXPECT_NE(result.output.find("100%"), std::string::npos) << result.output;
}

// Refusals exit 2 with a message naming the problem, before any output exists.
TEST(CliMix, RefusesBadInputsBeforeAnyWork) {
    const std::string out = makeFolder("cli-refused");
    const std::string video = shellQuote(fixtures() + "/video.mp4");
    const std::string music = shellQuote(fixtures() + "/music.mp3");
    struct Case {
        std::string arguments;
        std::string message;
    };
    const Case cases[] = {
        {"mix", "VIDEO"},
        {"mix " + video, "MUSIC"},
        {"frobnicate", "subcommand"},
        {"mix /no/such.mp4 " + music + " -o " + shellQuote(out), "video file not found"},
        {"mix " + video + " /no/such.mp3 -o " + shellQuote(out), "music file not found"},
        {"mix " + video + " " + music + " -o /no/such/folder", "output folder not found"},
        {"mix " + music + " " + music + " -o " + shellQuote(out), "not a valid video file"},
        {"mix " + video + " " + shellQuote(fixtures() + "/picture.png") + " -o " + shellQuote(out),
         "not a valid audio file"},
        {"mix " + video + " " + music + " -o " + shellQuote(out) + " --music-gain 30", "--music-gain"},
        {"mix " + video + " " + music + " -o " + shellQuote(out) + " --fade-out soon", "--fade-out"},
        {"mix " + video + " " + music + " -o " + shellQuote(out) + " --duck=0", "--duck"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.arguments);
        const CommandResult result = cli(c.arguments);
        EXPECT_EQ(result.exitCode, 2) << result.output;
        EXPECT_NE(result.output.find(c.message), std::string::npos) << result.output;
    }
    EXPECT_TRUE(std::filesystem::is_empty(out));
}

// An output that cannot grow (a file-size limit, as on a full disk) ends the
// run as failed with the reason, not killed by the signal, and leaves nothing.
TEST(CliMix, WriteFailureExitsOneWithTheReason) {
    const std::string folder = makeFolder("cli-failure");
    const CommandResult result =
        runCommand("( ulimit -f 40; " + shellQuote(kCli) + " mix " + shellQuote(fixtures() + "/long.mp4") + " " +
                   shellQuote(fixtures() + "/music.mp3") + " -o " + shellQuote(folder) + " 2>&1 >/dev/null )");
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_NE(result.output.find("mix failed"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("File too large"), std::string::npos) << result.output;
    EXPECT_TRUE(std::filesystem::is_empty(folder));
}

// The mix controls, from the command line to the sound, judged by the level
// of each tone in time windows of the output: the video's own 440 Hz, the
// music's 1000 Hz (1 s long, so looped).
TEST(CliMix, MixControlsShapeTheSound) {
    struct Window {
        double start, length;
        int frequency;
        double atLeastDb, atMostDb; // against the same window of the plain mix
    };
    struct Case {
        const char *options;
        const char *video;
        std::vector<Window> windows;
    };
    const double plainMusicLevel = -6.02; // amix halves each input
    const Case cases[] = {
        {"--music-gain -20", "video.mp4", {{0.5, 2, 1000, -20 - plainMusicLevel - 1.5, -20 - plainMusicLevel + 1.5}}},
        {"--own-gain -12", "video.mp4", {{0.5, 2, 440, -12 - plainMusicLevel - 1.5, -12 - plainMusicLevel + 1.5}}},
        {"--replace", "video.mp4", {{0.5, 2, 440, -200, -20}, {0.5, 2, 1000, 6.02 - 1.5, 6.02 + 1.5}}},
        {"--delay 1.5", "video.mp4", {{0.2, 1, 1000, -200, -30}, {2, 0.8, 1000, -1.5, 1.5}}},
        {"--no-loop", "video.mp4", {{1.3, 1.4, 1000, -200, -30}}},
        {"--music-start 0.5 --no-loop", "video.mp4", {{0.1, 0.3, 1000, -1.5, 1.5}, {0.7, 1.5, 1000, -200, -30}}},
        {"--fade-out 2", "silent.mp4", {{0.2, 0.6, 1000, -1.5, 1.5}, {2.5, 0.5, 1000, -200, -15}}},
        {"--duck 12", "video.mp4", {{0.5, 2, 1000, -200, -6}}},
    };
    const std::string plainFolder = makeFolder("cli-controls-plain");
    std::map<std::string, std::string> plain;
    for (const char *video : {"video.mp4", "silent.mp4"}) {
        ASSERT_EQ(cli("mix " + shellQuote(fixtures() + "/" + video) + " " + shellQuote(fixtures() + "/music.mp3") +
                      " -o " + shellQuote(plainFolder) + " 2>/dev/null")
                      .exitCode,
                  0);
        plain[video] = plainFolder + "/" + video;
    }
    int index = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.options);
        const std::string out = makeFolder("cli-controls-" + std::to_string(index++));
        const CommandResult result = cli("mix " + shellQuote(fixtures() + "/" + c.video) + " " +
                                         shellQuote(fixtures() + "/music.mp3") + " -o " + shellQuote(out) + " " +
                                         c.options + " 2>&1");
        ASSERT_EQ(result.exitCode, 0) << result.output;
        const std::string output = out + "/" + c.video;
        for (const Window &w : c.windows) {
            const double difference = toneLevelDb(output, w.start, w.length, w.frequency) -
                                      toneLevelDb(plain[c.video], w.start, w.length, w.frequency);
            EXPECT_GE(difference, w.atLeastDb) << w.frequency << " Hz at " << w.start << " s";
            EXPECT_LE(difference, w.atMostDb) << w.frequency << " Hz at " << w.start << " s";
        }
    }
}

// A loudness target measures the music and sets its level: the bed sits at
// the target, and the measured value and the level are reported.
TEST(CliMix, MusicLoudnessBringsTheMusicToTheTarget) {
    const std::string out = makeFolder("cli-loudness");
    const CommandResult result = cli("mix " + shellQuote(fixtures() + "/silent.mp4") + " " +
                                     shellQuote(fixtures() + "/music.mp3") + " -o " + shellQuote(out) +
                                     " --music-loudness -30 2>&1");
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("LUFS, music level set to"), std::string::npos) << result.output;
    const CommandResult measured = runCommand("ffmpeg -hide_banner -nostdin -i " + shellQuote(out + "/silent.mp4") +
                                              " -vn -af ebur128 -f null - 2>&1");
    const auto at = measured.output.rfind("I:");
    ASSERT_NE(at, std::string::npos) << measured.output;
    EXPECT_NEAR(std::stod(measured.output.substr(at + 2)), -30.0, 1.5);
}

TEST(CliMix, InterruptFinalisesTheOutputAndExits130) {
    const std::string out = makeFolder("cli-interrupt");
    int toParent[2];
    ASSERT_EQ(::pipe(toParent), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::dup2(toParent[1], STDERR_FILENO);
        const int devNull = ::open("/dev/null", O_WRONLY);
        ::dup2(devNull, STDOUT_FILENO);
        ::close(toParent[0]);
        ::execl(kCli.c_str(), kCli.c_str(), "mix", (fixtures() + "/long.mp4").c_str(),
                (fixtures() + "/music.mp3").c_str(), "-o", out.c_str(), static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(toParent[1]);
    // Wait for the first progress line, then interrupt.
    std::string seen;
    char buffer[64];
    ssize_t count = 0;
    while (seen.find("1%") == std::string::npos && (count = ::read(toParent[0], buffer, sizeof buffer)) > 0)
        seen.append(buffer, static_cast<size_t>(count));
    ::kill(child, SIGINT);
    while (::read(toParent[0], buffer, sizeof buffer) > 0) {
    }
    ::close(toParent[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    const int code = WEXITSTATUS(status);
    EXPECT_EQ(code, 130);
    EXPECT_LT(durationSeconds(out + "/long.mp4"), 100.0);
    EXPECT_EQ(decodeErrors(out + "/long.mp4"), 0);
}

TEST(CliProbe, PrintsJsonAndExitsByResult) {
    const CommandResult video = cli("probe " + shellQuote(fixtures() + "/video.mp4"));
    EXPECT_EQ(video.exitCode, 0);
    for (const char *expected : {"\"result\": 0", "\"videoWidth\": 160", "\"videoHeight\": 90",
                                 "\"frameRateNum\": 25", "\"frameRateDen\": 1", "\"startTime\": 0"})
        EXPECT_NE(video.output.find(expected), std::string::npos) << expected << " in " << video.output;

    const CommandResult musicAsVideo = cli("probe " + shellQuote(fixtures() + "/music.mp3"));
    EXPECT_EQ(musicAsVideo.exitCode, 1);
    EXPECT_NE(musicAsVideo.output.find("\"result\": -1"), std::string::npos);

    const CommandResult music = cli("probe --audio " + shellQuote(fixtures() + "/music.mp3"));
    EXPECT_EQ(music.exitCode, 0);
    EXPECT_NE(music.output.find("\"audioSampleRate\": 44100"), std::string::npos) << music.output;
}

} // namespace
} // namespace melvora::test
