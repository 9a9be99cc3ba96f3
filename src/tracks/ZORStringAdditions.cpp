#include "tracks/ZORStringAdditions.h"

#include <glib.h>

#include <memory>

namespace ZORStringAdditions {
namespace {

// Invalid UTF-8 is first made valid (U+FFFD for each bad byte), so that text
// from any source can be trimmed.
std::u16string toUTF16(const std::string& text) {
    std::unique_ptr<gchar, decltype(&g_free)> valid(g_utf8_make_valid(text.data(), gssize(text.size())), g_free);
    glong length = 0;
    std::unique_ptr<gunichar2, decltype(&g_free)> units(g_utf8_to_utf16(valid.get(), -1, nullptr, &length, nullptr),
                                                        g_free);
    if (!units) return {};
    return std::u16string(reinterpret_cast<const char16_t*>(units.get()), size_t(length));
}

std::string toUTF8(const std::u16string& units) {
    glong length = 0;
    std::unique_ptr<gchar, decltype(&g_free)> text(
        g_utf16_to_utf8(reinterpret_cast<const gunichar2*>(units.data()), glong(units.size()), nullptr, &length,
                        nullptr),
        g_free);
    return text ? std::string(text.get(), size_t(length)) : std::string();
}

}  // namespace

bool isWhitespaceOrNewline(char16_t unit) {
    return (unit >= 0x09 && unit <= 0x0D) || unit == 0x20 || unit == 0x85 || unit == 0xA0 || unit == 0x1680 ||
           (unit >= 0x2000 && unit <= 0x200A) || unit == 0x2028 || unit == 0x2029 || unit == 0x202F ||
           unit == 0x205F || unit == 0x3000;
}

CharacterSet whitespaceAndNewlineCharacterSet() {
    return isWhitespaceOrNewline;
}

std::string workaroundStringByTrimmingCharactersInSet(const std::string& text, const CharacterSet& set) {
    std::u16string units = toUTF16(text);
    if (units.empty()) return {};
    if (units.size() == 1) return isWhitespaceOrNewline(units[0]) ? std::string() : toUTF8(units);
    size_t first = 0, last = units.size();
    while (first < last && set(units[first])) ++first;
    while (last > first && set(units[last - 1])) --last;
    return toUTF8(units.substr(first, last - first));
}

std::string stringByRemovingCharactersInSet(const std::string& text, const CharacterSet& set) {
    std::u16string units = toUTF16(text);
    std::u16string kept;
    for (char16_t unit : units)
        if (!set(unit)) kept.push_back(unit);
    return toUTF8(kept);
}

}  // namespace ZORStringAdditions
