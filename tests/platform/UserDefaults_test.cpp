#include "platform/UserDefaults.h"

#include "TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

using platform::PropertyList;
using platform::UserDefaults;

namespace {

constexpr char kOwn[] = "org.trovario.TrovarioAgent";
constexpr char kEditor[] = "org.trovario.Trovario";

std::string plistWith(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" + body + "</dict></plist>\n";
}

class UserDefaultsTest : public ::testing::Test {
protected:
    TemporaryDirectory dir;
    std::string path(const std::string& domain) { return dir / (domain + ".plist"); }
    size_t files() const {
        auto entries = std::filesystem::directory_iterator(dir.path());
        return size_t(std::distance(begin(entries), end(entries)));
    }
};

}  // namespace

// The own domain, then the suites, then the registered defaults; writes go to
// the own domain only, and removing the own value uncovers the editor's.
TEST_F(UserDefaultsTest, OwnDomainThenSuitesThenRegistered) {
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
    UserDefaults again(kOwn, dir.path());
    EXPECT_TRUE(again.boolForKey("b"));
    ASSERT_TRUE(defaults.removeObjectForKey("b"));
    EXPECT_EQ(defaults.stringForKey("b"), "ed");
}

TEST_F(UserDefaultsTest, TypedReadsConvertLikePropertyListUsersExpect) {
    TemporaryDirectory::write(path(kOwn), plistWith("<key>int</key><integer>-7</integer><key>real</key><real>0.25</real>"
                                                    "<key>yes</key><true/><key>numeric</key><string> 42abc</string>"
                                                    "<key>word</key><string>YES</string><key>zero</key><string>000</string>"
                                                    "<key>data</key><data>AAEC</data>"));
    UserDefaults defaults(kOwn, dir.path());
    // Integer, float, boolean and string readings of each key.
    for (const auto& [key, expected] : std::vector<std::pair<std::string, std::string>>{
             {"int", "-7 -7 1 -7"}, {"real", "0 0.25 1 0.25"}, {"yes", "1 1 1 1"}, {"numeric", "42 42 1  42abc"},
             {"word", "0 0 1 YES"}, {"zero", "0 0 0 000"}, {"data", "0 0 0 "}, {"missing", "0 0 0 "}}) {
        std::ostringstream out;
        out << defaults.integerForKey(key) << ' ' << defaults.floatForKey(key) << ' ' << defaults.boolForKey(key) << ' '
            << defaults.stringForKey(key);
        EXPECT_EQ(out.str(), expected) << key;
    }
}

// Replaced by rename with the same size (and possibly the same time stamp), as editors save.
TEST_F(UserDefaultsTest, ChangesByAnotherProcessAreSeen) {
    UserDefaults defaults(kOwn, dir.path());
    defaults.addSuiteNamed(kEditor);
    for (int n : {3, 4}) {
        TemporaryDirectory::write(path(kEditor) + ".new", plistWith("<key>n</key><integer>" + std::to_string(n) + "</integer>"));
        std::filesystem::rename(path(kEditor) + ".new", path(kEditor));
        EXPECT_EQ(defaults.integerForKey("n"), n);
    }
    std::filesystem::remove(path(kEditor));
    EXPECT_EQ(defaults.integerForKey("n"), 0);
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
    EXPECT_EQ(files(), 1u);
    EXPECT_FALSE(defaults.objectForKey("big").has_value());
    EXPECT_EQ(defaults.stringForKey("keep"), "old");

    // Missing folders are made; a file where one should be fails the write.
    EXPECT_TRUE(UserDefaults(kOwn, dir / "a/b").setObject("k", PropertyList::string("v")));
    EXPECT_EQ(UserDefaults(kOwn, dir / "a/b").stringForKey("k"), "v");
    UserDefaults blocked(kOwn, dir / "keep/trovario");
    TemporaryDirectory::write(dir / "keep", "a file");
    EXPECT_FALSE(blocked.setObject("k", PropertyList::boolean(true)));
    EXPECT_FALSE(blocked.boolForKey("k"));
}

// A hand edit with a typo is ignored, and kept aside rather than overwritten.
TEST_F(UserDefaultsTest, UnreadableFileIsIgnoredAndKeptAsideOnWrite) {
    const std::string broken = "<plist><dict><key>oops</key>";
    TemporaryDirectory::write(path(kOwn), broken);
    UserDefaults defaults(kOwn, dir.path());
    PropertyList registered = PropertyList::dictionary();
    registered.set("oops", PropertyList::integer(9));
    defaults.registerDefaults(registered);
    EXPECT_EQ(defaults.integerForKey("oops"), 9);
    ASSERT_TRUE(defaults.setObject("k", PropertyList::integer(1)));
    EXPECT_EQ(TemporaryDirectory::read(path(kOwn) + ".unreadable"), broken);
    EXPECT_EQ(defaults.integerForKey("k"), 1);
}

