#include "cli/JsonEvents.h"

#include <sstream>

namespace melvora {

std::string jsonEscape(const std::string &text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            escaped += '\\';
            escaped += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", c);
            escaped += code;
        } else {
            escaped += c;
        }
    }
    return escaped;
}

namespace {

std::string quoted(const std::string &text) { return "\"" + jsonEscape(text) + "\""; }

std::string head(const char *event, const std::string &video) {
    return std::string("{\"event\": \"") + event + "\", \"video\": " + quoted(video);
}

} // namespace

void JsonEvents::write(const std::string &object) {
    if (!m_enabled)
        return;
    // Events from several videos never interleave within a line.
    std::lock_guard lock(m_mutex);
    std::fputs(object.c_str(), m_stream);
    std::fputc('\n', m_stream);
    std::fflush(m_stream);
}

void JsonEvents::start(const std::string &video, const std::string &output) {
    write(head("start", video) + ", \"output\": " + quoted(output) + "}");
}

void JsonEvents::progress(const std::string &video, int percent, double speed) {
    // null while the speed is not known yet.
    char speedText[32] = "null";
    if (speed > 0)
        std::snprintf(speedText, sizeof speedText, "%.2f", speed);
    write(head("progress", video) + ", \"percent\": " + std::to_string(percent) + ", \"speed\": " + speedText + "}");
}

void JsonEvents::finished(const std::string &video, const std::string &output, bool stopped) {
    write(head("finished", video) + ", \"output\": " + quoted(output) +
          ", \"stopped\": " + (stopped ? "true" : "false") + "}");
}

void JsonEvents::failed(const std::string &video, const std::string &output, const std::string &reason) {
    write(head("failed", video) + ", \"output\": " + (output.empty() ? "null" : quoted(output)) +
          ", \"reason\": " + quoted(reason) + "}");
}

void JsonEvents::warning(const std::string &video, const std::string &message) {
    write(head("warning", video) + ", \"message\": " + quoted(message) + "}");
}

void JsonEvents::refused(const std::string &video, const std::string &reason) {
    write(head("refused", video) + ", \"output\": null, \"reason\": " + quoted(reason) + "}");
}

void JsonEvents::summary(const BatchTotals &totals, bool stopped) {
    std::ostringstream object;
    object << "{\"event\": \"summary\", \"finished\": " << totals.finished << ", \"failed\": " << totals.failed
           << ", \"refused\": " << totals.refused << ", \"cutShort\": " << totals.stopped
           << ", \"notStarted\": " << totals.notStarted
           << ", \"stopped\": " << (stopped ? "true" : "false") << ", \"outputs\": [";
    for (size_t i = 0; i < totals.outputs.size(); ++i)
        object << (i ? ", " : "") << quoted(totals.outputs[i]);
    object << "]}";
    write(object.str());
}

} // namespace melvora
