#pragma once

#include <string>

namespace melvora {

// Folder of the running executable, without a trailing separator. Settings
// and language files live beside the program, so every reader asks afresh.
std::string executableFolder();

// File name of the running executable without its extension: the title of
// message boxes.
std::string executableBaseName();

// Tests point the executable folder elsewhere; an empty string restores the real one.
void overrideExecutableFolderForTesting(const std::string &folder);

} // namespace melvora
