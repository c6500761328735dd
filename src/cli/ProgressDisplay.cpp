#include "cli/ProgressDisplay.h"
#include "engine/ClockText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

namespace melvora {

namespace {

int terminalWidth() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20)
        return size.ws_col;
    return 80;
}

std::string speedText(double speed) {
    if (speed <= 0)
        return "--x";
    char text[32];
    std::snprintf(text, sizeof text, speed < 10 ? "%.1fx" : "%.0fx", speed);
    return text;
}

std::string timeLeftText(double seconds) {
    return seconds < 0 || !std::isfinite(seconds) ? "--:--" : clockText(seconds);
}

} // namespace

void SpeedMeter::update(double mediaDone, double mediaTotal) {
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
    // The first moments say too little to be shown.
    if (elapsed < 0.2 || mediaDone <= 0)
        return;
    m_speed = mediaDone / elapsed;
    m_secondsLeft = mediaTotal > mediaDone ? (mediaTotal - mediaDone) / m_speed : 0;
}

std::string speedAndTimeLeft(const SpeedMeter &meter) {
    return speedText(meter.speed()) + "  " + timeLeftText(meter.secondsLeft()) + " left";
}

ProgressDisplay::ProgressDisplay(bool enabled, bool bar)
    : m_enabled(enabled), m_interactive(::isatty(STDERR_FILENO) != 0), m_bar(bar) {}

void ProgressDisplay::update(int percent, const std::string &detail, const std::string &onTerminal) {
    if (!m_enabled)
        return;
    percent = std::clamp(percent, 0, 100);
    if (m_interactive) {
        char head[64];
        if (m_bar) {
            constexpr int width = 40;
            const int filled = percent * width / 100;
            std::snprintf(head, sizeof head, "[%s%s] %3d%%", std::string(filled, '#').c_str(),
                          std::string(width - filled, ' ').c_str(), percent);
        } else {
            std::snprintf(head, sizeof head, "%d%%", percent);
        }
        std::string text = head + ("  " + detail);
        if (!onTerminal.empty()) {
            text += onTerminal;
            text.resize(std::min(text.size(), static_cast<size_t>(terminalWidth() - 1)));
        }
        if (text == m_drawn)
            return;
        // The line is cleared to its end: the new one may be shorter.
        std::fprintf(stderr, "\r%s\x1b[K", text.c_str());
        m_drawn = text;
    } else {
        // Every whole percent gets its line, even when polling skipped some.
        for (int p = m_shown + 1; p <= percent; ++p)
            std::fprintf(stderr, "%d%%  %s\n", p, detail.c_str());
    }
    std::fflush(stderr);
    m_shown = percent;
}

void ProgressDisplay::note(const std::string &line) {
    if (!m_enabled)
        return;
    if (m_interactive)
        std::fputs("\r\x1b[K", stderr);
    std::fprintf(stderr, "%s\n", line.c_str());
    m_drawn.clear();
    std::fflush(stderr);
}

void ProgressDisplay::finish() {
    if (m_enabled && m_interactive && !m_drawn.empty()) {
        std::fputc('\n', stderr);
        std::fflush(stderr);
        m_drawn.clear();
    }
}

} // namespace melvora
