#include "library/TrovarioPlaylist.h"

#include <unistd.h>

#include <fstream>
#include <sstream>

#include "platform/AtomicFile.h"
#include "platform/Paths.h"

namespace {

constexpr const char* kHeader = "#EXTM3U";

// Lines may end in CR LF where another program wrote the playlist.
bool holds(const std::string& playlist, const std::string& entry) {
    std::istringstream lines(playlist);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == entry) return true;
    }
    return false;
}

// A newline in a title would end the entry's line early.
std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

}  // namespace

std::string TrovarioPlaylist::path(const std::string& musicFolder) { return musicFolder + "/Playlists/Trovario.m3u8"; }

platform::Status TrovarioPlaylist::add(const std::string& musicFolder, const std::string& relativePath, int seconds,
                                       const std::string& title) {
    const std::string file = path(musicFolder);
    platform::Status created = platform::createDirectories(musicFolder + "/Playlists", platform::kDocumentFolderMode);
    if (!created) return created;
    std::string playlist;
    if (std::ifstream in(file, std::ios::binary); in)
        playlist.assign(std::istreambuf_iterator<char>(in), {});
    else if (access(file.c_str(), F_OK) == 0)
        return platform::Status::failure("cannot read the playlist " + file + "; it was left as it is");
    const std::string entry = "../" + relativePath;
    if (holds(playlist, entry)) return platform::Status::success();
    if (playlist.rfind(kHeader, 0) != 0) playlist = std::string(kHeader) + "\n" + playlist;
    if (playlist.back() != '\n') playlist += '\n';
    playlist += "#EXTINF:" + std::to_string(seconds) + "," + oneLine(title) + "\n" + entry + "\n";
    if (platform::Status written = platform::writeFileAtomically(file, playlist, 0644); !written)
        return platform::Status::failure("cannot update the playlist " + file + ": " + written.message());
    return platform::Status::success();
}
