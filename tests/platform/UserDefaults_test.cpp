#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"

#include "TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>

using platform::PropertyList;
using platform::UserDefaults;

namespace {

constexpr char kOwn[] = "org.trovario.TrovarioAgent";
constexpr char kEditor[] = "org.trovario.Trovario";
constexpr size_t kDeep = 100000;
constexpr PropertyList::Limits kLimits{1024, 8, true};

std::string repeat(const std::string& text, size_t times) {
    std::string result;
    for (size_t i = 0; i < times; ++i) result += text;
    return result;
}
std::string arrays(size_t depth) { return repeat("<array>", depth) + repeat("</array>", depth); }
std::string inPlist(const std::string& body) { return "<?xml version=\"1.0\"?><plist>" + body + "</plist>"; }
std::string plistWith(const std::string& entries) { return inPlist("<dict>" + entries + "</dict>"); }
std::string inDict(const std::string& value) { return plistWith("<key>k</key>" + value); }
std::string ofSize(size_t bytes) {
    return inDict("<string>" + std::string(bytes - inDict("<string></string>").size(), 'x') + "</string>");
}
const std::string kNulString = "<string>a" + std::string(1, '\0') + "b</string>";
// Closing tags that libplist skips, which must not hide nesting from the count.
const std::string kHiddenClosings =
    "<array><!-- > </array> --><? > </array> ?><!DOCTYPE x [ > </array> ]><string><![CDATA[]> </array>]]></string>";

class UserDefaultsTest : public ::testing::Test {
protected:
    TemporaryDirectory dir;
    std::string path(const std::string& domain) { return dir / (domain + ".plist"); }
};

}  // namespace

// The own domain, then the suites, then the registered defaults; writes go to
// the own domain only, removing the own value uncovers the editor's, and the
// editor's changes are seen.
TEST_F(UserDefaultsTest, OwnDomainThenSuitesThenRegisteredAndChangesByAnotherProcessAreSeen) {
    TemporaryDirectory::write(path(kOwn), plistWith("<key>a</key><string>own</string>"));
    TemporaryDirectory::write(path(kEditor), plistWith("<key>a</key><string>ed</string><key>b</key><string>ed</string>"));
    TemporaryDirectory::write(dir / "outside.plist", plistWith("<key>c</key><string>outside</string>"));
    const std::string editorBefore = TemporaryDirectory::read(path(kEditor));
    UserDefaults defaults(kOwn, dir.path());
    PropertyList registered = PropertyList::dictionary();
    for (const char* key : {"a", "b", "c"}) registered.set(key, PropertyList::string("registered"));
    defaults.registerDefaults(registered);
    EXPECT_EQ(defaults.stringForKey("b"), "registered");  // the editor's domain is not searched yet
    for (const char* suite : {kEditor, "../outside", ""}) defaults.addSuiteNamed(suite);
    EXPECT_EQ(defaults.stringForKey("a") + defaults.stringForKey("b") + defaults.stringForKey("c"), "ownedregistered");
    EXPECT_FALSE(defaults.objectForKey("d").has_value());

    ASSERT_TRUE(defaults.setObject("b", PropertyList::boolean(true)));
    EXPECT_EQ(TemporaryDirectory::read(path(kEditor)), editorBefore);
    EXPECT_EQ(PropertyList::fromFile(path(kOwn), {1 << 20, 8, true})->keys().size(), 2u);  // nothing registered
    EXPECT_TRUE(UserDefaults(kOwn, dir.path()).boolForKey("b"));
    ASSERT_TRUE(defaults.removeObjectForKey("b"));
    EXPECT_EQ(defaults.stringForKey("b"), "ed");

    // Replaced by rename with the same size (and possibly the same time stamp), as editors save.
    for (int n : {3, 4}) {
        TemporaryDirectory::write(path(kEditor) + ".new", plistWith("<key>n</key><integer>" + std::to_string(n) + "</integer>"));
        std::filesystem::rename(path(kEditor) + ".new", path(kEditor));
        EXPECT_EQ(defaults.integerForKey("n"), n);
    }
    std::filesystem::remove(path(kEditor));
    EXPECT_EQ(defaults.integerForKey("n"), 0);
}

TEST_F(UserDefaultsTest, TypedReadsConvertLikePropertyListUsersExpect) {
    TemporaryDirectory::write(path(kOwn), plistWith("<key>int</key><integer>-7</integer><key>real</key><real>0.25</real>"
                                                    "<key>yes</key><true/><key>numeric</key><string> 42abc</string>"
                                                    "<key>word</key><string>YES</string><key>zero</key><string>000</string>"
                                                    "<key>data</key><data>AAEC</data>"
                                                    "<key>huge</key><real>-8e71</real>"));
    UserDefaults defaults(kOwn, dir.path());
    // Integer, float, boolean and string readings of each key.
    for (const auto& [key, expected] : std::vector<std::pair<std::string, std::string>>{
             {"int", "-7 -7 1 -7"}, {"real", "0 0.25 1 0.25"}, {"yes", "1 1 1 1"}, {"numeric", "42 42 1  42abc"},
             {"word", "0 0 1 YES"}, {"zero", "0 0 0 000"}, {"data", "0 0 0 "}, {"missing", "0 0 0 "},
             {"huge", "-9223372036854775808 -8e+71 1 -8e+71"}}) {
        std::ostringstream out;
        out << defaults.integerForKey(key) << ' ' << defaults.floatForKey(key) << ' ' << defaults.boolForKey(key) << ' '
            << defaults.stringForKey(key);
        EXPECT_EQ(out.str(), expected) << key;
    }
}

