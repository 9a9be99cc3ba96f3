#pragma once

#include <map>
#include <string>
#include <string_view>

namespace platform {

// Reads a localized strings table: `"key" = "value";` entries with /* */ and
// // comments, C-style escapes (\n, \t, \", \\, \Uxxxx, octal), unquoted
// simple tokens, and `"key";` meaning the key is its own text. UTF-8 (with or
// without a byte order mark) or UTF-16 with a byte order mark.
class StringsFile {
public:
    using Table = std::map<std::string, std::string>;

    // Entries up to the first syntax error; the error is logged with `origin`
    // and its line number.
    static Table parse(std::string_view bytes, const std::string& origin);
    static Table read(const std::string& path);

    // The text as UTF-8: a UTF-8 byte order mark removed, UTF-16 converted.
    static std::string decode(std::string_view bytes);
};

}  // namespace platform
