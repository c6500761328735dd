#pragma once

#include <cstdio>
#include <string>

namespace melvora {

// Shows a run's progress on a stream: a bar redrawn in place on a terminal,
// one line per whole percent otherwise (logs, pipes). The speed and the time
// left follow the percent once they are known.
class ProgressDisplay {
public:
    ProgressDisplay(std::FILE *stream, bool interactive);
    void update(int percent, const std::string &speedAndTimeLeft = {});
    void finish();

private:
    std::FILE *m_stream;
    bool m_interactive;
    int m_shown = -1;
    std::string m_shownSpeed;
};

} // namespace melvora
