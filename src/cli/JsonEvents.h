#pragma once

#include "cli/CliCommon.h"

#include "engine/MusicFitReport.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>

namespace melvora {

// Members stay in the order they were given.
using Json = nlohmann::ordered_json;

// The value as one line of JSON: ", " and ": " between members, numbers
// with a fraction to the hundredth, and each byte of a text that is not
// valid UTF-8 replaced by U+FFFD (a file name in Latin-1, say), so that
// every line is valid JSON.
std::string jsonLine(const Json &value);

// Newline-delimited JSON events for programs that drive the CLI: one
// complete object a line, flushed at once, so a reader never sees half an
// event. A disabled writer writes nothing, which lets callers report
// unconditionally.
class JsonEvents {
public:
    JsonEvents(std::FILE *stream, bool enabled) : m_stream(stream), m_enabled(enabled) {}

    void start(const std::string &video, const std::string &output);
    // speed: media time per real time; 0 while unknown.
    void progress(const std::string &video, int percent, double speed);
    // stopped: the run was cut short by a stop; its output is finalised.
    void finished(const std::string &video, const std::string &output, bool stopped);
    void failed(const std::string &video, const std::string &output, const std::string &reason);
    void refused(const std::string &video, const std::string &reason);
    // The whole batch refused before any video (bad music or folder, no
    // videos): a refused event whose video is null.
    void refusedBatch(const std::string &reason);
    // A video a stop kept from starting: nothing was written.
    void notStarted(const std::string &video, const std::string &reason);
    // Something of the video that its output could not keep.
    void warning(const std::string &video, const std::string &message);
    // The whole mix brought to a loudness target: what it measured, the
    // gain, what the output came to and its true peak (NaN: not known), and
    // the ceiling.
    void loudness(const std::string &video, double measuredLufs, double gainDb, double outputLufs,
                  double outputTruePeakDb, double truePeakDb, int passes, int encodings);
    // What --fit or --loop auto did: the jumps in the music file's seconds
    // and the tempo change.
    void fit(const std::string &video, const MusicFitReport &report);
    void summary(const BatchTotals &totals);

private:
    void write(const Json &event);

    std::FILE *m_stream;
    bool m_enabled;
};

} // namespace melvora
