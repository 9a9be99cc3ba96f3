#pragma once

#include "platform/Result.h"

#include <sys/types.h>

#include <string>

namespace platform {

// $HOME, or the password database's home folder when HOME is unset or empty.
std::string homeDirectory();

// The XDG base folders: the variable's value when it is an absolute path
// (relative values are invalid by the XDG rules), else the default under home.
std::string userConfigDirectory();  // $XDG_CONFIG_HOME, ~/.config
std::string userDataDirectory();    // $XDG_DATA_HOME, ~/.local/share
std::string userCacheDirectory();   // $XDG_CACHE_HOME, ~/.cache
std::string userStateDirectory();   // $XDG_STATE_HOME, ~/.local/state
// $XDG_RUNTIME_DIR when it names a folder; without one, a private folder
// trovario-<uid> in $TMPDIR (default /tmp), created with mode 0700 and refused
// when it is a symlink, belongs to another user or is open to others.
Result<std::string> userRuntimeDirectory();

// The user's XDG music folder, else $HOME/Music.
std::string musicDirectory();
// <music folder>/Trovario, where exported tracks go.
std::string exportFolder();
// <cache folder>/trovario/trov_scratch.caf, the capture's scratch recording.
// The folder is not created here.
std::string scratchRecordingPath();

// The folder of the running executable; empty when /proc cannot tell.
std::string executableDirectory();
// The share folder of the prefix an installed executable runs from
// (<prefix>/bin/../share); empty when /proc cannot tell.
std::string installedShareDirectory();
// A leading "~" or "~/" becomes the home folder; other paths are unchanged.
std::string expandTildeInPath(const std::string& path);
// Tilde expanded, "." and empty components dropped, ".." resolved lexically in
// absolute paths, no trailing slash.
std::string standardizePath(const std::string& path);
// Folders of the user's documents (music, playlists): what the umask leaves
// of this, as any program creating a document folder gives.
constexpr mode_t kDocumentFolderMode = 0777;
// Creates the folder and its missing parents; new ones get `mode` less the
// umask (private by default).
Status createDirectories(const std::string& path, mode_t mode = 0700);

}  // namespace platform
