// The installed tree, as a user's machine gets it, run where it was installed (a DESTDIR, so
// also relocated): its files, the validators, both programs and where the window keeps its
// settings.

#include "config/LanguageKeys.h"
#include "config/LanguageTexts.h"
#include "config/SettingKeys.h"
#include "config/Settings.h"
#include "controls/CHyperLink.h"
#include "mainwindow/CTonvexDlg.h"
#include "platform/ExecutableFolder.h"
#include "platform/ScriptedDesktop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace melvora {
namespace {

namespace fs = std::filesystem;

const fs::path kPrefix = MELVORA_INSTALL_PREFIX;
const std::string kAppId = MELVORA_APP_ID;

std::string readFile(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

fs::path freshFolder(const std::string &name) {
    const fs::path folder = fs::temp_directory_path() / ("melvora-install-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

struct ProgramRun {
    int exitCode = -1;
    std::string output; // stdout and stderr together
};

// Starts a program with extra environment; stdout and stderr go to a file.
pid_t spawn(const std::vector<std::string> &command, const std::vector<std::string> &extraEnvironment,
            const fs::path &outputFile, const fs::path &workingFolder) {
    std::vector<std::string> environment(extraEnvironment);
    for (char **entry = environ; *entry; ++entry)
        environment.emplace_back(*entry); // the first of a name wins for getenv
    std::vector<char *> argv, envp;
    for (const std::string &word : command)
        argv.push_back(const_cast<char *>(word.c_str()));
    argv.push_back(nullptr);
    for (const std::string &entry : environment)
        envp.push_back(const_cast<char *>(entry.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
    pid_t pid = -1;
    const int started = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return started == 0 ? pid : -1;
}

int waitForExit(pid_t pid, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

ProgramRun runToEnd(const std::vector<std::string> &command, const std::vector<std::string> &environment,
                    const fs::path &workingFolder) {
    const fs::path outputFile = workingFolder / "output.txt";
    ProgramRun run;
    const pid_t pid = spawn(command, environment, outputFile, workingFolder);
    if (pid < 0)
        return run;
    run.exitCode = waitForExit(pid, std::chrono::seconds(120));
    run.output = readFile(outputFile);
    return run;
}

// Whether the process has its own handler for the signal yet (SigCgt in /proc/PID/status).
bool catchesSignal(pid_t pid, int signal) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("SigCgt:", 0) == 0)
            return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
    }
    return false;
}

// The installed window, started offscreen and closed the way a session's end closes it.
ProgramRun runWindowUntilTerminated(const std::vector<std::string> &environment, const fs::path &workingFolder) {
    const fs::path outputFile = workingFolder / "window.txt";
    ProgramRun run;
    const pid_t pid = spawn({(kPrefix / "bin/melvora").string()}, environment, outputFile, workingFolder);
    if (pid < 0)
        return run;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!catchesSignal(pid, SIGTERM) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::kill(pid, SIGTERM);
    run.exitCode = waitForExit(pid, std::chrono::seconds(60));
    run.output = readFile(outputFile);
    return run;
}

std::optional<fs::path> findProgram(const std::string &name) {
    std::istringstream path(std::getenv("PATH") ? std::getenv("PATH") : "");
    for (std::string folder; std::getline(path, folder, ':');) {
        if (!folder.empty() && ::access((fs::path(folder) / name).c_str(), X_OK) == 0)
            return fs::path(folder) / name;
    }
    return std::nullopt;
}

TEST(InstallTree, HoldsTheProgramsTheirDataAndTheDesktopFiles) {
    const std::vector<std::string> files = {
        "bin/melvora",
        "bin/melvora-cli",
        "share/melvora/setting.ini",
        "share/melvora/help/index.html",
        "share/melvora/samples/sample-video.mp4",
        "share/melvora/samples/sample-music.mp3",
        "share/melvora/languages/english.ini",
        "share/melvora/languages/chinese.ini",
        "share/applications/" + kAppId + ".desktop",
        "share/metainfo/" + kAppId + ".metainfo.xml",
        "share/icons/hicolor/scalable/apps/" + kAppId + ".svg",
        "share/icons/hicolor/48x48/apps/" + kAppId + ".png",
        "share/icons/hicolor/128x128/apps/" + kAppId + ".png",
        "share/icons/hicolor/256x256/apps/" + kAppId + ".png",
        "share/man/man1/melvora-cli.1.gz",
        "share/doc/melvora/copyright",
    };
    for (const std::string &file : files)
        EXPECT_TRUE(fs::is_regular_file(kPrefix / file)) << file;
    // Nothing of a user's state is shipped beside the programs.
    EXPECT_FALSE(fs::exists(kPrefix / "bin/setting.ini"));
    EXPECT_FALSE(fs::exists(kPrefix / "bin/languages"));
    EXPECT_NE(readFile(kPrefix / "share/melvora/setting.ini").find("name7="), std::string::npos);

    // The help page describes every mix setting by its key, with the pictures it shows.
    const std::string help = readFile(kPrefix / "share/melvora/help/index.html");
    using namespace settingkeys;
    for (const IniKey &key :
         {mixMusicGain, mixOwnGain, mixReplace, mixFadeIn, mixFadeOut, mixDelay, mixMusicStart, mixLoop, mixCrossfade,
          mixDuck, mixMusicLoudness, mixDuckLookahead, mixDuckHold, mixDuckOn, mixLoudness, mixTruePeak, mixFit})
        EXPECT_NE(help.find("<code>" + std::string(key.key)), std::string::npos) << key.key;
    // ... and every option of a mix, as --help gives them.
    const fs::path folder = freshFolder("help");
    const ProgramRun options = runToEnd({(kPrefix / "bin/melvora-cli").string(), "mix", "--help"}, {}, folder);
    EXPECT_NE(options.output.find("--fit"), std::string::npos) << options.output;
    for (std::size_t at = options.output.find("\n  --"); at != std::string::npos;
         at = options.output.find("\n  --", at + 1)) {
        const std::string option = options.output.substr(at + 3, options.output.find_first_of(" =[\n", at + 3) - at - 3);
        if (option != "--help") {
            EXPECT_NE(help.find("<code>" + option), std::string::npos) << option;
        }
    }
    fs::remove_all(folder);
    for (const char *picture : {"main-window.png", "mix-settings.png"})
        EXPECT_TRUE(fs::is_regular_file(kPrefix / "share/melvora/help" / picture)) << picture;
}

// The title (from the shipped language files), both programs' --version, the man pages and the
// metainfo tell the one project version; the package takes it from the same place.
TEST(InstallTree, TellsOneVersionEverywhere) {
    const std::string version = MELVORA_VERSION;
    const fs::path folder = freshFolder("version");
    for (const char *program : {"melvora", "melvora-cli"}) {
        const ProgramRun run = runToEnd({(kPrefix / "bin" / program).string(), "--version"}, {}, folder);
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_NE(run.output.find(std::string(program) + " " + version + "\n"), std::string::npos) << run.output;
        const ProgramRun page =
            runToEnd({"/bin/gzip", "-dc", (kPrefix / "share/man/man1" / (std::string(program) + ".1.gz")).string()},
                     {}, folder);
        EXPECT_NE(page.output.find("\"" + std::string(program) + " " + version + "\""), std::string::npos) << program;
    }
    for (const auto &entry : fs::directory_iterator(kPrefix / "share/melvora/languages"))
        EXPECT_NE(readFile(entry.path()).find("\nversion=" + version + "\n"), std::string::npos) << entry.path();
    EXPECT_NE(readFile(kPrefix / "share/metainfo" / (kAppId + ".metainfo.xml")).find("release version=\"" + version),
              std::string::npos);
    fs::remove_all(folder);
}

// The man pages are made from --help: every option that a program or one of its commands names
// there is on its page.
TEST(InstallTree, ManPagesListEveryOptionOfTheHelp) {
    const fs::path folder = freshFolder("man");
    const std::pair<const char *, std::vector<std::string>> programs[] = {
        {"melvora", {""}}, {"melvora-cli", {"", "mix", "batch", "demo", "probe"}}};
    for (const auto &[program, commands] : programs) {
        const std::string page =
            runToEnd({"/bin/gzip", "-dc", (kPrefix / "share/man/man1" / (std::string(program) + ".1.gz")).string()},
                     {}, folder)
                .output;
        int options = 0;
        for (const std::string &command : commands) {
            std::vector<std::string> call = {(kPrefix / "bin" / program).string()};
            if (!command.empty())
                call.push_back(command);
            call.push_back("--help");
            const std::string help = runToEnd(call, {}, folder).output;
            static const std::regex option("--[a-z][a-z-]*");
            for (auto it = std::sregex_iterator(help.begin(), help.end(), option); it != std::sregex_iterator(); ++it) {
                std::string escaped;
                for (char c : it->str())
                    escaped += c == '-' ? std::string("\\-") : std::string(1, c);
                EXPECT_NE(page.find(escaped), std::string::npos) << program << " " << command << ": " << it->str();
                ++options;
            }
        }
        EXPECT_GT(options, 3) << program;
    }
    fs::remove_all(folder);
}

struct Validator {
    const char *program;
    std::vector<std::string> arguments;
    std::string file;
};

void PrintTo(const Validator &row, std::ostream *out) {
    *out << row.program;
}

class InstalledFileValidation : public ::testing::TestWithParam<Validator> {};

TEST_P(InstalledFileValidation, Passes) {
    const Validator &row = GetParam();
    const std::optional<fs::path> program = findProgram(row.program);
    if (!program)
        GTEST_SKIP() << row.program << " is not installed";
    const fs::path folder = freshFolder(row.program);
    std::vector<std::string> command = {program->string()};
    command.insert(command.end(), row.arguments.begin(), row.arguments.end());
    command.push_back((kPrefix / row.file).string());
    const ProgramRun run = runToEnd(command, {}, folder);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    fs::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(
    Validators, InstalledFileValidation,
    ::testing::Values(Validator{"desktop-file-validate", {}, "share/applications/" + kAppId + ".desktop"},
                      Validator{
                          "appstreamcli", {"validate", "--no-net"}, "share/metainfo/" + kAppId + ".metainfo.xml"}),
    [](const auto &info) { return std::string(info.param.program[0] == 'd' ? "desktop_file" : "metainfo"); });

// The command-line program, run from the install tree, finds its samples there: FFmpeg's stream
// dump (-v) names the file it opened.
TEST(InstalledCli, DemoMixesTheInstalledSamples) {
    const fs::path folder = freshFolder("demo");
    const ProgramRun run = runToEnd({(kPrefix / "bin/melvora-cli").string(), "-v", "demo", "-o", "mixed"}, {}, folder);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_GT(fs::file_size(folder / "mixed/sample-video.mp4"), 0u);
    const fs::path installedVideo = (kPrefix / "share/melvora/samples/sample-video.mp4").lexically_normal();
    EXPECT_NE(run.output.find("'" + installedVideo.string() + "'"), std::string::npos) << run.output;
    fs::remove_all(folder);
}

// The installed window keeps its settings in the user's folder: created from the installed
// defaults at the first write, read back by the next run; the install tree stays as shipped.
TEST(InstalledWindow, KeepsItsSettingsInTheUserFolder) {
    const fs::path folder = freshFolder("window");
    const fs::path config = folder / "config";
    // A desktop in the C locale: the first start writes English.
    const std::vector<std::string> environment = {"XDG_CONFIG_HOME=" + config.string(),
                                                  "HOME=" + (folder / "home").string(), "QT_QPA_PLATFORM=offscreen",
                                                  "LC_ALL=C.UTF-8"};
    const std::string shippedDefaults = readFile(kPrefix / "share/melvora/setting.ini");
    const fs::path userSettings = config / "melvora/setting.ini";

    const ProgramRun first = runWindowUntilTerminated(environment, folder);
    EXPECT_EQ(first.exitCode, 0) << first.output;
    const std::string afterFirst = readFile(userSettings);
    EXPECT_NE(afterFirst.find("file=english.ini"), std::string::npos) << afterFirst;
    EXPECT_NE(afterFirst.find("quality=0"), std::string::npos) << afterFirst;

    // A choice the user made is there at the next start and survives its close.
    std::ofstream(userSettings, std::ios::app) << "[PATH]\nname=" << folder.string() << "\n";
    std::string withSize = readFile(userSettings);
    withSize.replace(withSize.find("size=0"), 6, "size=3");
    std::ofstream(userSettings, std::ios::binary | std::ios::trunc) << withSize;
    const ProgramRun second = runWindowUntilTerminated(environment, folder);
    EXPECT_EQ(second.exitCode, 0) << second.output;
    const std::string afterSecond = readFile(userSettings);
    EXPECT_NE(afterSecond.find("size=3"), std::string::npos) << afterSecond;
    EXPECT_NE(afterSecond.find("name=" + folder.string()), std::string::npos) << afterSecond;

    EXPECT_EQ(readFile(kPrefix / "share/melvora/setting.ini"), shippedDefaults);
    EXPECT_FALSE(fs::exists(kPrefix / "bin/setting.ini"));
    EXPECT_FALSE(fs::exists(folder / "home/.config")) << "XDG_CONFIG_HOME was not followed";
    fs::remove_all(folder);
}

// The window as the installed program builds it: its texts from share/melvora/languages, its link
// on the shipped help page, its settings file in the user's folder.
TEST(InstalledWindow, LinkOpensTheShippedHelpPage) {
    const fs::path folder = freshFolder("link");
    const char *savedConfig = std::getenv("XDG_CONFIG_HOME");
    const std::optional<std::string> previousConfig =
        savedConfig ? std::optional<std::string>(savedConfig) : std::nullopt;
    ::setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
    overrideExecutableFolderForTesting((kPrefix / "bin").string());
    {
        ScriptedDesktop scripted;
        CTonvexDlg window;
        EXPECT_EQ(window.windowTitle(), QStringLiteral("Melvora " MELVORA_VERSION));
        EXPECT_EQ(Settings::filePath(), (folder / "config/melvora/setting.ini").string());
        const QString url = window.webLink()->url();
        EXPECT_EQ(fs::path(url.toStdString()), (kPrefix / "share/melvora/help/index.html").lexically_normal());
        EXPECT_TRUE(fs::is_regular_file(url.toStdString()));
        EXPECT_NE(readFile(url.toStdString()).find("<h2 id=\"settings\">"), std::string::npos);
        window.close();
    }
    LanguageTexts::instance().load("");
    overrideExecutableFolderForTesting("");
    if (previousConfig)
        ::setenv("XDG_CONFIG_HOME", previousConfig->c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
    fs::remove_all(folder);
}

} // namespace
} // namespace melvora
