#pragma once

#include <string>

namespace melvora {

// Name of the file that proves a folder takes new files.
inline constexpr const char *kWriteProbeFileName = "jlewhqlhqwenqfwk.mp4";

// True when a file, folder or symbolic link (even a dangling one) has that name.
bool pathExists(const std::string &path);

// True when path names an existing folder.
bool folderExists(const std::string &path);

// The write test: creates a new file in the folder and removes it again.
// An existing file of the probe's name is never opened, truncated or
// removed; another fresh name is tried instead. why, when given, gets the
// system's reason for a refusal.
bool folderAcceptsNewFile(const std::string &folder, std::string *why = nullptr);

// folder + "/" + name, without doubling a trailing separator.
std::string joinPath(const std::string &folder, const std::string &name);

} // namespace melvora
