#include "platform/Bundle.h"
#include "platform/StringsFile.h"

#include "TemporaryDirectory.h"
#include "platform/Log.h"

#include <gtest/gtest.h>

using platform::Bundle;
using platform::StringsFile;

TEST(StringsFileParsing, EntriesCommentsAndEscapes) {
    const auto table = StringsFile::parse(R"(/* A block comment
   over two lines with "quotes" and = signs; */
"plain" = "Open Trovario";
// a line comment "ignored" = "x";
"escapes" = "tab\there \"quoted\" back\\slash\nnew line";
"unicode" = "caf\U00E9 \u2192 \UD83D\UDE00";
"octal" = "\101\102";
"format" = "Status: Capturing [%@]";
  "spaced"   =   "value"  ;
unquoted_key = unquoted.value;
"selfNamed";
"empty" = "";
"twice" = "first";
"twice" = "second";
)",
                                          "test.strings");
    // Nothing from the comments, the later of two entries for one key.
    EXPECT_EQ(table, (StringsFile::Table{{"plain", "Open Trovario"},
                                         {"escapes", "tab\there \"quoted\" back\\slash\nnew line"},
                                         {"unicode", "caf\xC3\xA9 \xE2\x86\x92 \xF0\x9F\x98\x80"},
                                         {"octal", "AB"}, {"format", "Status: Capturing [%@]"}, {"spaced", "value"},
                                         {"unquoted_key", "unquoted.value"}, {"selfNamed", "selfNamed"},
                                         {"empty", ""}, {"twice", "second"}}));
}

TEST(StringsFileParsing, ErrorsKeepEarlierEntriesAndNameTheLine) {
    for (const auto& [text, kept, error] : std::vector<std::tuple<std::string, size_t, std::string>>{
             {"\"a\" = \"1\";\n\"b\" = \"2\"\n\"c\" = \"3\";\n", 1, "s:3: expected ';' after the entry for \"b\""},
             {"\"a\" = \"never closed;", 0, "s:1: unterminated quoted string"},
             {"\"a\" = \"1\"; /* open", 1, "s:1: unterminated comment"}, {"= \"x\";", 0, "s:1: expected a key"},
             {"\"k\" = ;", 0, "s:1: "}, {"\"k\" = \"trailing backslash\\", 0, "s:1: "}}) {
        platform::LogCapture log;
        EXPECT_EQ(StringsFile::parse(text, "s").size(), kept) << text;
        EXPECT_TRUE(log.contains(error)) << text;
    }
}

TEST(StringsFileParsing, EncodingsWithByteOrderMarks) {
    const std::string utf8 = "\xEF\xBB\xBF\"k\" = \"\xC3\xA9t\xC3\xA9\";";
    EXPECT_EQ(StringsFile::parse(utf8, "s").at("k"), "\xC3\xA9t\xC3\xA9");

    auto utf16 = [](const std::u16string& text, bool bigEndian) {
        std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        for (char16_t unit : text) {
            const char hi = char(unit >> 8), lo = char(unit & 0xFF);
            bytes += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
        }
        return bytes;
    };
    const std::u16string text = u"\"k\" = \"\u00E9t\u00E9 \U0001F600\";";
    EXPECT_EQ(StringsFile::parse(utf16(text, false), "s").at("k"), "\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80");
    EXPECT_EQ(StringsFile::parse(utf16(text, true), "s").at("k"), "\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80");
    // A lone surrogate becomes the replacement character rather than invalid UTF-8.
    EXPECT_EQ(StringsFile::parse(utf16(u"\"k\" = \"\xD800\";", false), "s").at("k"), "\xEF\xBF\xBD");
}

class BundleTest : public ::testing::Test {
protected:
    TemporaryDirectory dir;
    ScopedEnvironment language{"LANGUAGE", nullptr};
    ScopedEnvironment all{"LC_ALL", nullptr};
    ScopedEnvironment messages{"LC_MESSAGES", nullptr};
    ScopedEnvironment lang{"LANG", "de_DE.UTF-8"};

    void SetUp() override {
        TemporaryDirectory::write(dir / "en.lproj/Localizable.strings",
                                  "\"both\" = \"English\";\n\"englishOnly\" = \"Only English\";");
        TemporaryDirectory::write(dir / "de.lproj/Localizable.strings", "\"both\" = \"Deutsch\";");
        TemporaryDirectory::write(dir / "en.lproj/Menu.strings", "\"both\" = \"Menu table\";");
        TemporaryDirectory::write(dir / "icon.png", "png");
        TemporaryDirectory::write(dir / "de.lproj/flag.png", "png");
    }
};

TEST_F(BundleTest, PreferredLanguageThenEnglishThenTheDefault) {
    auto bundle = Bundle::bundleWithPath(dir.path());
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->localizedString("both", "default"), "Deutsch");
    EXPECT_EQ(bundle->localizedString("englishOnly", "default"), "Only English");
    EXPECT_EQ(bundle->localizedString("missing", "DRIVER NOT INSTALLED"), "DRIVER NOT INSTALLED");
    EXPECT_EQ(bundle->localizedString("", "default"), "default");
    EXPECT_EQ(bundle->localizedString("both", "default", "Menu"), "Menu table");
    EXPECT_EQ(bundle->localizedString("both", "default", "NoSuchTable"), "default");
    EXPECT_EQ(bundle->localizedString("both", "default", "../en.lproj/Localizable"), "default");
}

