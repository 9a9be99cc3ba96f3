#include "library/SafeFileName.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct NameCase {
    std::string name, expected;
};

TEST(SafeFileName, namesExactlyOneEntryInItsFolder) {
    const NameCase cases[] = {
        {"Hey Jude", "Hey Jude"},
        {"AC/DC", "AC-DC"},
        {"../../etc/passwd", "-..-etc-passwd"},
        {"..", "Untitled"},
        {".hidden", "hidden"},
        {std::string("a\0b\nc\x7f", 6), "a b c "},
        {"bad \xff\xc0\x80 bytes", "bad \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD bytes"},
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"Motörhead", "Motörhead"},
        {"", "Untitled"},
        {" \t", "Untitled"},
    };
    for (const auto& c : cases) EXPECT_EQ(safeFileName(c.name), c.expected) << c.name;
}

TEST(SafeFileName, longNamesKeepTheExtensionAndWholeCharacters) {
    std::string name;
    for (int i = 0; i < 200; ++i) name += "é";  // two bytes each
    const std::string safe = safeFileName(name, ".m4a");
    EXPECT_LE(safe.size(), 255u);
    EXPECT_EQ(safe.substr(safe.size() - 4), ".m4a");
    EXPECT_EQ(safe.size(), 4 + 250u);  // 251 bytes of room hold 125 whole characters
    EXPECT_EQ(safeFileName(std::string(300, 'a')).size(), 255u);
}

}  // namespace
