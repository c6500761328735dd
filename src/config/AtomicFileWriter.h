#pragma once

#include <string>
#include <string_view>

namespace melvora {

// Replaces a file's contents so that a crash, a full disk or a failed write never leaves it
// truncated: the bytes go to a temporary file in the same folder, are flushed to disk, and the
// temporary file is renamed over the target. On failure the target is untouched and the
// temporary file is removed.
class AtomicFileWriter {
public:
    static bool write(const std::string &path, std::string_view bytes, std::string *error = nullptr);
};

} // namespace melvora
