#pragma once

#include <string>

#include "platform/Result.h"

// The playlist "Trovario": an extended M3U file (UTF-8) whose entries are
// paths relative to the playlist's folder, each with its duration.
class TrovarioPlaylist {
public:
    // <music folder>/Playlists/Trovario.m3u8
    static std::string path(const std::string& musicFolder);
    // Adds the file unless the playlist already holds it; the playlist is
    // replaced as a whole, so a failure leaves the old one. `relativePath` is
    // the file's path below the music folder.
    static platform::Status add(const std::string& musicFolder, const std::string& relativePath, int seconds,
                                const std::string& title);
};
