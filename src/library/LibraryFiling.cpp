#include "library/LibraryFiling.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kMaxNameBytes = 255;
// Room for " 999.ext" when a clash numbers the name.
constexpr size_t kNumberAndExtensionBytes = 16;
constexpr int kMaxClashNumber = 9999;

// Length of the valid UTF-8 sequence at `i`, 0 when it is not one.
size_t utf8Length(const std::string& text, size_t i) {
    unsigned char lead = static_cast<unsigned char>(text[i]);
    size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k)
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
    return length;
}

// One path component from metadata: no '/', NUL or control characters, no
// leading dot (so neither "." nor ".." nor a hidden file), valid UTF-8 cut at
// a character boundary within `maxBytes`.
std::string safeName(const std::string& text, const std::string& fallback, size_t maxBytes) {
    std::string name;
    for (size_t i = 0; i < text.size();) {
        size_t length = utf8Length(text, i);
        if (length == 0) {
            ++i;
            continue;
        }
        unsigned char c = static_cast<unsigned char>(text[i]);
        std::string piece = c == '/' ? "_" : (c < 0x20 || c == 0x7F) ? " " : text.substr(i, length);
        if (name.size() + piece.size() > maxBytes) break;
        name += piece;
        i += length;
    }
    size_t start = name.find_first_not_of(". ");
    name = start == std::string::npos ? "" : name.substr(start);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    return name.empty() ? fallback : name;
}

const std::string& firstPresent(const ZORAudioTrackInfo::Text& first, const ZORAudioTrackInfo::Text& second,
                                const std::string& otherwise) {
    if (first && !first->empty()) return *first;
    if (second && !second->empty()) return *second;
    return otherwise;
}

std::string numbered(const std::string& path, int number) {
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = path.size();
    return path.substr(0, dot) + " " + std::to_string(number) + path.substr(dot);
}

}  // namespace

std::string LibraryFiling::relativePath(const ZORAudioTrackInfo& info, const std::string& fallbackTitle,
                                        const std::string& extension) {
    static const std::string kUnknownArtist = "Unknown Artist", kUnknownAlbum = "Unknown Album";
    std::string artist = safeName(firstPresent(info.albumArtistName(), info.trackArtistName(), kUnknownArtist),
                                  kUnknownArtist, kMaxNameBytes);
    std::string album = safeName(firstPresent(info.albumTitle(), std::nullopt, kUnknownAlbum), kUnknownAlbum,
                                 kMaxNameBytes);
    char prefix[16] = "";
    if (info.trackNumber() > 0) std::snprintf(prefix, sizeof prefix, "%02d ", info.trackNumber());
    std::string title = safeName(std::string(prefix) + firstPresent(info.trackTitle(), std::nullopt, fallbackTitle),
                                 "Untitled", kMaxNameBytes - kNumberAndExtensionBytes);
    return artist + "/" + album + "/" + title + "." + extension;
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
