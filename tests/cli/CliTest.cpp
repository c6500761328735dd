// Runs the melvora-cli program as a user would and checks exit codes,
// messages and outputs.

#include "MediaTool.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <set>
#include <vector>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
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
        makeMedia("-f lavfi -i testsrc=size=160x90:rate=25:duration=3 -f lavfi -i "
                  "anoisesrc=color=pink:amplitude=0.2:duration=3:seed=7 -c:v libx264 -preset ultrafast -c:a aac -ac 2 -shortest",
                  f + "/noise.mp4");
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

std::vector<std::string> linesOf(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

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

    // With --json, stdout holds events only: the start, progress up to 100
    // and one finished event naming the output, then the summary.
    const CommandResult json = cli("mix --json " + shellQuote(fixtures() + "/video.mp4") + " " +
                                   shellQuote(fixtures() + "/music.mp3") + " -o " + shellQuote(out) + " 2>/dev/null");
    ASSERT_EQ(json.exitCode, 0) << json.output;
    std::vector<std::string> kinds;
    for (const std::string &line : linesOf(json.output)) {
        // Strict JSON: a text that is not UTF-8 fails too.
        const auto event = nlohmann::json::parse(line, nullptr, false);
        ASSERT_TRUE(event.is_object()) << line;
        if (kinds.empty() || kinds.back() != event.at("event"))
            kinds.push_back(event.at("event"));
        if (event.at("event") == "finished") {
            EXPECT_EQ(event.at("output"), out + "/video(1).mp4");
        }
    }
    EXPECT_EQ(kinds, (std::vector<std::string>{"start", "progress", "finished", "summary"})) << json.output;
    EXPECT_NE(json.output.find("\"percent\": 100"), std::string::npos) << json.output;
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
    // Opening a pipe would wait for a writer that never comes.
    const std::string pipe = makeFolder("cli-pipes") + "/pipe.mp4";
    EXPECT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    struct Case {
        std::string arguments;
        std::string message;
        std::vector<std::string> events = {}; // --json: stdout alone, these event kinds in order
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
        {"mix " + shellQuote(pipe) + " " + music + " -o " + shellQuote(out), "not a regular file"},
        {"mix " + video + " " + shellQuote(pipe) + " -o " + shellQuote(out), "not a regular file"},
        {"mix " + video + " " + music + " -o " + shellQuote(out) + " --music-gain 30", "--music-gain"},
        {"mix " + video + " " + music + " -o " + shellQuote(out) + " --music-start 999",
         "--music-start 999 s is at or past the end of the music, which lasts"},
        {"mix " + video + " " + music + " -o " + shellQuote(out) + " --fade-out soon", "--fade-out"},
        {"mix " + video + " " + music + " -o " + shellQuote(out) + " --duck=0", "--duck"},
        {"mix " + video + " " + music + " -o " + shellQuote(out) + " --duck-hold 1", "they need --duck"},
        {"mix " + video + " " + music + " -o " + shellQuote(out) + " --true-peak -2", "it needs --loudness"},
        {"mix " + video + " " + music + " -o " + shellQuote(out) + " --no-loop --loop auto", "cannot be used together"},
        {"mix " + video + " " + music + " -o " + shellQuote(out) + " --loop sideways", "--loop"},
        // A value typed empty is refused, not taken as "not given", in either form and on either command.
        {"mix " + video + " " + music + " -o " + shellQuote(out) + " --music-gain ''", "--music-gain: empty value"},
        {"mix " + video + " " + music + " -o " + shellQuote(out) + " --delay= 2", "cli: --delay: empty value"},
        {"batch --music " + music + " -o '' " + video, "cli: -o,--output: empty value"},
        // A refusal of the whole batch is an event too, then the summary.
        {"batch --json --music /no/such.mp3 -o " + shellQuote(out) + " " + video,
         "\"video\": null, \"output\": null, \"reason\": \"music file not found",
         {"refused", "summary"}},
        {"batch --json --music " + music + " " + shellQuote(out), "no videos found", {"refused", "summary"}},
        // A name that is not UTF-8 (Latin-1 here) still gives a JSON line, each bad byte as U+FFFD.
        {"mix --json /no/caf\xe9.mp4 " + music + " -o " + shellQuote(out),
         "{\"event\": \"refused\", \"video\": \"/no/caf\xef\xbf\xbd.mp4\", \"output\": null, "
         "\"reason\": \"video file not found: /no/caf\xef\xbf\xbd.mp4\"}\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.arguments);
        const std::string command = shellQuote(kCli) + " " + c.arguments;
        const CommandResult result = runCommand(c.events.empty() ? command : "( " + command + " 2>/dev/null )");
        EXPECT_EQ(result.exitCode, 2) << result.output;
        EXPECT_NE(result.output.find(c.message), std::string::npos) << result.output;
        std::vector<std::string> kinds;
        for (const std::string &line : linesOf(c.events.empty() ? "" : result.output))
            kinds.push_back(nlohmann::json::parse(line).at("event")); // strict: throws on anything else
        EXPECT_EQ(kinds, c.events) << result.output;
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
        {"--duck 12 --duck-on any", "video.mp4", {{0.5, 2, 1000, -200, -6}}},
        {"--duck --duck-on any --duck-lookahead 0.5 --duck-hold 0.2", "video.mp4", {{0.5, 2, 1000, -200, -6}}},
        {"--duck", "video.mp4", {{0.5, 2, 1000, -1.5, 1.5}}}, // a steady tone is no speech
        // A steady tone has no seam to jump or loop at: the fit fades out at the end, the loop stays the file's.
        {"--fit", "silent.mp4", {{0.2, 0.3, 1000, -1.5, 1.5}, {2.6, 0.3, 1000, -200, -10}}},
        {"--loop auto", "video.mp4", {{0.5, 2, 1000, -1.5, 1.5}}},
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

// A loudness target for the music sets its level; one for the whole mix
// measures the mix first and brings the output there, under the true-peak
// ceiling as the decoded AAC has it (which the run measures and reports
// too), taking a second measuring pass where the limiter has work to do,
// and encoding again where the written peaks went over the ceiling.
TEST(CliMix, LoudnessTargetsAreMetAndReported) {
    struct Case {
        const char *video;
        const char *options;
        const char *report;
        double lufs, tolerance, truePeakAtMost;
    };
    const Case cases[] = {
        {"silent.mp4", "--music-loudness -30", "LUFS, music level set to", -30, 1.5, 0},
        {"video.mp4", "--loudness -16", "dBTP under the -1 dBTP ceiling (1 measuring pass)", -16, 0.5, -1},
        // Noise peaks 10 dB over its loudness: the limiter works, and the gain makes up for it. Held
        // that hard, the encoder's noise lifts its peaks over the ceiling, and encoding again with
        // the limit lowered by as much brings them under it.
        {"noise.mp4", "--music-gain -30 --loudness -12 --true-peak -3", " measuring passes", -12, 0.5, -3},
        // Two tones peak only a few dB over their loudness: held at the ceiling, they fall well
        // short of the target, and say so.
        {"video.mp4", "--music-gain 6 --loudness -5 --true-peak -9", "the true-peak ceiling of -9 dBTP holds it",
         -11, 2, -9},
    };
    int row = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.options);
        const std::string out = makeFolder("cli-loudness-" + std::to_string(row++));
        const CommandResult result = cli("mix " + shellQuote(fixtures() + "/" + c.video) + " " +
                                         shellQuote(fixtures() + "/music.mp3") + " -o " + shellQuote(out) + " " +
                                         c.options + " 2>&1");
        ASSERT_EQ(result.exitCode, 0) << result.output;
        EXPECT_NE(result.output.find(c.report), std::string::npos) << result.output;
        // Encoding again leaves no earlier file beside the output.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out), {}), 1) << result.output;
        const CommandResult measured = runCommand("ffmpeg -hide_banner -nostdin -i " +
                                                  shellQuote(out + "/" + c.video) +
                                                  " -vn -af ebur128=peak=true -f null - 2>&1");
        const auto at = measured.output.rfind("I:");
        ASSERT_NE(at, std::string::npos) << measured.output;
        EXPECT_NEAR(std::stod(measured.output.substr(at + 2)), c.lufs, c.tolerance);
        const auto peak = measured.output.rfind("Peak:");
        ASSERT_NE(peak, std::string::npos) << measured.output;
        const double truePeak = std::stod(measured.output.substr(peak + 5));
        EXPECT_LE(truePeak, c.truePeakAtMost) << measured.output;
        if (const auto told = result.output.find("true peak "); told != std::string::npos) {
            EXPECT_NEAR(std::stod(result.output.substr(told + 10)), truePeak, 0.2) << result.output;
        }
    }
}

// A folder of clips with other files and a sub-folder, plus a named file
// that is no video: the good clips are mixed, the bad one is reported and
// gets no output, whether as text or as JSON events, one video or two at once.
TEST(CliBatch, MixesEveryVideoAndReportsTheBadOne) {
    const std::string clips = makeFolder("batch-clips");
    std::filesystem::create_directories(clips + "/more");
    for (const char *name : {"/a.mp4", "/b.mp4", "/more/c.mp4"})
        std::filesystem::copy_file(fixtures() + "/video.mp4", clips + name);
    std::filesystem::copy_file(fixtures() + "/music.mp3", clips + "/song.mp3");
    std::ofstream(clips + "/notes.txt") << "not a video\n";
    const std::string bad = clips + "/more/broken.mp4";
    std::ofstream(bad) << "not a video either\n";

    struct Case {
        std::string options;
        std::vector<std::string> outputs;
    };
    const Case cases[] = {
        {"", {"a.mp4", "b.mp4"}},
        {"-j 2 --json", {"a.mp4", "b.mp4"}},
        {"-r -j 2 --music-loudness -30", {"a.mp4", "b.mp4", "c.mp4"}},
    };
    int run = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.options);
        const std::string out = makeFolder("batch-out-" + std::to_string(run++));
        const bool json = c.options.find("--json") != std::string::npos;
        const CommandResult result =
            runCommand(shellQuote(kCli) + " batch --music " + shellQuote(fixtures() + "/music.mp3") + " -o " +
                       shellQuote(out) + " " + c.options + " " + shellQuote(clips) + " " + shellQuote(bad) +
                       (json ? " 2>/dev/null" : " 2>&1"));
        EXPECT_EQ(result.exitCode, 1) << result.output;

        std::set<std::string> written;
        for (const auto &entry : std::filesystem::directory_iterator(out))
            written.insert(entry.path().filename().string());
        EXPECT_EQ(written, std::set<std::string>(c.outputs.begin(), c.outputs.end()));
        for (const std::string &name : c.outputs) {
            EXPECT_EQ(decodeErrors(out + "/" + name), 0) << name;
            EXPECT_EQ(streamSummary(out + "/" + name),
                      (std::vector<std::string>{"video h264", "audio aac 44100 2"}))
                << name;
            EXPECT_EQ(videoPacketChecksums(out + "/" + name), videoPacketChecksums(fixtures() + "/video.mp4"))
                << name;
        }

        if (!json) {
            EXPECT_NE(result.output.find("refused   " + bad + ": not a valid video file"), std::string::npos)
                << result.output;
            EXPECT_NE(result.output.find(std::to_string(c.outputs.size()) + " finished, 0 failed, 1 refused"),
                      std::string::npos)
                << result.output;
            EXPECT_EQ(result.output.find("notes.txt"), std::string::npos) << result.output;
            // Each video's run is reported as mix reports it, the music's loudness too.
            if (c.options.find("--music-loudness") != std::string::npos) {
                EXPECT_NE(result.output.find("loudness " + clips + "/more/c.mp4: music loudness "), std::string::npos)
                    << result.output;
            }
            continue;
        }
        // Every line is one JSON object; each video ends with exactly one
        // final event, and the summary comes last.
        std::map<std::string, std::vector<std::string>> finalEvents;
        const std::vector<std::string> lines = linesOf(result.output);
        ASSERT_FALSE(lines.empty());
        for (const std::string &line : lines) {
            const auto event = nlohmann::json::parse(line, nullptr, false);
            ASSERT_TRUE(event.is_object()) << line;
            const std::string kind = event.at("event");
            if (kind == "finished" || kind == "failed" || kind == "refused")
                finalEvents[event.at("video").get<std::string>()].push_back(kind);
        }
        const auto summary = nlohmann::json::parse(lines.back());
        EXPECT_EQ(summary.at("event"), "summary");
        EXPECT_EQ(summary.at("finished"), 2);
        EXPECT_EQ(summary.at("refused"), 1);
        EXPECT_EQ(finalEvents.size(), 3u);
        EXPECT_EQ(finalEvents[bad], std::vector<std::string>{"refused"});
        for (const char *name : {"/a.mp4", "/b.mp4"})
            EXPECT_EQ(finalEvents[clips + name], std::vector<std::string>{"finished"});
    }
}

