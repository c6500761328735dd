#pragma once

#include <cstdio>

namespace melvora {

// Shows a run's progress on a stream: a bar redrawn in place on a terminal,
// one line per whole percent otherwise (logs, pipes).
class ProgressDisplay {
public:
    ProgressDisplay(std::FILE *stream, bool interactive);
    void update(int percent);
    void finish();

private:
    std::FILE *m_stream;
    bool m_interactive;
    int m_shown = -1;
};

} // namespace melvora
