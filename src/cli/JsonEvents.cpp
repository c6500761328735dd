#include "cli/JsonEvents.h"

#include <cmath>

namespace melvora {

std::string jsonLine(const Json &value) {
    if (value.is_structured()) {
        std::string members;
        for (auto it = value.begin(); it != value.end(); ++it)
            members +=
                (members.empty() ? "" : ", ") + (value.is_object() ? jsonLine(it.key()) + ": " : "") + jsonLine(*it);
        return value.is_object() ? "{" + members + "}" : "[" + members + "]";
    }
    if (value.is_number_float()) {
        char text[32];
        std::snprintf(text, sizeof text, "%.2f", value.get<double>());
        return text;
    }
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void JsonEvents::write(const Json &event) {
    if (!m_enabled)
        return;
    std::fputs((jsonLine(event) + "\n").c_str(), m_stream);
    std::fflush(m_stream);
}

void JsonEvents::start(const std::string &video, const std::string &output) {
    write({{"event", "start"}, {"video", video}, {"output", output}});
}

void JsonEvents::progress(const std::string &video, int percent, double speed) {
    // null while the speed is not known yet.
    write({{"event", "progress"}, {"video", video}, {"percent", percent}, {"speed", speed > 0 ? Json(speed) : Json()}});
}

void JsonEvents::finished(const std::string &video, const std::string &output, bool stopped) {
    write({{"event", "finished"}, {"video", video}, {"output", output}, {"stopped", stopped}});
}

void JsonEvents::failed(const std::string &video, const std::string &output, const std::string &reason) {
    const Json where = output.empty() ? Json() : Json(output);
    write({{"event", "failed"}, {"video", video}, {"output", where}, {"reason", reason}});
}

void JsonEvents::warning(const std::string &video, const std::string &message) {
    write({{"event", "warning"}, {"video", video}, {"message", message}});
}

void JsonEvents::loudness(const std::string &video, double measuredLufs, double gainDb, double outputLufs,
                          double outputTruePeakDb, double truePeakDb, int passes, int encodings) {
    const auto known = [](double value) { return std::isfinite(value) ? Json(value) : Json(); };
    write({{"event", "loudness"},
           {"video", video},
           {"measured", measuredLufs},
           {"gain", gainDb},
           {"output", known(outputLufs)},
           {"outputTruePeak", known(outputTruePeakDb)},
           {"truePeak", truePeakDb},
           {"passes", passes},
           {"encodings", encodings}});
}

void JsonEvents::fit(const std::string &video, const MusicFitReport &report) {
    Json jumps = Json::array();
    for (const MusicFitReport::Jump &jump : report.jumps)
        jumps.push_back({{"from", jump.fromSeconds}, {"to", jump.toSeconds}});
    write({{"event", "fit"},
           {"video", video},
           {"kind", report.kind == MusicFitReport::Kind::Looped ? "loop" : "fit"},
           {"jumps", jumps},
           {"tempoPercent", report.tempoPercent},
           {"text", musicFitText(report)}});
}

void JsonEvents::refused(const std::string &video, const std::string &reason) {
    write({{"event", "refused"}, {"video", video}, {"output", nullptr}, {"reason", reason}});
}

void JsonEvents::refusedBatch(const std::string &reason) {
    write({{"event", "refused"}, {"video", nullptr}, {"output", nullptr}, {"reason", reason}});
}

void JsonEvents::notStarted(const std::string &video, const std::string &reason) {
    write({{"event", "notStarted"}, {"video", video}, {"output", nullptr}, {"reason", reason}});
}

void JsonEvents::summary(const BatchTotals &totals) {
    write({{"event", "summary"},
           {"finished", totals.finished},
           {"failed", totals.failed},
           {"refused", totals.refused},
           {"cutShort", totals.stopped},
           {"notStarted", totals.notStarted},
           {"stopped", totals.wasStopped()},
           {"outputs", totals.outputs}});
}

} // namespace melvora
