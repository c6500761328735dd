// melvora-cli: lays background music under a video from the command line.

#include "cli/Batch.h"
#include "cli/JsonEvents.h"
#include "cli/ProgressDisplay.h"
#include "cli/VideoRun.h"
#include "engine/MediaProbe.h"
#include "engine/MixJob.h"
#include "jobcontrol/OutputFolder.h"
#include "jobcontrol/StartFlow.h"
#include "platform/DataFolder.h"
#include "jobcontrol/FileSizeSignal.h"
#include "jobcontrol/FfmpegMessages.h"

#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <thread>
#include <unistd.h>

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

std::string folderOf(const std::string &path) {
    const auto parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

// Runs one mix and reports it, as text or as JSON events; the exit code
// tells how it ended.
int runMix(const std::string &videoPath, const std::string &musicPath, std::string outputFolder,
           const MixOptions &options, bool json) {
    if (outputFolder.empty())
        outputFolder = folderOf(videoPath);
    JsonEvents events(stdout, json);
    BatchTotals totals;
    MixJob job;
    StartRequest request;
    request.inputs = {videoPath, musicPath, outputFolder};
    applyMixOptions(options, request);

    // Stop signals are taken from here on: a run that starts is always
    // finalised, never killed half-written.
    installStopHandlers();
    const StartOutcome outcome = startMixRun(job, request);
    if (outcome.step != StartStep::Started) {
        const std::string why = startFailureText(outcome, request.inputs);
        std::cerr << "melvora-cli: " << why << "\n";
        const bool refused = isRefusal(outcome.step);
        if (refused) {
            events.refused(videoPath, why);
            ++totals.refused;
        } else {
            events.failed(videoPath, {}, why);
            ++totals.failed;
        }
        events.summary(totals, false);
        return refused ? kExitRefused : kExitFailed;
    }
    events.start(videoPath, outcome.outputPath);

    ProgressDisplay progress(stderr, ::isatty(STDERR_FILENO) != 0);
    SpeedMeter speed;
    int reportedPercent = -1;
    const auto show = [&](int percent) {
        speed.update(job.durationSeconds * percent / 100.0, job.durationSeconds);
        if (percent != reportedPercent)
            events.progress(videoPath, percent, speed.speed());
        reportedPercent = percent;
        if (!json)
            progress.update(percent, speedText(speed.speed()) + "  " + timeLeftText(speed.secondsLeft()) + " left");
    };
    while (!waitForMixJob(job, std::chrono::milliseconds(50))) {
        if (pendingSignal.load() != 0)
            job.stopRequested = 1;
        show(job.progressPercent.load());
    }
    joinMixJob(job);

    const JobStatus status = job.status.load();
    if (status == JobStatus::Finished)
        show(100);
    progress.finish();
    for (const std::string &warning : job.warnings) {
        std::cerr << "melvora-cli: warning: " << warning << "\n";
        events.warning(videoPath, warning);
    }
    if (std::isfinite(job.measuredMusicLoudness) && job.appliedMixSettings.musicGainDb)
        std::cerr << "melvora-cli: music loudness " << formatMixNumber(std::round(job.measuredMusicLoudness * 10) / 10)
                  << " LUFS, music level set to "
                  << formatMixNumber(std::round(*job.appliedMixSettings.musicGainDb * 10) / 10) << " dB\n";
    if (status == JobStatus::Failed) {
        // The engine has removed the output it could not finish.
        std::cerr << "melvora-cli: mix failed: " << job.errorMessage << "\n";
        events.failed(videoPath, outcome.outputPath, "mix failed: " + job.errorMessage);
        ++totals.failed;
        events.summary(totals, false);
        return kExitFailed;
    }
    const bool stopped = status != JobStatus::Finished;
    events.finished(videoPath, outcome.outputPath, stopped);
    ++(stopped ? totals.stopped : totals.finished);
    totals.outputs.push_back(outcome.outputPath);
    events.summary(totals, stopped);
    if (!json)
        std::cout << outcome.outputPath << std::endl;
    return stopped ? kExitStopped : kExitFinished;
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
    return runMix(samples + "/sample-video.mp4", samples + "/sample-music.mp3", outputFolder, {}, false);
}

int runProbe(const std::string &path, bool audio) {
    MixJob job;
    job.probePath = path;
    const int result = audio ? probeAudio(job) : probeVideo(job);
    const MediaInfo &info = job.info;
    std::cout << jsonLine({{"file", path},
                           {"result", result},
                           {"probeResult", job.probeResult},
                           {"startTime", info.startTime},
                           {"endTime", info.endTime},
                           {"audioDuration", info.audioDuration},
                           {"videoDuration", info.videoDuration},
                           {"videoProfile", info.videoProfile},
                           {"videoBitRate", info.videoBitRate},
                           {"videoHeight", info.videoHeight},
                           {"videoWidth", info.videoWidth},
                           {"frameRateDen", info.frameRateDen},
                           {"frameRateNum", info.frameRateNum},
                           {"audioBitRate", info.audioBitRate},
                           {"audioSampleRate", info.audioSampleRate},
                           {"audioChannels", info.audioChannels}})
              << std::endl;
    return result == 0 ? 0 : 1;
}

constexpr const char *kJsonHelp =
    "Write newline-delimited JSON events on stdout instead of text, one object a line: "
    "start {video, output}, progress {video, percent, speed}, warning {video, message} (what the output could not "
    "keep), finished {video, output, stopped}, "
    "failed {video, output, reason}, refused {video, output: null, reason}, and last a summary "
    "{finished, failed, refused, cutShort, notStarted, stopped, outputs}. Every video gets one of "
    "finished/failed/refused; speed is media time per real time";

constexpr const char *kBatchHelp =
    "Mix MUSIC under every video of the INPUTs, each into a new file named as mix names it. "
    "Progress on stderr (one line redrawn on a terminal, plain lines otherwise), a summary on stdout. "
    "Exit 0: all finished; 1: some failed or were refused (the others still ran); 2: usage, bad music "
    "or folder, or no videos; 130: stopped by SIGINT/SIGTERM (running outputs finalised, videos not "
    "yet started are not created)";

} // namespace

