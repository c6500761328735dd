// melvora-cli: lays background music under a video from the command line.

#include "cli/MixControlOptions.h"
#include "cli/ProgressDisplay.h"
#include "engine/MediaProbe.h"
#include "engine/MixJob.h"
#include "jobcontrol/OutputFolder.h"
#include "jobcontrol/StartFlow.h"
#include "platform/DataFolder.h"
#include "jobcontrol/FileSizeSignal.h"

#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <thread>
#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

namespace {

using namespace melvora;

constexpr int kExitFinished = 0;
constexpr int kExitFailed = 1;
constexpr int kExitRefused = 2;
constexpr int kExitStopped = 130;

std::atomic<int> pendingSignal{0};

void onStopSignal(int signal) { pendingSignal = signal; }

void installStopHandlers() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int refuse(const std::string &message) {
    std::cerr << "melvora-cli: " << message << "\n";
    return kExitRefused;
}

std::string refusalText(StartRefusal refusal, const StartInputs &inputs) {
    switch (refusal) {
    case StartRefusal::NoVideo:
        return "no video file given";
    case StartRefusal::NoMusic:
        return "no music file given";
    case StartRefusal::VideoMissing:
        return "video file not found: " + inputs.videoPath;
    case StartRefusal::MusicMissing:
        return "music file not found: " + inputs.musicPath;
    case StartRefusal::FolderIsSeparator:
    case StartRefusal::FolderMissing:
        return "output folder not found: " + inputs.outputFolder;
    case StartRefusal::FolderNotWritable:
        return "cannot create files in the output folder: " + inputs.outputFolder;
    case StartRefusal::None:
        break;
    }
    return {};
}

std::string folderOf(const std::string &path) {
    const auto parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

// Runs one mix and reports it; the exit code tells how it ended.
int runMix(const std::string &videoPath, const std::string &musicPath, std::string outputFolder,
           const MixSettings &mixSettings = {}) {
    if (outputFolder.empty())
        outputFolder = folderOf(videoPath);
    MixJob job;
    StartRequest request;
    request.inputs = {videoPath, musicPath, outputFolder};
    request.mixSettings = mixSettings;

    // Stop signals are taken from here on: a run that starts is always
    // finalised, never killed half-written.
    installStopHandlers();
    const StartOutcome outcome = startMixRun(job, request);
    switch (outcome.step) {
    case StartStep::Started:
        break;
    case StartStep::Refused:
        return refuse(refusalText(outcome.refusal, request.inputs));
    case StartStep::NotAVideo:
        return refuse("not a valid video file: " + videoPath + " (" + outcome.reason + ")");
    case StartStep::NotMusic:
        return refuse("not a valid audio file: " + musicPath + " (" + outcome.reason + ")");
    case StartStep::NoOutputName:
        return refuse(outcome.reason);
    case StartStep::NotStarted:
        std::cerr << "melvora-cli: " << outcome.reason << "\n";
        return kExitFailed;
    }

    ProgressDisplay progress(stderr, ::isatty(STDERR_FILENO) != 0);
    while (!waitForMixJob(job, std::chrono::milliseconds(50))) {
        if (pendingSignal.load() != 0)
            job.stopRequested = 1;
        progress.update(job.progressPercent.load());
    }
    joinMixJob(job);

    const JobStatus status = job.status.load();
    if (status == JobStatus::Finished)
        progress.update(100);
    progress.finish();
    if (std::isfinite(job.measuredMusicLoudness) && job.appliedMixSettings.musicGainDb)
        std::cerr << "melvora-cli: music loudness " << formatMixNumber(std::round(job.measuredMusicLoudness * 10) / 10)
                  << " LUFS, music level set to "
                  << formatMixNumber(std::round(*job.appliedMixSettings.musicGainDb * 10) / 10) << " dB\n";
    if (status == JobStatus::Failed) {
        // The engine has removed the output it could not finish.
        std::cerr << "melvora-cli: mix failed: " << job.errorMessage << "\n";
        return kExitFailed;
    }
    std::cout << outcome.outputPath << std::endl;
    return status == JobStatus::Finished ? kExitFinished : kExitStopped;
}

std::string samplesFolder() {
    // Beside the program in a build, ../share/melvora/samples when installed.
    const std::string besideProgram = dataFile("samples");
    if (folderExists(besideProgram))
        return besideProgram;
    return MELVORA_SOURCE_SAMPLES;
}

int runDemo(std::string outputFolder) {
    if (outputFolder.empty())
        outputFolder = "out";
    std::error_code ec;
    std::filesystem::create_directories(outputFolder, ec);
    const std::string samples = samplesFolder();
    return runMix(samples + "/sample-video.mp4", samples + "/sample-music.mp3", outputFolder);
}

std::string jsonEscape(const std::string &text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            escaped += '\\';
            escaped += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", c);
            escaped += code;
        } else {
            escaped += c;
        }
    }
    return escaped;
}

