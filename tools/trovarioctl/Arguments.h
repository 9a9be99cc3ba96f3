#pragma once

#include "platform/PropertyList.h"
#include "platform/Result.h"

#include <cstdint>
#include <optional>
#include <string>

// Strict parsers for trovarioctl's arguments: the whole text must be the value.
std::optional<int32_t> parseInt32(const std::string& text);
std::optional<float> parseFiniteFloat(const std::string& text);
std::optional<bool> parseBool(const std::string& text);

// A command code: four characters (not all digits) such as rTlm, or a
// number in decimal or 0x hexadecimal.
std::optional<int32_t> parseCommandCode(const std::string& text);
// The code as 'abcd' when its four bytes are printable, else "".
std::string fourCharacterText(int32_t code);

struct TypedValue {
    std::string key;
    platform::PropertyList value;
};
// key=type:value with type int, float, bool or string; the failure says what is wrong.
platform::Result<TypedValue> parseTypedValue(const std::string& text);

// The value as trovarioctl shows it, with its kind.
std::string describeValue(const platform::PropertyList& value);
