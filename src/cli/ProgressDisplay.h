#pragma once

#include <chrono>
#include <string>

namespace melvora {

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

// "3.1x  0:42 left" ("1:02:03" past an hour; "--x  --:-- left" while unknown).
std::string speedAndTimeLeft(const SpeedMeter &meter);

// The progress of a run on stderr: on a terminal one line redrawn in place
// (with a bar when asked), with the notes (a video started or ended) written
// above it; otherwise plain lines, one for each whole percent.
class ProgressDisplay {
public:
    // A disabled display writes nothing (stdout carries JSON then).
    ProgressDisplay(bool enabled, bool bar);
    // detail follows the percent; onTerminal comes after it on a terminal
    // only, cut to the terminal's width.
    void update(int percent, const std::string &detail, const std::string &onTerminal = {});
    void note(const std::string &line);
    // Ends the progress line on a terminal.
    void finish();

private:
    bool m_enabled;
    bool m_interactive;
    bool m_bar;
    int m_shown = -1;
    std::string m_drawn; // the progress line on the terminal; empty when none
};

} // namespace melvora
