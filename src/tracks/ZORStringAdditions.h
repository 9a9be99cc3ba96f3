#pragma once

#include <functional>
#include <string>

// Trimming and filtering of UTF-8 strings by UTF-16 unit, as the system's
// string class does.
namespace ZORStringAdditions {

using CharacterSet = std::function<bool(char16_t)>;

// Unicode white space and line breaks (tab, line feed to carriage return,
// space, U+0085, U+00A0, U+1680, U+2000 to U+200A, U+2028, U+2029, U+202F,
// U+205F, U+3000).
bool isWhitespaceOrNewline(char16_t unit);
CharacterSet whitespaceAndNewlineCharacterSet();

// Without the leading and trailing units that belong to `set`. A string of
// one unit is tested against white space and line breaks, not against `set`.
std::string workaroundStringByTrimmingCharactersInSet(const std::string& text, const CharacterSet& set);

// The units of `text` in order, leaving out every unit that belongs to `set`.
std::string stringByRemovingCharactersInSet(const std::string& text, const CharacterSet& set);

}  // namespace ZORStringAdditions
