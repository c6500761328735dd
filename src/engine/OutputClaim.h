#pragma once

// The output file's life outside the muxer: claimed by creating it
// exclusively, and removed again only while it is still that very file.

#include <cstdint>
#include <string>

namespace melvora {

// Which file a path named when we created or opened it.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool known() const { return inode != 0; }
};

// Creates path as a new empty file, never following a link and never
// touching an existing file. 0, or the negative errno (-EEXIST when taken).
int claimNewFile(const std::string &path, FileIdentity &identity);

// Removes path when it is still the regular file identified, so that a file
// put in its place by someone else is never removed. True when removed.
bool removeIfSameFile(const std::string &path, const FileIdentity &identity);

// Removes path when it is still the identified file and holds no byte.
bool removeIfSameEmptyFile(const std::string &path, const FileIdentity &identity);

} // namespace melvora
