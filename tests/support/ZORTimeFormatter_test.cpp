#include "support/ZORTimeFormatter.h"

#include <gtest/gtest.h>

#include "../platform/TemporaryDirectory.h"

// Fractions round with an addend of 0.51 of the last place and carry; counts
// past the signed 32-bit range of whole seconds, a rate of 0 is read as 1.
TEST(ZORTimeFormatter, ClockTexts) {
    const struct {
        uint32_t units;
        int32_t rate, precision;
        bool hours;
        const char* text;
    } cases[] = {
        {44100, 44100, 0, false, "0:01"}, {44100, 44100, 0, true, "00:00:01"}, {0, 44100, 0, false, "0:00"},
        {3661 * 44100, 44100, 0, false, "1:01:01"}, {100 * 3600 * 1000u, 1000, 0, false, "100:00:00"},
        {22050, 44100, 1, false, "0:00.5"}, {22050, 44100, 3, false, "0:00.500"}, {22050, 44100, -7, false, "0:00.500"},
        {55125, 44100, 1, false, "0:01.2"}, {55125, 44100, 2, false, "0:01.25"}, {2645999, 44100, 2, false, "1:00.00"},
        {495, 1000000, 3, false, "0:00.001"}, {489, 1000000, 3, false, "0:00.000"}, {65, 0, 0, false, "1:05"},
        {4294967295u, 1, 0, false, "1193046:28:15"}, {4294967295u, 44100, 2, false, "27:03:11.54"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ZORTimeFormatter::stringForUInt32Value(c.units, c.rate, c.precision, c.hours), c.text)
            << c.units << " at " << c.rate;
    EXPECT_EQ(ZORTimeFormatter::numericStringForUInt32ValueInSeconds(65, 2, true), "00:01:05");
}

TEST(ZORTimeFormatter, WordedFormFollowsTheBundleOrATranslationAndSurvivesABrokenOne) {
    EXPECT_EQ(ZORTimeFormatter::humanizedStringForUInt32ValueInSeconds(3725, 0), "1 hours, 2 minutes, 5 seconds");
    EXPECT_EQ(ZORTimeFormatter::humanizedStringForUInt32ValueInSeconds(3725, -1), "1 hours, 2 minutes");
    EXPECT_EQ(ZORTimeFormatter::humanizedStringForUInt32ValueInSeconds(5, -1), "0 minutes, 5 seconds");
    TemporaryDirectory root;
    TemporaryDirectory::write(root / "TrovarioAgent.bundle/de.lproj/Localizable.strings",
                              "\"HOURS_STR_WITH_FORMAT_FOR_INT\" = \"%d Std.\";\n"
                              "\"MINUTES_STR_WITH_DUAL_FORMATS\" = \"%1$@%2$d Min.\";\n"
                              "\"SECONDS_STR_WITH_DUAL_FORMATS\" = \"%@%d Sek. %s %d %@ 100%%\";\n");
    ScopedEnvironment resources("TROVARIO_RESOURCE_DIR", root.path().c_str());
    ScopedEnvironment language("LANGUAGE", nullptr);
    ScopedEnvironment locale("LC_ALL", "de_DE.UTF-8");
    // Unknown or surplus placeholders print nothing instead of reading beyond the arguments.
    EXPECT_EQ(ZORTimeFormatter::humanizedStringForUInt32ValueInSeconds(3725, 0), "1 Std., 2 Min., 5 Sek.    100%");
}

TEST(ZORTimeFormatter, InstanceReadsClockTextsBackAndWritesThemAtItsRateAndPrecision) {
    ZORTimeFormatter formatter;
    std::any value;
    for (const auto& [text, units] : std::vector<std::pair<std::string, uint32_t>>{
             {"1:02:03", 164184300u}, {"5:30", 873180000u}, {" 5 : 30.9", 14553000u},
             {"0:00:01 and more", 44100u}, {"27:00:00", 27u * 3600 * 44100}}) {
        ASSERT_TRUE(formatter.getObjectValue(value, text, nullptr)) << text;
        EXPECT_EQ(std::any_cast<uint32_t>(value), units) << text;
    }

    value = std::string("untouched");
    for (const char* text : {"5", "abc", "", "1:02:", "1:x", ":30", "-1:00", "28:00:00"}) {
        std::string error;
        EXPECT_FALSE(formatter.getObjectValue(value, text, &error)) << text;
        EXPECT_EQ(error, "Unrecognized time format") << text;
    }
    EXPECT_EQ(std::any_cast<std::string>(value), "untouched");
    EXPECT_FALSE(formatter.getObjectValue(value, "5", nullptr));

    // A rate below 1 is refused: the formatter divides by it.
    for (int32_t rate : {1000, 0, -5}) formatter.setUnitsPerSecond(rate);
    formatter.setDisplayPrecision(2);
    EXPECT_EQ(formatter.stringForObjectValue(std::any(uint32_t(61500))), "1:01.50");
    EXPECT_EQ(formatter.stringForObjectValue(std::any(61500.0)), "1:01.50");
    EXPECT_EQ(formatter.stringForObjectValue(std::any(int64_t(3600000)), 0, true), "01:00:00");
    EXPECT_FALSE(formatter.stringForObjectValue(std::any(std::string("61500"))).has_value());
}
