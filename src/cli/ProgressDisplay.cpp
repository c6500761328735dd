#include "cli/ProgressDisplay.h"

#include <string>

namespace melvora {

ProgressDisplay::ProgressDisplay(std::FILE *stream, bool interactive) : m_stream(stream), m_interactive(interactive) {}

void ProgressDisplay::update(int percent, const std::string &speedAndTimeLeft) {
    if (percent < 0)
        percent = 0;
    if (percent > 100)
        percent = 100;
    if (percent == m_shown && speedAndTimeLeft == m_shownSpeed)
        return;
    if (m_interactive) {
        constexpr int width = 40;
        const int filled = percent * width / 100;
        const std::string bar = std::string(filled, '#') + std::string(width - filled, ' ');
        // The line is cleared to its end: the speed text may get shorter.
        std::fprintf(m_stream, "\r[%s] %3d%%  %s\x1b[K", bar.c_str(), percent, speedAndTimeLeft.c_str());
    } else {
        // Every whole percent gets its line, even when polling skipped some.
        for (int p = m_shown + 1; p <= percent; ++p) {
            if (speedAndTimeLeft.empty())
                std::fprintf(m_stream, "%d%%\n", p);
            else
                std::fprintf(m_stream, "%d%%  %s\n", p, speedAndTimeLeft.c_str());
        }
    }
    std::fflush(m_stream);
    m_shown = percent;
    m_shownSpeed = speedAndTimeLeft;
}

void ProgressDisplay::finish() {
    if (m_interactive && m_shown >= 0) {
        std::fputc('\n', m_stream);
        std::fflush(m_stream);
    }
}

} // namespace melvora
