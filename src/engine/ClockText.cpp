#include "engine/ClockText.h"

#include <cmath>
#include <cstdio>

namespace melvora {

std::string clockText(double seconds) {
    const long long total = seconds > 0 ? std::llround(seconds) : 0;
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    return text;
}

} // namespace melvora
