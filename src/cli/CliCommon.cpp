#include "cli/CliCommon.h"

#include <csignal>
#include <filesystem>
#include <iostream>

namespace melvora {

namespace {

std::atomic<int> pendingSignal{0};

void onStopSignal(int signal) { pendingSignal = signal; }

std::string refusalText(StartRefusal refusal, const StartInputs &inputs, const std::string &reason) {
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
        return "cannot create files in the output folder: " + inputs.outputFolder +
               (reason.empty() ? "" : " (" + reason + ")");
    case StartRefusal::None:
        break;
    }
    return {};
}

} // namespace

int exitCodeOf(const BatchTotals &totals, bool single) {
    if (totals.wasStopped())
        return kExitStopped;
    if (single && totals.refused > 0)
        return kExitRefused;
    return totals.failed + totals.refused > 0 ? kExitFailed : kExitFinished;
}

void say(const std::string &message) { std::cerr << "melvora-cli: " << message << "\n"; }

int refuse(const std::string &message) {
    say(message);
    return kExitRefused;
}

std::string folderOf(const std::string &path) {
    const auto parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

void installStopHandlers() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A blocked signal mask is inherited across exec: a launcher that blocked
    // them would leave a stop pending forever, so take them in (one already
    // pending arrives here, before any work).
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
}

const std::atomic<int> &stopSignal() { return pendingSignal; }

std::string startFailureText(const StartOutcome &outcome, const StartInputs &inputs) {
    switch (outcome.step) {
    case StartStep::Refused:
        return refusalText(outcome.refusal, inputs, outcome.reason);
    case StartStep::NotAVideo:
        return "not a valid video file: " + inputs.videoPath + " (" + outcome.reason + ")";
    case StartStep::NotMusic:
        return "not a valid audio file: " + inputs.musicPath + " (" + outcome.reason + ")";
    case StartStep::MusicUnfit:
    case StartStep::NoOutputName:
    case StartStep::NotStarted:
        return outcome.reason;
    case StartStep::Started:
        break;
    }
    return {};
}

bool isRefusal(StartStep step) { return step != StartStep::NotStarted && step != StartStep::Started; }

} // namespace melvora