// A stop finalises what is being written; a batch starts no further video. One
// pending at launch (blocked, as a launcher may leave it) starts nothing.
TEST(CliStop, InterruptFinalisesTheOutputAndExits130) {
    const std::string second = makeFolder("cli-interrupt-second") + "/later.mp4";
    std::filesystem::copy_file(fixtures() + "/long.mp4", second);
    const std::string long_ = fixtures() + "/long.mp4";
    const std::string music = fixtures() + "/music.mp3";
    const std::vector<std::vector<std::string>> commands = {
        {"mix", long_, music, "-o"},
        {"batch", "--music", music, long_, second, "-o"},
        {"batch", "--json", "--music", music, long_, second, "-o"}, // the stop comes first
        {"mix", long_, music, "-o"},                                   // killed
        {"mix", long_, music, "--loudness", "-14", "-o"},             // stopped while the mix is measured
    };
    const int signals[] = {SIGINT, SIGINT, SIGINT, SIGKILL, SIGINT};
    int run = 0;
    for (std::vector<std::string> arguments : commands) {
        const bool stopFirst = arguments[1] == "--json";
        const int signal = signals[run];
        SCOPED_TRACE(arguments[0] + (stopFirst ? " stopped first" : "") + (signal == SIGKILL ? " killed" : ""));
        const std::string out = makeFolder("cli-interrupt-" + std::to_string(run++));
        const std::string events = out + ".json";
        arguments.push_back(out);
        int toParent[2];
        ASSERT_EQ(::pipe(toParent), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::dup2(toParent[1], STDERR_FILENO);
            ::dup2(::open(events.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
            ::close(toParent[0]);
            sigset_t stop;
            if (stopFirst && sigemptyset(&stop) == 0 && sigaddset(&stop, SIGINT) == 0 &&
                ::sigprocmask(SIG_BLOCK, &stop, nullptr) == 0)
                ::kill(::getpid(), SIGINT); // pending: it arrives once the program takes it in
            std::vector<char *> argv{const_cast<char *>(kCli.c_str())};
            for (std::string &argument : arguments)
                argv.push_back(argument.data());
            argv.push_back(nullptr);
            ::execv(kCli.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(toParent[1]);
        // Wait until the first percent is written (both print a line for every
        // whole percent), then interrupt.
        const std::string underWay = "\n1%";
        std::string seen = "\n";
        char buffer[64];
        ssize_t count = 0;
        while (!stopFirst && seen.find(underWay) == std::string::npos &&
               (count = ::read(toParent[0], buffer, sizeof buffer)) > 0)
            seen.append(buffer, static_cast<size_t>(count));
        if (!stopFirst)
            ::kill(child, signal);
        while ((count = ::read(toParent[0], buffer, sizeof buffer)) > 0)
            seen.append(buffer, static_cast<size_t>(count));
        ::close(toParent[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        if (signal == SIGKILL) { // under the final name only the empty placeholder; the work is hidden beside it
            EXPECT_TRUE(WIFSIGNALED(status));
            EXPECT_EQ(std::filesystem::file_size(out + "/long.mp4"), 0u);
            EXPECT_TRUE(std::filesystem::exists(out + "/.long.mp4.part"));
            continue;
        }
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 130);
        if (arguments[3] == "--loudness") { // nothing written yet, and no output named
            EXPECT_TRUE(std::filesystem::is_empty(out));
            EXPECT_NE(seen.find("stopped before any of it was written"), std::string::npos) << seen;
            continue;
        }
        if (stopFirst) { // each video notStarted, then a summary that counts them, stopped
            EXPECT_TRUE(std::filesystem::is_empty(out));
            std::vector<std::string> kinds;
            std::ifstream stream(events);
            nlohmann::json event;
            for (std::string line; std::getline(stream, line); kinds.push_back(event.at("event")))
                event = nlohmann::json::parse(line); // strict: throws on anything else
            EXPECT_EQ(kinds, (std::vector<std::string>{"notStarted", "notStarted", "summary"}));
            EXPECT_EQ(event.value("notStarted", 0) + 1, static_cast<int>(kinds.size())) << event;
            EXPECT_TRUE(event.value("stopped", false)) << event;
            continue;
        }
        EXPECT_LT(durationSeconds(out + "/long.mp4"), 100.0);
        EXPECT_EQ(decodeErrors(out + "/long.mp4"), 0);
        EXPECT_FALSE(std::filesystem::exists(out + "/later.mp4"));
    }
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
