#include "WindowTesting.h"

#include "MediaTool.h"

#include "config/JoinPresets.h"
#include "config/Settings.h"
#include "engine/MixJob.h"
#include "mainwindow/CTonvexDlg.h"
#include "platform/ScriptedDesktop.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

namespace melvora {
namespace {

using namespace melvora::testing;

// The non-empty lines of a settings file, without line-end characters.
std::vector<std::string> linesOf(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            lines.push_back(line);
    }
    return lines;
}

// A first run writes the language its start chose and, at the close, the five presets.
TEST(Close, FirstRunWritesTheLanguageAndTheFivePresetSelections) {
    ExecutableFolderSandbox sandbox;
    ScriptedDesktop scripted;
    CTonvexDlg window;
    window.show();

    EXPECT_TRUE(window.close());
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), QDialog::Accepted);
    EXPECT_EQ(window.mixJob(), nullptr);
    EXPECT_EQ(linesOf(sandbox.settings()), (std::vector<std::string>{"[LANGUAGE]", "file=english.ini", "[JOIN]", "quality=0",
                                                                    "size=0", "framerate=0", "audioquality=0",
                                                                    "samplerate=0"}));
}

struct JoinCase {
    const char *name;
    const char *before; // setting.ini before the run
    int quality, size, framerate, audioquality, samplerate;
    const char *format; // what JOIN/format holds afterwards ("" when absent)
};

class CloseSavesPresets : public ::testing::TestWithParam<JoinCase> {};

// Each written key gets back the stored position when it lies in its list,
// -1 otherwise; format is never written.
TEST_P(CloseSavesPresets, WritesEachSelectionBack) {
    const JoinCase &c = GetParam();
    ExecutableFolderSandbox sandbox;
    ScriptedDesktop scripted;
    sandbox.writeSettings(c.before);
    {
        CTonvexDlg window;
        window.show();
        window.close();
    }
    const auto stored = [](const char *key) { return Settings::readString({"JOIN", key}, "<missing>"); };
    EXPECT_EQ(stored("quality"), std::to_string(c.quality));
    EXPECT_EQ(stored("size"), std::to_string(c.size));
    EXPECT_EQ(stored("framerate"), std::to_string(c.framerate));
    EXPECT_EQ(stored("audioquality"), std::to_string(c.audioquality));
    EXPECT_EQ(stored("samplerate"), std::to_string(c.samplerate));
    EXPECT_EQ(Settings::readString({"JOIN", "format"}), c.format);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CloseSavesPresets,
    ::testing::Values(
        JoinCase{"SizeBeyondItsList", "[JOIN]\nsize=99\n", 0, -1, 0, 0, 0, ""},
        JoinCase{"LastPositions", "[JOIN]\nquality=19\nsize=12\nframerate=11\naudioquality=6\nsamplerate=3\n", 19, 12,
                 11, 6, 3, ""},
        JoinCase{"OnePastTheEnd", "[JOIN]\nquality=20\nsize=13\nframerate=12\naudioquality=7\nsamplerate=4\n", -1, -1,
                 -1, -1, -1, ""},
        JoinCase{"Negative", "[JOIN]\nquality=-1\nsize=-7\n", -1, -1, 0, 0, 0, ""},
        JoinCase{"NotANumberReadsAsZero", "[JOIN]\nframerate=fast\n", 0, 0, 0, 0, 0, ""},
        JoinCase{"FormatIsNeverWritten", "[JOIN]\nformat=5\nsize=2\n", 0, 2, 0, 0, 0, "5"},
        JoinCase{"OtherSectionsStay", "[LANGUAGE]\nfile=none.ini\n[PATH]\nname=/tmp\n[JOIN]\nsamplerate=1\n", 0, 0, 0,
                 0, 1, ""}),
    [](const ::testing::TestParamInfo<JoinCase> &info) { return std::string(info.param.name); });

TEST(Close, KeepsTheOtherSettings) {
    ExecutableFolderSandbox sandbox;
    ScriptedDesktop scripted;
    sandbox.writeSettings("[LANGUAGE]\nfile=none.ini\n[PATH]\nname=/tmp/输出\n[DIR]\nopen=0\n");
    CTonvexDlg window;
    window.close();
    EXPECT_EQ(Settings::readString({"LANGUAGE", "file"}), "none.ini");
    EXPECT_EQ(Settings::readString({"PATH", "name"}), "/tmp/输出");
    EXPECT_EQ(Settings::readString({"DIR", "open"}), "0");
}

TEST(Close, ReleasesAnIdleJob) {
    ExecutableFolderSandbox sandbox;
    ScriptedDesktop scripted;
    CTonvexDlg window;
    window.show();
    MixJob &job = window.ensureMixJob();
    EXPECT_EQ(&window.ensureMixJob(), &job); // one record, never replaced
    QSignalSpy closing(&window, &CTonvexDlg::aboutToClose);
    window.close();
    EXPECT_EQ(closing.count(), 1);
    EXPECT_EQ(window.mixJob(), nullptr);
}

// A close that arrives while a job runs stops the worker and waits for it:
// by the time the close returns, the output has been finalised and the
// record is gone.
TEST(Close, DuringARunStopsAndWaitsForTheWorker) {
    const std::string folder = test::makeFolder("close-during-run");
    const std::string video = folder + "/long.mp4";
    const std::string music = folder + "/music.mp3";
    const std::string output = folder + "/out.mp4";
    test::makeMedia("-f lavfi -i testsrc=size=96x64:rate=5:duration=300 -f lavfi -i "
                    "sine=frequency=440:sample_rate=44100:duration=300 -c:v libx264 -preset ultrafast "
                    "-pix_fmt yuv420p -c:a aac -shortest",
                    video);
    test::makeMedia("-f lavfi -i sine=frequency=1000:duration=5 -ac 2 -c:a libmp3lame", music);

    ExecutableFolderSandbox sandbox;
    ScriptedDesktop scripted;
    CTonvexDlg window;
    window.show();
    MixJob &job = window.ensureMixJob();
    job.request.videoPath = video;
    job.request.musicPath = music;
    job.request.outputPath = output;
    job.request.durationSeconds = 300;
    ASSERT_TRUE(startMixJob(job));
    while (job.progressPercent.load() < 1 && job.workerActive.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(job.status.load(), JobStatus::Running) << job.result.errorMessage;

    window.close();

    EXPECT_EQ(window.mixJob(), nullptr);
    EXPECT_TRUE(test::isReadableMedia(output));
    EXPECT_EQ(test::decodeErrors(output), 0);
    const double length = test::durationSeconds(output);
    EXPECT_GT(length, 0.0);
    EXPECT_LT(length, 290.0); // stopped, not run to its end
}

} // namespace
} // namespace melvora