int runProbe(const std::string &path, bool audio) {
    MixJob job;
    job.probePath = path;
    const int result = audio ? probeAudio(job) : probeVideo(job);
    const MediaInfo &info = job.info;
    std::ostringstream json;
    json << "{\"file\": \"" << jsonEscape(path) << "\", \"result\": " << result
         << ", \"probeResult\": " << job.probeResult << ", \"startTime\": " << info.startTime
         << ", \"endTime\": " << info.endTime << ", \"audioDuration\": " << info.audioDuration
         << ", \"videoDuration\": " << info.videoDuration << ", \"videoProfile\": " << info.videoProfile
         << ", \"videoBitRate\": " << info.videoBitRate << ", \"videoHeight\": " << info.videoHeight
         << ", \"videoWidth\": " << info.videoWidth << ", \"frameRateDen\": " << info.frameRateDen
         << ", \"frameRateNum\": " << info.frameRateNum << ", \"audioBitRate\": " << info.audioBitRate
         << ", \"audioSampleRate\": " << info.audioSampleRate << ", \"audioChannels\": " << info.audioChannels << "}";
    std::cout << json.str() << std::endl;
    return result == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
    CLI::App app{"Lays background music under a video: the video streams are copied unchanged, the sound is the "
                 "video's own sound mixed with the music (or the music alone, looped, for a silent video)."};
    app.require_subcommand(1);
    bool verbose = false;
    app.add_flag("-v,--verbose", verbose, "Show FFmpeg's messages and stream layouts");

    std::string videoPath, musicPath, outputFolder;
    CLI::App *mix = app.add_subcommand("mix", "Mix MUSIC under VIDEO into a new file in DIR");
    mix->add_option("VIDEO", videoPath, "The video file")->required();
    mix->add_option("MUSIC", musicPath, "The music file")->required();
    mix->add_option("-o,--output", outputFolder, "Output folder (default: the video's own folder)");
    MixControlOptions mixControls;
    addMixControlOptions(*mix, mixControls);

    std::string demoFolder;
    CLI::App *demo = app.add_subcommand("demo", "Mix the bundled sample music under the bundled sample video");
    demo->add_option("-o,--output", demoFolder, "Output folder (default: out/ under the current folder)");

    std::string probePath;
    bool probeAsAudio = false;
    CLI::App *probe = app.add_subcommand("probe", "Examine FILE as a video (or, with --audio, as music) and print "
                                                  "what was found as JSON");
    probe->add_option("FILE", probePath, "The file to examine")->required();
    probe->add_flag("--audio", probeAsAudio, "Examine the file as music");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        app.exit(e);
        return kExitRefused;
    }

    // A file-size limit is a write error that fails the run, not a signal
    // that kills the program with a broken file left behind.
    ignoreFileSizeSignal();
    // Our own messages say what failed; FFmpeg's are for -v.
    av_log_set_level(verbose ? AV_LOG_INFO : AV_LOG_QUIET);
    if (mix->parsed()) {
        MixSettings settings;
        std::string error;
        if (!mixSettingsFromOptions(mixControls, settings, error))
            return refuse(error);
        return runMix(videoPath, musicPath, outputFolder, settings);
    }
    if (demo->parsed())
        return runDemo(demoFolder);
    return runProbe(probePath, probeAsAudio);
}