TEST_F(BundleTest, LanguageChoiceFollowsTheEnvironment) {
    EXPECT_EQ(Bundle::preferredLanguages(), (std::vector<std::string>{"de_DE", "de-DE", "de", "en"}));
    {
        ScopedEnvironment list("LANGUAGE", "fr_CA:de");
        EXPECT_EQ(Bundle::preferredLanguages(), (std::vector<std::string>{"fr_CA", "fr-CA", "fr", "de", "en"}));
        ScopedEnvironment allC("LC_ALL", "C");  // as in gettext, LANGUAGE is ignored under C
        EXPECT_EQ(Bundle::preferredLanguages(), std::vector<std::string>{"en"});
    }
    ScopedEnvironment lcMessages("LC_MESSAGES", "pt_BR@latin");
    EXPECT_EQ(Bundle::preferredLanguages(), (std::vector<std::string>{"pt_BR", "pt-BR", "pt", "en"}));
    ScopedEnvironment noLang("LANG", nullptr);
    ScopedEnvironment noMessages("LC_MESSAGES", nullptr);
    EXPECT_EQ(Bundle::preferredLanguages(), std::vector<std::string>{"en"});
    // Languages cannot name folders outside the bundle.
    ScopedEnvironment outside("LANGUAGE", "../../etc:en");
    for (const std::string& language : Bundle::preferredLanguages())
        EXPECT_EQ(language.find('/'), std::string::npos) << language;
}

TEST_F(BundleTest, ResourcesAtTheTopLevelThenLocalized) {
    for (const std::string& notAFolder : {dir / "nothing", dir / "icon.png", std::string()})
        EXPECT_EQ(Bundle::bundleWithPath(notAFolder), nullptr) << notAFolder;
    auto bundle = Bundle::bundleWithPath(dir.path());
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->pathForResource("icon", "png"), bundle->bundlePath() + "/icon.png");
    EXPECT_EQ(bundle->pathForResource("icon.png", ""), bundle->bundlePath() + "/icon.png");
    EXPECT_EQ(bundle->pathForResource("flag", ".png"), bundle->bundlePath() + "/de.lproj/flag.png");
    EXPECT_EQ(bundle->pathForResource("missing", "png"), "");
    EXPECT_EQ(bundle->pathForResource("en.lproj", ""), "");  // folders are not resources
    EXPECT_EQ(bundle->pathForResource("../" + std::filesystem::path(dir.path()).filename().string() + "/icon", "png"),
              "");
}

TEST(DefaultBundles, AgentBundleCarriesTheWordedDurations) {
    ScopedEnvironment lang("LANG", "C");
    auto agent = Bundle::agentBundle();
    ASSERT_TRUE(agent);
    EXPECT_EQ(agent, Bundle::agentBundle());
    EXPECT_EQ(agent->localizedString("HOURS_STR_WITH_FORMAT_FOR_INT", "?"), "%d hours");
    EXPECT_EQ(agent->localizedString("MINUTES_STR_WITH_DUAL_FORMATS", "?"), "%@%d minutes");
    EXPECT_EQ(agent->localizedString("SECONDS_STR_WITH_DUAL_FORMATS", "?"), "%@%d seconds");

    // A resource folder named by the environment comes first.
    TemporaryDirectory dir;
    TemporaryDirectory::write(dir / "TrovarioAgent.bundle/en.lproj/Localizable.strings",
                              "\"HOURS_STR_WITH_FORMAT_FOR_INT\" = \"%d Stunden\";");
    ScopedEnvironment resources("TROVARIO_RESOURCE_DIR", dir.path().c_str());
    ASSERT_FALSE(Bundle::resourceDirectories().empty());
    EXPECT_EQ(Bundle::resourceDirectories().front(), std::filesystem::canonical(dir.path()).string());
    EXPECT_EQ(Bundle::agentBundle()->localizedString("HOURS_STR_WITH_FORMAT_FOR_INT", "?"), "%d Stunden");
}

TEST(DefaultBundles, EditorBundleKeepsEveryStatusTextDistinct) {
    ScopedEnvironment lang("LANG", "C");
    std::shared_ptr<Bundle> editor;
    for (const std::string& directory : Bundle::resourceDirectories())
        if ((editor = Bundle::bundleWithPath(directory + "/Trovario.bundle"))) break;
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->localizedString("TROVD_OPENTROV_ID", "?"), "Open Trovario");
    EXPECT_EQ(editor->localizedString("TROVD_PROCESSTRACKS_ID", "?"), "Processing Tracks...");
    // Keys shared by several texts must fall through to each caller's default.
    EXPECT_EQ(editor->localizedString("TROVD_STATUSMENU_ID", "Status: Capturing"), "Status: Capturing");
    EXPECT_EQ(editor->localizedString("TROVD_STARTCAPTURE_ID", "Stop Auto Music Capture"), "Stop Auto Music Capture");

    for (const char* icon : {"trovd_record", "trovd_idle"}) {
        const std::string path = editor->pathForResource(icon, "png");
        ASSERT_FALSE(path.empty()) << icon;
        const std::string png = TemporaryDirectory::read(path);
        ASSERT_GT(png.size(), 24u);
        EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
        EXPECT_EQ(png.substr(16, 8), std::string("\0\0\0\x10\0\0\0\x10", 8)) << icon << " is not 16x16";
    }
}
