#include "library/SafeFileName.h"

#include <gtest/gtest.h>

TEST(SafeFileName, namesExactlyOneEntryOfAtMost255BytesOfUTF8) {
    const std::string bad = "\xEF\xBF\xBD";
    const std::pair<std::string, std::string> cases[] = {
        {"AC/DC", "AC-DC"}, {"../../etc/passwd", "-..-etc-passwd"}, {"..", "Untitled"}, {".hidden", "hidden"},
        {std::string("a\0b\nc\x7f", 6), "a b c "}, {"x\xff\xc0\x80", "x" + bad + bad + bad},
        {"\xED\xA0\x80", bad + bad + bad}, {"Motörhead", "Motörhead"}, {" \t", "Untitled"}};
    for (const auto& [name, expected] : cases) EXPECT_EQ(safeFileName(name), expected) << name;
    std::string accents;
    for (int i = 0; i < 200; ++i) accents += "é";  // 251 bytes of room hold 125 whole characters
    EXPECT_EQ(safeFileName(accents, ".m4a"), accents.substr(0, 250) + ".m4a");
}
