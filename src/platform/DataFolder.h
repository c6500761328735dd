#pragma once

#include <string>
#include <string_view>

namespace melvora {

// The program's read-only data (languages/, the default setting.ini, help/, samples/): beside
// the executable in a build folder or a portable copy, ../share/melvora beside bin/ in an
// installed tree. Relative to the executable, so an install under any prefix or DESTDIR works.
std::string dataFolder();

// True for an installed tree: no languages/ beside the executable, but ../share/melvora there.
bool isInstalledLayout();

// The path of a data file such as "languages/english.ini": beside the executable when it is
// there, else the installed one when that is there, else the path beside the executable.
std::string dataFile(std::string_view relativePath);

// $XDG_CONFIG_HOME/melvora (an absolute XDG_CONFIG_HOME only), else $HOME/.config/melvora;
// "" when neither variable gives a folder.
std::string userConfigFolder();

} // namespace melvora
