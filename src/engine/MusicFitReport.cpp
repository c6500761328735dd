#include "engine/MusicFitReport.h"

#include "engine/ClockText.h"

#include <cmath>
#include <cstdio>

namespace melvora {
namespace {

std::string tenthsText(double seconds) {
    const double tenths = std::round(seconds * 10);
    return clockText(std::floor(tenths / 10)) + "." + std::to_string(int(std::fmod(tenths, 10)));
}

// A jump of under a second or so would read as going nowhere ("0:37→0:37"):
// there the two are given to the tenth.
std::string jumpText(const MusicFitReport::Jump &jump) {
    const std::string from = clockText(jump.fromSeconds), to = clockText(jump.toSeconds);
    if (from == to)
        return tenthsText(jump.fromSeconds) + "\u2192" + tenthsText(jump.toSeconds);
    return from + "\u2192" + to;
}

std::string percentText(double percent) {
    char text[32];
    const double shown = std::round(percent * 10) / 10;
    std::snprintf(text, sizeof text, "%+.1f %%", shown == 0 ? 0.0 : shown);
    return text;
}

} // namespace

std::string musicFitText(const MusicFitReport &report) {
    if (report.kind == MusicFitReport::Kind::None)
        return {};
    if (report.kind == MusicFitReport::Kind::Looped)
        return report.jumps.empty() ? std::string("loop: at the file's end") : "loop: " + jumpText(report.jumps[0]);
    std::string text = "fit: ";
    const std::size_t count = report.jumps.size();
    if (count == 0)
        text += "no jump";
    else
        text += std::to_string(count) + (count == 1 ? " jump, " : " jumps, ");
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0)
            text += i + 1 == count ? " and " : ", ";
        text += jumpText(report.jumps[i]);
    }
    return text + ", tempo " + percentText(report.tempoPercent);
}

} // namespace melvora
