#include "support/ZORTimeFormatter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/Bundle.h"

namespace {

class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : mName(name) {
        if (const char* old = getenv(name)) mOld = old;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedVariable() { mOld ? setenv(mName, mOld->c_str(), 1) : unsetenv(mName); }

private:
    const char* mName;
    std::optional<std::string> mOld;
};

}  // namespace

TEST(ZORTimeFormatter, ClockTextOfUnitsWithAndWithoutHours) {
    EXPECT_EQ(ZORTimeFormatter::stringForUInt32Value(44100, 44100, 0, false), "0:01");
    EXPECT_EQ(ZORTimeFormatter::stringForUInt32Value(44100, 44100, 0, true), "00:00:01");
    EXPECT_EQ(ZORTimeFormatter::stringForUInt32Value(3661 * 44100, 44100, 0, false), "1:01:01");
    EXPECT_EQ(ZORTimeFormatter::stringForUInt32Value(3661 * 44100, 44100, 0, true), "01:01:01");
    EXPECT_EQ(ZORTimeFormatter::stringForUInt32Value(0, 44100, 0, false), "0:00");
    EXPECT_EQ(ZORTimeFormatter::stringForUInt32Value(100 * 3600 * 1000u, 1000, 0, false), "100:00:00");
}

TEST(ZORTimeFormatter, FractionsRoundWithAnAddendOfFiftyOneHundredthsAndCarry) {
    EXPECT_EQ(ZORTimeFormatter::stringForUInt32Value(22050, 44100, 2, false), "0:00.50");
    EXPECT_EQ(ZORTimeFormatter::stringForUInt32Value(22050, 44100, 1, false), "0:00.5");
    EXPECT_EQ(ZORTimeFormatter::stringForUInt32Value(22050, 44100, 3, false), "0:00.500");
    EXPECT_EQ(ZORTimeFormatter::stringForUInt32Value(22050, 44100, -7, false), "0:00.500");
    EXPECT_EQ(ZORTimeFormatter::stringForUInt32Value(55125, 44100, 1, false), "0:01.2");
    EXPECT_EQ(ZORTimeFormatter::stringForUInt32Value(55125, 44100, 2, false), "0:01.25");
    EXPECT_EQ(ZORTimeFormatter::stringForUInt32Value(2645999, 44100, 2, false), "1:00.00");
    EXPECT_EQ(ZORTimeFormatter::stringForUInt32Value(495, 1000000, 3, false), "0:00.001");
    EXPECT_EQ(ZORTimeFormatter::stringForUInt32Value(489, 1000000, 3, false), "0:00.000");
}

TEST(ZORTimeFormatter, ExtremeCountsAndRatesStayDefined) {
    // Past the signed 32-bit range of whole seconds, and a rate of 0 read as 1.
    EXPECT_EQ(ZORTimeFormatter::stringForUInt32Value(4294967295u, 1, 0, false), "1193046:28:15");
    EXPECT_EQ(ZORTimeFormatter::stringForUInt32Value(65, 0, 0, false), "1:05");
    EXPECT_EQ(ZORTimeFormatter::stringForUInt32Value(4294967295u, 44100, 2, false), "27:03:11.54");
}

TEST(ZORTimeFormatter, WholeSeconds) {
    EXPECT_EQ(ZORTimeFormatter::numericStringForUInt32ValueInSeconds(65, 2, false), "1:05");
    EXPECT_EQ(ZORTimeFormatter::numericStringForUInt32ValueInSeconds(65, 0, true), "00:01:05");
    EXPECT_EQ(ZORTimeFormatter::numericStringForUInt32ValueInSeconds(7322, 0, false), "2:02:02");
}

TEST(ZORTimeFormatter, WordedFormFromTheAgentBundle) {
    EXPECT_EQ(ZORTimeFormatter::humanizedStringForUInt32ValueInSeconds(3725, 0), "1 hours, 2 minutes, 5 seconds");
    EXPECT_EQ(ZORTimeFormatter::humanizedStringForUInt32ValueInSeconds(3725, -1), "1 hours, 2 minutes");
    EXPECT_EQ(ZORTimeFormatter::humanizedStringForUInt32ValueInSeconds(5, -1), "0 minutes, 5 seconds");
    EXPECT_EQ(ZORTimeFormatter::humanizedStringForUInt32ValueInSeconds(0, 0), "0 minutes, 0 seconds");
}

