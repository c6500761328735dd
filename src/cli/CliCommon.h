#pragma once

// What every command shares: the exit codes, the one form of a message on
// stderr, the stop signals and the words for a start that led to no run.

#include "jobcontrol/StartFlow.h"

#include <atomic>
#include <string>
#include <vector>

namespace melvora {

constexpr int kExitFinished = 0;
constexpr int kExitFailed = 1;    // a run failed; for batch, also some video refused
constexpr int kExitRefused = 2;   // usage, or refused before any work
constexpr int kExitStopped = 130; // SIGINT or SIGTERM

// How the videos of a run ended.
struct BatchTotals {
    int finished = 0;
    int failed = 0;
    int refused = 0;
    int stopped = 0;            // cut short by a stop: output finalised
    int notStarted = 0;         // never started because of a stop: nothing written
    bool searchStopped = false; // a stop came while the videos were being looked for
    std::vector<std::string> outputs;

    bool wasStopped() const { return searchStopped || stopped + notStarted > 0; }
};

// 130 when a stop cut a video short or kept one from starting, else 1 when
// one failed or was refused, else 0. The refusal of mix's only video is 2,
// as every refusal before work is.
int exitCodeOf(const BatchTotals &totals, bool single);

// "melvora-cli: message" on stderr.
void say(const std::string &message);
// Says message; gives kExitRefused.
int refuse(const std::string &message);

// The folder a file is in; "." for a bare name.
std::string folderOf(const std::string &path);

// From here on SIGINT and SIGTERM set the stop signal instead of ending the
// program: a run that started is always finalised, never killed half-written.
void installStopHandlers();
const std::atomic<int> &stopSignal();

// Why the start flow did not start a run, as the CLI says it.
std::string startFailureText(const StartOutcome &outcome, const StartInputs &inputs);

// True when the inputs were not accepted, false for a start that was
// accepted but could not be launched.
bool isRefusal(StartStep step);

} // namespace melvora
