#include "platform/Bundle.h"
#include "platform/StringsFile.h"

#include "TemporaryDirectory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::Bundle;
using platform::StringsFile;

TEST(StringsFile, EntriesCommentsEscapesEncodingsAndErrors) {
    const auto table = StringsFile::parse("/* block \"quoted\" = x; */\n\"plain\" = \"Open Trovario\";\n"
                                          "// \"ignored\" = \"x\";\n\"escapes\" = \"tab\\t\\\"q\\\" back\\\\slash\\n\";\n"
                                          "\"unicode\" = \"caf\\U00E9 \\u2192 \\UD83D\\UDE00\"; \"octal\" = \"\\101\\102\";\n"
                                          "  unquoted_key   =   unquoted.value  ; \"selfNamed\"; \"empty\" = \"\";\n"
                                          "\"twice\" = \"first\"; \"twice\" = \"second\";",
                                          "test.strings");
    EXPECT_EQ(table, (StringsFile::Table{{"plain", "Open Trovario"}, {"escapes", "tab\t\"q\" back\\slash\n"},
                                         {"unicode", "caf\xC3\xA9 \xE2\x86\x92 \xF0\x9F\x98\x80"}, {"octal", "AB"},
                                         {"unquoted_key", "unquoted.value"}, {"selfNamed", "selfNamed"},
                                         {"empty", ""}, {"twice", "second"}}));
    // An error keeps the entries before it.
    for (const auto& [text, kept] : std::vector<std::pair<std::string, size_t>>{
             {"\"a\" = \"1\";\n\"b\" = \"2\"\n\"c\" = \"3\";", 1}, {"\"a\" = \"never closed;", 0},
             {"\"a\" = \"1\"; /* open", 1}, {"= \"x\";", 0}, {"\"k\" = ;", 0}, {"\"k\" = \"trailing\\", 0}})
        EXPECT_EQ(StringsFile::parse(text, "s").size(), kept) << text;

    // UTF-8 and both UTF-16 byte orders, by their byte order marks.
    EXPECT_EQ(StringsFile::parse("\xEF\xBB\xBF\"k\" = \"\xC3\xA9t\xC3\xA9\";", "s").at("k"), "\xC3\xA9t\xC3\xA9");
    auto utf16 = [](const std::u16string& text, bool bigEndian) {
        std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        for (char16_t unit : text)
            bytes += bigEndian ? std::string{char(unit >> 8), char(unit)} : std::string{char(unit), char(unit >> 8)};
        return bytes;
    };
    for (bool bigEndian : {false, true})
        EXPECT_EQ(StringsFile::parse(utf16(u"\"k\" = \"\u00E9t\u00E9 \U0001F600\";", bigEndian), "s").at("k"),
                  "\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80");
    // A lone surrogate becomes the replacement character rather than invalid UTF-8.
    EXPECT_EQ(StringsFile::parse(utf16(u"\"k\" = \"\xD800\";", false), "s").at("k"), "\xEF\xBF\xBD");
}

// A table that is no regular file is never opened: a FIFO would block the agent.
TEST(StringsFile, TablesThatAreNoRegularFilesGiveNoTextsWithoutBlocking) {
    TemporaryDirectory dir;
    ASSERT_EQ(mkfifo((dir / "fifo.strings").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/dev/zero", (dir / "zero.strings").c_str()), 0);
    for (const char* name : {"fifo.strings", "zero.strings", "missing.strings"})
        EXPECT_TRUE(StringsFile::read(dir / name).empty()) << name;
}

TEST(Bundle, TextsAndResourcesFromThePreferredLanguageThenEnglishNeverOutside) {
    TemporaryDirectory dir;
    ScopedEnvironment language{"LANGUAGE", nullptr}, locale{"LC_ALL", "de"};
    TemporaryDirectory::write(dir / "en.lproj/Localizable.strings", "\"both\" = \"English\"; \"en\" = \"Only English\";");
    TemporaryDirectory::write(dir / "de.lproj/Localizable.strings", "\"both\" = \"Deutsch\";");
    TemporaryDirectory::write(dir / "en.lproj/Menu.strings", "\"both\" = \"Menu table\";");
    TemporaryDirectory::write(dir / "icon.png", "png");
    TemporaryDirectory::write(dir / "de.lproj/flag.png", "png");
    auto bundle = Bundle::bundleWithPath(dir.path());
    ASSERT_TRUE(bundle);
    for (const auto& [key, table, text] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"both", "Localizable", "Deutsch"}, {"en", "Localizable", "Only English"},
             {"missing", "Localizable", "default"}, {"", "Localizable", "default"}, {"both", "Menu", "Menu table"},
             {"both", "NoSuchTable", "default"}, {"both", "../en.lproj/Localizable", "default"}})
        EXPECT_EQ(bundle->localizedString(key, "default", table), text) << key << " in " << table;
    EXPECT_EQ(bundle->pathForResource("icon", "png"), dir / "icon.png");
    EXPECT_EQ(bundle->pathForResource("flag", ".png"), dir / "de.lproj/flag.png");
    EXPECT_EQ(bundle->pathForResource("missing", "png"), "");
    EXPECT_EQ(bundle->pathForResource("en.lproj", ""), "");  // folders are not resources
    EXPECT_EQ(bundle->pathForResource("../" + std::filesystem::path(dir.path()).filename().string() + "/icon", "png"), "");
    EXPECT_EQ(Bundle::bundleWithPath(dir / "icon.png"), nullptr);
}

// As gettext: LANGUAGE first unless the locale is C; a modifier and the encoding do not count.
TEST(Bundle, LanguageChoiceFollowsTheEnvironment) {
    using List = std::vector<std::string>;
    for (const auto& [languages, all, messages, expected] : std::vector<std::tuple<const char*, const char*, const char*, List>>{
             {nullptr, nullptr, nullptr, {"de_DE", "de-DE", "de", "en"}},
             {"fr_CA:de", nullptr, nullptr, {"fr_CA", "fr-CA", "fr", "de", "en"}},
             {"fr_CA:de", "C", nullptr, {"en"}}, {nullptr, nullptr, "pt_BR@latin", {"pt_BR", "pt-BR", "pt", "en"}},
             {"../../etc:en", nullptr, nullptr, {"en"}}}) {
        ScopedEnvironment a("LANGUAGE", languages), b("LC_ALL", all), c("LC_MESSAGES", messages), d("LANG", "de_DE.UTF-8");
        EXPECT_EQ(Bundle::preferredLanguages(), expected) << (languages ? languages : "") << (messages ? messages : "");
    }
}

TEST(Bundle, EditorBundleKeepsEveryStatusTextDistinct) {
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
}
