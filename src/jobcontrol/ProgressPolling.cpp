#include "jobcontrol/ProgressPolling.h"

#include <cmath>
#include <cstdio>

namespace melvora {

std::string progressLine(std::string_view videoPath, std::int32_t percent, std::string_view doneText) {
    std::string line(videoPath);
    line += "   ";
    line += std::to_string(percent);
    line += "% ";
    line += doneText;
    return line;
}

std::string failureMessage(std::string_view failedText, std::string_view reason) {
    std::string text(failedText);
    if (!reason.empty()) {
        text += '\n';
        text += reason;
    }
    return text;
}

double secondsLeft(double elapsedSeconds, std::int32_t percent) {
    if (percent >= 100)
        return 0;
    if (percent <= 0 || !(elapsedSeconds >= 1))
        return -1;
    return elapsedSeconds * (100 - percent) / percent;
}

bool progressBarTakes(std::int32_t percent) {
    return percent >= 0 && percent <= 100;
}

TickDecision decideTick(JobStatus status, bool stopRequested, bool openFolderWhenDone) {
    TickDecision decision;
    if (stopRequested) {
        decision.keepPolling = false;
        decision.closeDialog = true;
    }
    if (status == JobStatus::Failed) {
        decision.keepPolling = false;
        decision.closeDialog = true;
        decision.message = ResultMessage::Failure;
    } else if (status == JobStatus::Finished) {
        decision.keepPolling = false;
        decision.closeDialog = true;
        decision.message = ResultMessage::Success;
        decision.openFolder = openFolderWhenDone;
    }
    return decision;
}

} // namespace melvora
