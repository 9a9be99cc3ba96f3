// The playlist file as found on disk (edited by hand or by other players),
// given one more entry: the entry must be in it exactly once afterwards.

#include <sys/stat.h>

#include <sstream>

#include "fuzz/FuzzSupport.h"
#include "library/TrovarioPlaylist.h"

namespace {

constexpr const char* kEntry = "Trovario/Song.m4a";

int countEntry(const std::string& playlist) {
    std::istringstream lines(playlist);
    int count = 0;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        count += line == std::string("../") + kEntry;
    }
    return count;
}

std::string contentOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    mkdir((fuzz::scratchHome() + "/Playlists").c_str(), 0700);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string music = fuzz::scratchHome();
    const std::string before(fuzz::bytesOf(data, size));
    fuzz::writeFile(TrovarioPlaylist::path(music), before);
    if (!TrovarioPlaylist::add(music, kEntry, 215, "A Song")) fuzz::violation("a readable playlist took no entry");
    const std::string after = contentOf(TrovarioPlaylist::path(music));
    if (countEntry(after) != std::max(1, countEntry(before))) fuzz::violation("the entry is not in the playlist once");
    if (countEntry(before) == 0 && after.rfind("#EXTM3U", 0) != 0) fuzz::violation("a changed playlist has no header");
    return 0;
}
