#pragma once

// Includes no FFmpeg header: both front ends and the engine's messages use it.

#include <string>

namespace melvora {

// A length as a clock shows it: "0:42", "12:05", "1:02:03" (rounded to the
// second, hours only when there are any).
std::string clockText(double seconds);

} // namespace melvora
