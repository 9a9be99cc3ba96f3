#include "library/SafeFileName.h"

#include <cstdint>

namespace {

constexpr size_t kMaxNameBytes = 255;
constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// The length of the valid UTF-8 sequence at the start of `text`, 0 when it is
// not one (overlong forms, surrogates and values past U+10FFFF included).
size_t validSequenceLength(std::string_view text) {
    const auto byte = [&](size_t i) { return uint8_t(text[i]); };
    const uint8_t lead = byte(0);
    if (lead < 0x80) return 1;
    size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || text.size() < length) return 0;
    for (size_t i = 1; i < length; ++i)
        if ((byte(i) & 0xC0) != 0x80) return 0;
    const uint8_t second = byte(1);
    if (lead == 0xE0 && second < 0xA0) return 0;
    if (lead == 0xED && second >= 0xA0) return 0;
    if (lead == 0xF0 && second < 0x90) return 0;
    if (lead == 0xF4 && second >= 0x90) return 0;
    return length;
}

// Every character of `name` as it may stand in a file name.
std::string cleanCharacters(std::string_view name) {
    std::string clean;
    while (!name.empty()) {
        const size_t length = validSequenceLength(name);
        const unsigned char first = uint8_t(name[0]);
        if (length == 0) clean += kReplacementCharacter;
        else if (first == '/') clean += '-';
        else if (first < 0x20 || first == 0x7F) clean += ' ';
        else clean += name.substr(0, length);
        name.remove_prefix(length == 0 ? 1 : length);
    }
    return clean;
}

// `text` cut to at most `limit` bytes without splitting a character.
std::string_view truncated(std::string_view text, size_t limit) {
    if (text.size() <= limit) return text;
    size_t end = limit;
    while (end > 0 && (uint8_t(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

// Without leading dots and spaces (no hidden file, no "." or "..") and
// trailing spaces, which other systems drop or refuse: "Band " and "Band"
// name one folder.
std::string_view trimmed(std::string_view text) {
    const size_t start = text.find_first_not_of(". ");
    if (start == std::string_view::npos) return {};
    return text.substr(start, text.find_last_not_of(' ') + 1 - start);
}

}  // namespace

std::string safeFileName(std::string_view name, std::string_view extension, std::string_view fallback) {
    const size_t room = extension.size() < kMaxNameBytes ? kMaxNameBytes - extension.size() : 1;
    const std::string clean = cleanCharacters(name);
    std::string kept(trimmed(truncated(trimmed(clean), room)));
    if (kept.empty()) kept = truncated(cleanCharacters(fallback), room);
    return kept + std::string(extension);
}