TEST(ZORTimeFormatter, WordedFormFollowsATranslationAndSurvivesABrokenOne) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("trov-tf-" + std::to_string(getpid()));
    fs::create_directories(root / "TrovarioAgent.bundle/de.lproj");
    std::ofstream(root / "TrovarioAgent.bundle/de.lproj/Localizable.strings")
        << "\"HOURS_STR_WITH_FORMAT_FOR_INT\" = \"%d Std.\";\n"
           "\"MINUTES_STR_WITH_DUAL_FORMATS\" = \"%1$@%2$d Min.\";\n"
           "\"SECONDS_STR_WITH_DUAL_FORMATS\" = \"%@%d Sek. %s %d %@ 100%%\";\n";
    std::string text;
    {
        ScopedVariable resources("TROVARIO_RESOURCE_DIR", root.c_str());
        ScopedVariable language("LANGUAGE", nullptr);
        ScopedVariable locale("LC_ALL", "de_DE.UTF-8");
        text = ZORTimeFormatter::humanizedStringForUInt32ValueInSeconds(3725, 0);
    }
    fs::remove_all(root);
    // Unknown or surplus placeholders print nothing instead of reading beyond the arguments.
    EXPECT_EQ(text, "1 Std., 2 Min., 5 Sek.    100%");
}

TEST(ZORTimeFormatter, InstanceUsesItsRateAndPrecision) {
    ZORTimeFormatter formatter;
    EXPECT_EQ(formatter.unitsPerSecond(), 44100);
    EXPECT_EQ(formatter.displayPrecision(), 0);
    formatter.setUnitsPerSecond(0);
    formatter.setUnitsPerSecond(-5);
    EXPECT_EQ(formatter.unitsPerSecond(), 44100);
    formatter.setUnitsPerSecond(1000);
    formatter.setDisplayPrecision(2);
    EXPECT_EQ(formatter.stringForObjectValue(std::any(uint32_t(61500))), "1:01.50");
    EXPECT_EQ(formatter.stringForObjectValue(std::any(61500.0)), "1:01.50");
    EXPECT_EQ(formatter.stringForObjectValue(std::any(int64_t(3600000)), 0, true), "01:00:00");
    EXPECT_FALSE(formatter.stringForObjectValue(std::any(std::string("61500"))).has_value());
    EXPECT_FALSE(formatter.stringForObjectValue(std::any()).has_value());
    EXPECT_EQ(formatter.stringForUInt32Value(1500, 1, false), "0:01.5");
}

TEST(ZORTimeFormatter, ReadsClockTextsBack) {
    ZORTimeFormatter formatter;
    std::any value;
    std::string error;
    ASSERT_TRUE(formatter.getObjectValue(value, "1:02:03", &error));
    EXPECT_EQ(std::any_cast<uint32_t>(value), 164184300u);
    ASSERT_TRUE(formatter.getObjectValue(value, "5:30", nullptr));
    EXPECT_EQ(std::any_cast<uint32_t>(value), 873180000u);
    ASSERT_TRUE(formatter.getObjectValue(value, " 5 : 30.9", nullptr));
    EXPECT_EQ(std::any_cast<uint32_t>(value), 14553000u);
    ASSERT_TRUE(formatter.getObjectValue(value, "0:00:01 and more", nullptr));
    EXPECT_EQ(std::any_cast<uint32_t>(value), 44100u);
    EXPECT_TRUE(error.empty());

    value = std::string("untouched");
    for (const char* text : {"5", "abc", "", "1:02:", "1:x", ":30"}) {
        error.clear();
        EXPECT_FALSE(formatter.getObjectValue(value, text, &error)) << text;
        EXPECT_EQ(error, "Unrecognized time format") << text;
    }
    EXPECT_EQ(std::any_cast<std::string>(value), "untouched");
    EXPECT_FALSE(formatter.getObjectValue(value, "5", nullptr));
}

TEST(ZORTimeFormatter, ReadingRefusesTimesThatACountCannotHold) {
    ZORTimeFormatter formatter;
    std::any value;
    std::string error;
    EXPECT_FALSE(formatter.getObjectValue(value, "-1:00", &error));
    EXPECT_EQ(error, "Unrecognized time format");
    EXPECT_FALSE(formatter.getObjectValue(value, "28:00:00", &error));
    ASSERT_TRUE(formatter.getObjectValue(value, "27:00:00", &error));
    EXPECT_EQ(std::any_cast<uint32_t>(value), 27u * 3600 * 44100);
}
