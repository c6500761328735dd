#pragma once

#include <string_view>

namespace melvora {

// A section and a key of an INI file; names compare without regard to case.
struct IniKey {
    std::string_view section;
    std::string_view key;
};

} // namespace melvora
