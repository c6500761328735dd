#pragma once

// Pieces that `mix` and `batch` share for one video's run: the words for a
// start that did not lead to a run, and the speed of a run.

#include "jobcontrol/StartFlow.h"

#include <chrono>
#include <string>

namespace melvora {

// Why the start flow did not start a run, as the CLI says it.
std::string startFailureText(const StartOutcome &outcome, const StartInputs &inputs);

// True when the outcome is a refusal (the inputs were not accepted), false
// for a start that was accepted but could not be launched.
bool isRefusal(StartStep step);

// Speed as media time per wall-clock time since construction, and the time
// left at that speed.
class SpeedMeter {
public:
    SpeedMeter() : m_started(std::chrono::steady_clock::now()) {}
    // mediaDone of mediaTotal seconds are written by now.
    void update(double mediaDone, double mediaTotal);
    double speed() const { return m_speed; }             // 0 while unknown
    double secondsLeft() const { return m_secondsLeft; } // negative while unknown

private:
    std::chrono::steady_clock::time_point m_started;
    double m_speed = 0;
    double m_secondsLeft = -1;
};

// "3.1x real time, 0:42 left" style parts: "3.1x" and "1:02:03"/"0:42";
// "--:--" when unknown.
std::string speedText(double speed);
std::string timeLeftText(double seconds);

} // namespace melvora
