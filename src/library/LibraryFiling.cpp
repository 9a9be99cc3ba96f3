#include "library/LibraryFiling.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "library/SafeFileName.h"

namespace {

constexpr int kMaxClashNumber = 9999;

const std::string& firstPresent(const ZORAudioTrackInfo::Text& first, const ZORAudioTrackInfo::Text& second,
                                const std::string& otherwise) {
    if (first && !first->empty()) return *first;
    if (second && !second->empty()) return *second;
    return otherwise;
}

// "<stem> N.<ext>"; the stem is already a safe name, so safeFileName only
// cuts it to leave room for the number.
std::string numbered(const std::string& path, int number) {
    const size_t slash = path.rfind('/') + 1;
    const std::string name = path.substr(slash);
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) dot = name.size();
    return path.substr(0, slash) + safeFileName(name.substr(0, dot), " " + std::to_string(number) + name.substr(dot));
}

}  // namespace

std::string LibraryFiling::relativePath(const ZORAudioTrackInfo& info, const std::string& fallbackTitle,
                                        const std::string& extension) {
    static const std::string kUnknownArtist = "Unknown Artist", kUnknownAlbum = "Unknown Album";
    const std::string artist =
        safeFileName(firstPresent(info.albumArtistName(), info.trackArtistName(), kUnknownArtist), {}, kUnknownArtist);
    const std::string album =
        safeFileName(firstPresent(info.albumTitle(), std::nullopt, kUnknownAlbum), {}, kUnknownAlbum);
    char prefix[16] = "";
    if (info.trackNumber() > 0) std::snprintf(prefix, sizeof prefix, "%02d ", info.trackNumber());
    const std::string title = std::string(prefix) + firstPresent(info.trackTitle(), std::nullopt, fallbackTitle);
    return artist + "/" + album + "/" + safeFileName(title, "." + extension);
}

platform::Result<std::string> LibraryFiling::placeWithoutOverwriting(const std::string& file,
                                                                      const std::string& destination) {
    // The name is claimed with an exclusive create, so a file that appears
    // meanwhile is never replaced; the rename then replaces only our own empty
    // claim. Unlike a hard link this works on every file system (FAT included).
    for (int number = 1; number <= kMaxClashNumber; ++number) {
        std::string candidate = number == 1 ? destination : numbered(destination, number);
        int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) return platform::Status::failure("cannot file " + candidate + ": " + std::strerror(errno));
        close(fd);
        if (rename(file.c_str(), candidate.c_str()) == 0) return candidate;
        std::string why = std::strerror(errno);
        unlink(candidate.c_str());
        return platform::Status::failure("cannot file " + candidate + ": " + why);
    }
    return platform::Status::failure("cannot file " + destination + ": too many files of that name");
}
