#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"

#include "TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using platform::PropertyList;

namespace {

constexpr size_t kDeep = 100000;
constexpr PropertyList::Limits kLimits{1024, 8, true};

std::string repeat(const std::string& text, size_t times) {
    std::string result;
    for (size_t i = 0; i < times; ++i) result += text;
    return result;
}
std::string arrays(size_t depth) { return repeat("<array>", depth) + repeat("</array>", depth); }
std::string inPlist(const std::string& body) { return "<?xml version=\"1.0\"?><plist>" + body + "</plist>"; }
std::string inDict(const std::string& value) { return inPlist("<dict><key>k</key>" + value + "</dict>"); }
std::string ofSize(size_t bytes) {
    return inDict("<string>" + std::string(bytes - inDict("<string></string>").size(), 'x') + "</string>");
}
// Closing tags that libplist skips, which must not hide nesting from the count.
const std::string kHiddenClosings =
    "<array><!-- > </array> --><? > </array> ?><!DOCTYPE x [ > </array> ]><string><![CDATA[]> </array>]]></string>";

TEST(PropertyListGate, RefusesWhatLibplistCannotSurviveAndPassesTheRest) {
    struct Case {
        const char* name;
        std::string xml;
        PropertyList::Limits limits;
        bool passes;
    };
    const Case cases[] = {
        {"good", inDict("<string>a &amp; b</string>"), kLimits, true},
        {"empty", "", kLimits, false},
        {"not a property list", "<plist><dict><key>k</key>", kLimits, false},
        {"raw NUL", inDict(std::string("<string>a\0b</string>", 20)), kLimits, false},
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
    for (const Case& c : cases) {
        platform::Result<PropertyList> parsed = PropertyList::fromXml(c.xml, c.limits);
        EXPECT_EQ(parsed.ok(), c.passes) << c.name << ": " << parsed.message();
        EXPECT_EQ(parsed.message().empty(), c.passes) << c.name;
    }
    EXPECT_EQ(PropertyList::fromXml(inDict("<string>a &amp; b</string>"), kLimits)->get("k")->asString(), "a & b");
}

// Each file is refused at once, the registered default is used, and the file
// is kept aside when the preferences are next written.
TEST(PropertyListGate, PreferenceFilesThatFailAreSetAsideAndDefaultsUsed) {
    const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> files = {
        {"FIFO", [](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }},
        {"link to /dev/zero", [](const std::string& path) { ASSERT_EQ(symlink("/dev/zero", path.c_str()), 0); }},
        {"300 MB sparse file",
         [](const std::string& path) {
             TemporaryDirectory::write(path, "<plist><dict>");
             ASSERT_EQ(truncate(path.c_str(), 300 << 20), 0);
         }},
        {"NUL string",
         [](const std::string& path) {
             TemporaryDirectory::write(path, inDict(std::string("<string>\0</string>", 18)));
         }},
        {"deep nesting", [](const std::string& path) { TemporaryDirectory::write(path, inDict(arrays(kDeep / 2))); }},
    };
    for (const auto& [name, make] : files) {
        TemporaryDirectory dir;
        const std::string path = dir / "org.trovario.TrovarioAgent.plist";
        make(path);
        platform::UserDefaults defaults("org.trovario.TrovarioAgent", dir.path());
        PropertyList registered = PropertyList::dictionary();
        registered.set("k", PropertyList::integer(7));
        defaults.registerDefaults(registered);

        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(defaults.integerForKey("k"), 7) << name;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500)) << name;
        ASSERT_TRUE(defaults.setObject("written", PropertyList::boolean(true))) << name;
        struct stat aside {};
        EXPECT_EQ(lstat((path + ".unreadable").c_str(), &aside), 0) << name;
        EXPECT_TRUE(platform::UserDefaults("org.trovario.TrovarioAgent", dir.path()).boolForKey("written")) << name;
    }
}

}  // namespace
