#include "cli/VideoRun.h"

#include <cmath>
#include <cstdio>

namespace melvora {

namespace {

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

std::string startFailureText(const StartOutcome &outcome, const StartInputs &inputs) {
    switch (outcome.step) {
    case StartStep::Refused:
        return refusalText(outcome.refusal, inputs, outcome.reason);
    case StartStep::NotAVideo:
        return "not a valid video file: " + inputs.videoPath + " (" + outcome.reason + ")";
    case StartStep::NotMusic:
        return "not a valid audio file: " + inputs.musicPath + " (" + outcome.reason + ")";
    case StartStep::NoOutputName:
    case StartStep::NotStarted:
        return outcome.reason;
    case StartStep::Started:
        break;
    }
    return {};
}

bool isRefusal(StartStep step) { return step != StartStep::NotStarted && step != StartStep::Started; }

void SpeedMeter::update(double mediaDone, double mediaTotal) {
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
    // The first moments say too little to be shown.
    if (elapsed < 0.2 || mediaDone <= 0)
        return;
    m_speed = mediaDone / elapsed;
    m_secondsLeft = mediaTotal > mediaDone ? (mediaTotal - mediaDone) / m_speed : 0;
}

std::string speedText(double speed) {
    if (speed <= 0)
        return "--x";
    char text[32];
    std::snprintf(text, sizeof text, speed < 10 ? "%.1fx" : "%.0fx", speed);
    return text;
}

std::string timeLeftText(double seconds) {
    if (seconds < 0 || !std::isfinite(seconds))
        return "--:--";
    const long total = std::lround(seconds);
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

} // namespace melvora