TEST_F(UserDefaultsTest, FailedWritesLeaveTheOldFileWholeAndNoLeftovers) {
    UserDefaults defaults(kOwn, dir.path());
    ASSERT_TRUE(defaults.setObject("keep", PropertyList::string("old")));
    const std::string before = TemporaryDirectory::read(path(kOwn));
    {
        FileSizeLimit limit(64);  // the write fails half-way
        EXPECT_FALSE(defaults.setObject("big", PropertyList::string(std::string(4096, 'x'))));
    }
    EXPECT_EQ(TemporaryDirectory::read(path(kOwn)), before);
    EXPECT_EQ(dir.entries(), 1u);
    EXPECT_EQ(defaults.stringForKey("big") + defaults.stringForKey("keep"), "old");  // nothing kept of the failed one
}

TEST(PropertyListGate, RefusesWhatLibplistCannotSurviveAndPassesTheRest) {
    // Name, XML, limits, and whether it passes.
    using Case = std::tuple<const char*, std::string, PropertyList::Limits, bool>;
    const Case cases[] = {
        {"good", inDict("<string>a &amp; b</string>"), kLimits, true},
        {"empty", "", kLimits, false},
        {"not a property list", "<plist><dict><key>k</key>", kLimits, false},
        {"raw NUL", inDict(kNulString), kLimits, false},
        {"NUL reference", inDict("<string>a&#0;b</string>"), kLimits, false},
        {"NUL hex reference", inDict("<string>a&#x0;b</string>"), kLimits, false},
        {"exactly the cap", ofSize(1024), kLimits, true},
        {"one byte over", ofSize(1025), kLimits, false},
        {"array root", inPlist("<array/>"), kLimits, false},
        {"array root allowed", inPlist("<array/>"), {1024, 8, false}, true},
        {"100 000 nested arrays", inDict(arrays(kDeep)), {20 * kDeep, 64, true}, false},
        {"100 000 nested dicts",
         inPlist(repeat("<dict><key>k</key>", kDeep) + repeat("</dict>", kDeep)), {30 * kDeep, 64, true}, false},
        {"deepest allowed", inDict(arrays(7)), kLimits, true},
        {"one level too deep", inDict(arrays(8)), kLimits, false},
        {"empty containers count", inDict(repeat("<array>", 6) + "<dict/>" + repeat("</array>", 6)), kLimits, true},
        {"empty container too deep", inDict(repeat("<array>", 7) + "<dict />" + repeat("</array>", 7)), kLimits, false},
        // libplist adds what follows an empty root to it.
        {"after an empty root", "<dict/>" + inDict(arrays(7)), kLimits, false},
        {"closings in skipped markup", inDict(repeat(kHiddenClosings, 8) + repeat("</array>", 8)), {4096, 8, true}, false},
        {"the same allowed", inDict(repeat(kHiddenClosings, 8) + repeat("</array>", 8)), {4096, 9, true}, true},
        {"comment never closed", inDict("<array/>") + "<!-- ", kLimits, false},
    };
    for (const auto& [name, xml, limits, passes] : cases) {
        platform::Result<PropertyList> parsed = PropertyList::fromXml(xml, limits);
        EXPECT_EQ(parsed.ok(), passes) << name << ": " << parsed.message();
        EXPECT_EQ(parsed.message().empty(), passes) << name;
    }
    EXPECT_EQ(PropertyList::fromXml(inDict("<string>a &amp; b</string>"), kLimits)->get("k")->asString(), "a & b");
}

// Each file is refused at once, the registered default is used, and the file
// is kept aside, as it was, when the preferences are next written.
TEST(PropertyListGate, PreferenceFilesThatFailAreSetAsideAndDefaultsUsed) {
    const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> files = {
        {"FIFO", [](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }},
        {"link to /dev/zero", [](const std::string& path) { ASSERT_EQ(symlink("/dev/zero", path.c_str()), 0); }},
        {"300 MB sparse file",
         [](const std::string& path) {
             TemporaryDirectory::write(path, "<plist><dict>");
             ASSERT_EQ(truncate(path.c_str(), 300 << 20), 0);
         }},
        {"NUL string", [](const std::string& path) { TemporaryDirectory::write(path, inDict(kNulString)); }},
        {"deep nesting", [](const std::string& path) { TemporaryDirectory::write(path, inDict(arrays(kDeep / 2))); }},
        {"a typo", [](const std::string& path) { TemporaryDirectory::write(path, "<plist><dict><key>k</key>"); }},
    };
    for (const auto& [name, make] : files) {
        SCOPED_TRACE(name);
        TemporaryDirectory dir;
        const std::string path = dir / (std::string(kOwn) + ".plist");
        make(path);
        struct stat before {}, aside {};
        lstat(path.c_str(), &before);
        UserDefaults defaults(kOwn, dir.path());
        PropertyList registered = PropertyList::dictionary();
        registered.set("k", PropertyList::integer(7));
        defaults.registerDefaults(registered);

        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(defaults.integerForKey("k"), 7);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
        ASSERT_TRUE(defaults.setObject("written", PropertyList::boolean(true)));
        ASSERT_EQ(lstat((path + ".unreadable").c_str(), &aside), 0);
        EXPECT_EQ(std::make_pair(aside.st_mode, aside.st_size), std::make_pair(before.st_mode, before.st_size));
        EXPECT_TRUE(UserDefaults(kOwn, dir.path()).boolForKey("written"));
    }
}
