// melvora-cli: lays background music under a video from the command line.

#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "jobcontrol/FfmpegMessages.h"
#include "jobcontrol/FileSizeSignal.h"
#include "jobcontrol/OutputFolder.h"
#include "platform/DataFolder.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <filesystem>

namespace {

using namespace melvora;

std::string samplesFolder() {
    // Beside the program in a build, ../share/melvora/samples when installed.
    const std::string besideProgram = dataFile("samples");
    if (folderExists(besideProgram))
        return besideProgram;
    return MELVORA_SOURCE_SAMPLES;
}

int runDemo(std::string outputFolder) {
    BatchSettings settings;
    settings.outputFolder = outputFolder.empty() ? "out" : outputFolder;
    std::error_code ec;
    std::filesystem::create_directories(settings.outputFolder, ec);
    const std::string samples = samplesFolder();
    settings.inputs = {samples + "/sample-video.mp4"};
    settings.musicPath = samples + "/sample-music.mp3";
    return runMix(settings);
}

// The option given an empty value on the command line, or nullptr. CLI11
// would take "--delay ''" as not given (or call it out of range) and
// "--delay=" as "--delay" alone (the next argument becoming its value);
// either way a value typed empty is a mistake, never the default.
const CLI::Option *emptyValueOption(const CLI::App &app, int argc, char **argv) {
    const auto takesValue = [](const CLI::Option *option) {
        return option && option->nonpositional() && option->get_expected_max() > 0; // not a flag
    };
    std::vector<const CLI::App *> commands{&app};
    for (const CLI::App *command : app.get_subcommands([](const CLI::App *) { return true; }))
        commands.push_back(command);
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--")
            break;
        if (argument.size() < 4 || argument.rfind("--", 0) != 0 || argument.back() != '=')
            continue;
        for (const CLI::App *command : commands)
            if (const CLI::Option *option = command->get_option_no_throw(argument.substr(0, argument.size() - 1));
                takesValue(option))
                return option;
    }
    const auto isEmpty = [](const std::string &value) { return value.empty(); };
    for (const CLI::App *command : commands)
        if (command == &app || command->parsed())
            for (const CLI::Option *option : command->get_options())
                if (takesValue(option) && std::any_of(option->results().begin(), option->results().end(), isEmpty))
                    return option;
    return nullptr;
}

int refuseEmptyValue(const CLI::Option &option) { return refuse(option.get_name(false, true) + ": empty value"); }

constexpr const char *kJsonHelp =
    "Write newline-delimited JSON events on stdout instead of text, one object a line: "
    "start {video, output}, progress {video, percent, speed}, warning {video, message} (what the output could not "
    "keep), fit {video, kind: fit|loop, jumps: [{from, to}] in the music file's seconds, tempoPercent, text} "
    "(with --fit or --loop auto), loudness {video, measured, gain, output, outputTruePeak, truePeak, passes, encodings} (with --loudness), "
    "finished {video, output, stopped}, "
    "failed {video, output, reason}, refused {video, output: null, reason} (video null: the whole batch), "
    "notStarted {video, output: null, reason} (a stop came first), and always last a summary "
    "{finished, failed, refused, cutShort, notStarted, stopped, outputs}. Every video gets one of "
    "finished/failed/refused/notStarted; speed is media time per real time. A command line that is not "
    "understood (an unknown option, a bad or empty value) gets only its message on stderr and exit 2";

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

    std::string videoPath;
    BatchSettings mixSettings;
    CLI::App *mix = app.add_subcommand("mix", "Mix MUSIC under VIDEO into a new file in DIR");
    mix->add_option("VIDEO", videoPath, "The video file")->required();
    mix->add_option("MUSIC", mixSettings.musicPath, "The music file")->required();
    mix->add_option("-o,--output", mixSettings.outputFolder, "Output folder (default: the video's own folder)");
    mix->add_flag("--json", mixSettings.json, kJsonHelp);
    addMixOptions(*mix, mixSettings.options);

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
        // CLI11's own complaint about an empty value would not say so.
        if (const CLI::Option *option = emptyValueOption(app, argc, argv))
            return refuseEmptyValue(*option);
        app.exit(e);
        return kExitRefused;
    }
    if (const CLI::Option *option = emptyValueOption(app, argc, argv))
        return refuseEmptyValue(*option);

    // A file-size limit is a write error that fails the run, not a signal
    // that kills the program with a broken file left behind.
    ignoreFileSizeSignal();
    // Our own messages say what failed; FFmpeg's are for -v.
    showFfmpegMessages(ffmpegMessagesWanted(verbose));
    if (probe->parsed())
        return runProbe(probePath, probeAsAudio);
    installStopHandlers();
    if (demo->parsed())
        return runDemo(demoFolder);
    BatchSettings &settings = mix->parsed() ? mixSettings : batchSettings;
    if (std::string error; !resolveMixOptions(settings.options, error))
        return refuse(error);
    if (batch->parsed())
        return runBatch(settings);
    settings.inputs = {videoPath};
    return runMix(settings);
}
