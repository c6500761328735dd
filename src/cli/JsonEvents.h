#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace melvora {

// Text as the inside of a JSON string: quotes, backslashes and control
// characters escaped.
std::string jsonEscape(const std::string &text);

struct BatchTotals {
    int finished = 0;
    int failed = 0;
    int refused = 0;
    int stopped = 0;    // cut short by a stop: output finalised
    int notStarted = 0; // never started because of a stop: nothing written
    std::vector<std::string> outputs;
};

// Newline-delimited JSON events for programs that drive the CLI: one
// complete object a line, flushed at once, so a reader never sees half an
// event. A disabled writer writes nothing, which lets callers report
// unconditionally.
class JsonEvents {
public:
    JsonEvents(std::FILE *stream, bool enabled) : m_stream(stream), m_enabled(enabled) {}
    bool enabled() const { return m_enabled; }

    void start(const std::string &video, const std::string &output);
    // speed: media time per real time; 0 while unknown.
    void progress(const std::string &video, int percent, double speed);
    // stopped: the run was cut short by a stop; its output is finalised.
    void finished(const std::string &video, const std::string &output, bool stopped);
    void failed(const std::string &video, const std::string &output, const std::string &reason);
    void refused(const std::string &video, const std::string &reason);
    // Something of the video that its output could not keep.
    void warning(const std::string &video, const std::string &message);
    void summary(const BatchTotals &totals, bool stopped);

private:
    void write(const std::string &object);

    std::FILE *m_stream;
    bool m_enabled;
    std::mutex m_mutex;
};

} // namespace melvora
