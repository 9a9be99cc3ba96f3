#include "Arguments.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

std::optional<int32_t> parseInt32(const std::string& text) {
    int32_t value = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
    return value;
}

std::optional<float> parseFiniteFloat(const std::string& text) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return std::nullopt;
    char* stop = nullptr;
    const float value = std::strtof(text.c_str(), &stop);
    if (*stop != '\0' || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<bool> parseBool(const std::string& text) {
    if (text == "true" || text == "yes" || text == "1") return true;
    if (text == "false" || text == "no" || text == "0") return false;
    return std::nullopt;
}

std::optional<int32_t> parseCommandCode(const std::string& text) {
    const bool allDigits = text.find_first_not_of("0123456789") == std::string::npos;
    if (text.size() == 4 && !allDigits) {
        uint32_t code = 0;
        for (unsigned char c : text) code = code << 8 | c;
        return static_cast<int32_t>(code);
    }
    if (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0) {
        uint32_t code = 0;
        const char* end = text.data() + text.size();
        auto [stop, error] = std::from_chars(text.data() + 2, end, code, 16);
        if (text.size() == 2 || error != std::errc() || stop != end) return std::nullopt;
        return static_cast<int32_t>(code);
    }
    return parseInt32(text);
}

std::string fourCharacterText(int32_t code) {
    std::string text = "'";
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = static_cast<char>((static_cast<uint32_t>(code) >> shift) & 0xFF);
        if (!std::isprint(static_cast<unsigned char>(c))) return "";
        text += c;
    }
    return text + "'";
}

platform::Result<TypedValue> parseTypedValue(const std::string& text) {
    using platform::PropertyList;
    const size_t equals = text.find('=');
    const size_t colon = equals == std::string::npos ? std::string::npos : text.find(':', equals);
    if (equals == 0 || colon == std::string::npos)
        return platform::Status::failure("expected key=type:value, got \"" + text + "\"");
    const std::string key = text.substr(0, equals);
    const std::string type = text.substr(equals + 1, colon - equals - 1);
    const std::string value = text.substr(colon + 1);
    if (type == "string") return TypedValue{key, PropertyList::string(value)};
    if (type == "int") {
        if (auto number = parseInt32(value)) return TypedValue{key, PropertyList::integer(*number)};
    } else if (type == "float") {
        if (auto number = parseFiniteFloat(value)) return TypedValue{key, PropertyList::real(*number)};
    } else if (type == "bool") {
        if (auto flag = parseBool(value)) return TypedValue{key, PropertyList::boolean(*flag)};
    } else {
        return platform::Status::failure("unknown type \"" + type + "\" in \"" + text +
                                         "\" (use int, float, bool or string)");
    }
    return platform::Status::failure("\"" + value + "\" is not a valid " + type + " (in \"" + text + "\")");
}

std::string describeValue(const platform::PropertyList& value) {
    using Type = platform::PropertyList::Type;
    switch (value.type()) {
        case Type::Integer: {
            const int64_t number = value.asInteger();
            std::string code = number >= INT32_MIN && number <= INT32_MAX
                ? fourCharacterText(static_cast<int32_t>(number)) : "";
            return std::to_string(number) + (code.empty() ? "" : " " + code) + " (int)";
        }
        case Type::Real: return std::to_string(value.asReal()) + " (float)";
        case Type::Boolean: return std::string(value.asBool() ? "true" : "false") + " (bool)";
        case Type::String: return std::string(1, '"').append(value.asString()).append("\" (string)");
        default: return "(a value of another kind)";
    }
}
