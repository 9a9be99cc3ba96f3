#pragma once

#include <string>

namespace platform {

// $HOME, or the password database's home folder when HOME is unset or empty.
std::string homeDirectory();
// $XDG_CONFIG_HOME when set to an absolute path, else ~/.config.
std::string userConfigDirectory();
// The folder of the running executable; empty when /proc cannot tell.
std::string executableDirectory();
// A leading "~" or "~/" becomes the home folder; other paths are unchanged.
std::string expandTildeInPath(const std::string& path);
// Tilde expanded, "." and empty components dropped, ".." resolved lexically in
// absolute paths, no trailing slash.
std::string standardizePath(const std::string& path);
// Creates the folder and its missing parents (mode 0700 for new ones).
bool createDirectories(const std::string& path);

}  // namespace platform