int main(int argc, char **argv) {
    CLI::App app{"Lays background music under a video: the video streams are copied unchanged, the sound is the "
                 "video's own sound mixed with the music (or the music alone, looped, for a silent video)."};
    app.require_subcommand(1);
    bool verbose = false;
    app.add_flag("-v,--verbose", verbose, "Show FFmpeg's messages and stream layouts (also MELVORA_VERBOSE=1)");
    app.set_version_flag("--version", std::string("melvora-cli ") + MELVORA_VERSION);

    std::string videoPath, musicPath, outputFolder;
    CLI::App *mix = app.add_subcommand("mix", "Mix MUSIC under VIDEO into a new file in DIR");
    mix->add_option("VIDEO", videoPath, "The video file")->required();
    mix->add_option("MUSIC", musicPath, "The music file")->required();
    mix->add_option("-o,--output", outputFolder, "Output folder (default: the video's own folder)");
    bool mixJson = false;
    mix->add_flag("--json", mixJson, kJsonHelp);
    MixOptions mixOptions;
    addMixOptions(*mix, mixOptions);

    BatchSettings batchSettings;
    CLI::App *batch = app.add_subcommand("batch", kBatchHelp);
    batch->add_option("INPUT", batchSettings.inputs, "Video files and folders (a folder gives its files that are videos)")
        ->required();
    batch->add_option("--music", batchSettings.musicPath, "The music laid under every video")->required();
    batch->add_option("-o,--output", batchSettings.outputFolder, "Output folder (default: each video's own folder)");
    batch->add_option("-j,--jobs", batchSettings.parallelVideos,
                      "Videos mixed at once (default 1); the encoder threads are shared out among them")
        ->check(CLI::Range(1, 64));
    batch->add_flag("-r,--recursive", batchSettings.recursive, "Also take the videos in the folders' sub-folders");
    batch->add_flag("--json", batchSettings.json, kJsonHelp);
    addMixOptions(*batch, batchSettings.options);

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
    } catch (const CLI::CallForVersion &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        app.exit(e);
        return kExitRefused;
    }

    // A file-size limit is a write error that fails the run, not a signal
    // that kills the program with a broken file left behind.
    ignoreFileSizeSignal();
    // Our own messages say what failed; FFmpeg's are for -v.
    showFfmpegMessages(ffmpegMessagesWanted(verbose));
    std::string optionError;
    if (mix->parsed()) {
        if (!resolveMixOptions(mixOptions, optionError))
            return refuse(optionError);
        return runMix(videoPath, musicPath, outputFolder, mixOptions, mixJson);
    }
    if (batch->parsed()) {
        if (!resolveMixOptions(batchSettings.options, optionError))
            return refuse(optionError);
        installStopHandlers();
        return runBatch(batchSettings, pendingSignal);
    }
    if (demo->parsed())
        return runDemo(demoFolder);
    return runProbe(probePath, probeAsAudio);
}
