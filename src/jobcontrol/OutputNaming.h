#pragma once

#include "engine/OutputClaim.h"

#include <cstddef>
#include <optional>
#include <string>

namespace melvora {

// The file name part of a path: everything after the last "/", or the whole path.
std::string fileNameOfPath(const std::string &path);

// The k-th alternative of a base path: "name(k).ext", the counter going
// before the last dot of the file name, or at the end when it has none; the
// base path itself for a negative counter. A file name longer than
// nameLimit bytes is shortened at the end of its stem, at a UTF-8
// character's boundary.
std::string numberedCandidate(const std::string &basePath, int counter, std::size_t nameLimit = 255);

// Chooses the output path for a video in a folder: folder/name.ext, else
// folder/name(0).ext, name(1).ext, ... The chosen name is claimed by
// creating it exclusively, so no existing file is ever overwritten, even
// when another program takes a name at the same moment. Empty on failure,
// with the reason in error. claimed, when given, tells which file was made.
std::optional<std::string> claimOutputPath(const std::string &folder, const std::string &videoPath,
                                           std::string &error, FileIdentity *claimed = nullptr);

} // namespace melvora
