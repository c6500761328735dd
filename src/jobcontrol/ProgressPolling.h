#pragma once

#include "engine/ClockText.h"

#include "engine/MixJob.h"

#include <cstdint>
#include <string>
#include <string_view>

// What one poll of a running job shows and decides. Pure rules, no UI: each
// front end applies the decision with its own means.
namespace melvora {

// The progress line: the video path, three spaces, the percent in decimal,
// "% " and the word after it (for example "/v/clip.mp4   42% done"). A
// percent outside 0..100 is written as it is.
std::string progressLine(std::string_view videoPath, std::int32_t percent, std::string_view doneText);

// The text of the failure box: the failure text and, on a second line, the
// step and FFmpeg's reason that the engine recorded, when there is one.
std::string failureMessage(std::string_view failedText, std::string_view reason);

// The time a run still needs at the pace it has kept: elapsed seconds for
// percent of the work. Negative while there is too little to go on (under a
// second, or nothing done yet); 0 once done.
double secondsLeft(double elapsedSeconds, std::int32_t percent);

// Whether a progress bar of range 0..100 takes the percent; otherwise the
// bar keeps its last position.
bool progressBarTakes(std::int32_t percent);

enum class ResultMessage {
    None,    // stopped or still running: nothing is reported
    Failure, // the job failed
    Success, // the job finished
};

struct TickDecision {
    bool keepPolling = true;  // false: stop the poll timer now
    bool closeDialog = false; // run the progress dialog's close path (once)
    ResultMessage message = ResultMessage::None;
    bool openFolder = false; // open the output folder after the message
};

// The decision of one poll, from the status byte and the stop flag read in
// that poll. A seen stop ends polling and closes the dialog, but a terminal
// status read in the same poll is still reported: a run that failed is
// reported as failed, and one that reached Finished did complete its file.
// Only Finished and Failed count as terminal; every other byte value means
// the run goes on.
TickDecision decideTick(JobStatus status, bool stopRequested, bool openFolderWhenDone);

} // namespace melvora
