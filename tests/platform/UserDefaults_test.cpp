#include "platform/UserDefaults.h"

#include "TemporaryDirectory.h"
#include "platform/Log.h"

#include <gtest/gtest.h>

#include <filesystem>

using platform::PropertyList;
using platform::UserDefaults;

namespace {

constexpr char kOwn[] = "org.trovario.TrovarioAgent";
constexpr char kEditor[] = "org.trovario.Trovario";

std::string plistWith(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\"><dict>" +
           body + "</dict></plist>\n";
}

class UserDefaultsTest : public ::testing::Test {
protected:
    TemporaryDirectory dir;
    std::string path(const std::string& domain) { return dir / (domain + ".plist"); }
    std::vector<std::string> files() {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

}  // namespace

TEST_F(UserDefaultsTest, OwnDomainThenSuitesThenRegistered) {
    TemporaryDirectory::write(path(kOwn), plistWith("<key>a</key><string>own</string>"));
    TemporaryDirectory::write(path(kEditor),
                              plistWith("<key>a</key><string>editor</string><key>b</key><string>editor</string>"));
    UserDefaults defaults(kOwn, dir.path());
    PropertyList registered = PropertyList::dictionary();
    for (const char* key : {"a", "b", "c"}) registered.set(key, PropertyList::string("registered"));
    defaults.registerDefaults(registered);

    EXPECT_EQ(defaults.stringForKey("b"), "registered");  // the editor's domain is not searched yet
    defaults.addSuiteNamed(kEditor);
    EXPECT_EQ(defaults.stringForKey("a"), "own");
    EXPECT_EQ(defaults.stringForKey("b"), "editor");
    EXPECT_EQ(defaults.stringForKey("c"), "registered");
    EXPECT_FALSE(defaults.objectForKey("d").has_value());
    // Registered defaults are never stored; suite names that are not plain names are refused.
    ASSERT_TRUE(defaults.setObject("y", PropertyList::integer(1)));
    auto stored = PropertyList::fromFile(path(kOwn), {1 << 20, 8, true});
    ASSERT_TRUE(stored);
    auto keys = stored->keys();
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, (std::vector<std::string>{"a", "y"}));
    TemporaryDirectory::write(dir / "outside.plist", plistWith("<key>secret</key><string>x</string>"));
    UserDefaults nested(kOwn, dir / "trovario");
    nested.addSuiteNamed("../outside");
    nested.addSuiteNamed("");
    EXPECT_FALSE(nested.objectForKey("secret").has_value());
}

TEST_F(UserDefaultsTest, WritesGoToTheOwnDomainAndShadowTheEditors) {
    TemporaryDirectory::write(path(kEditor), plistWith("<key>k</key><false/>"));
    const std::string editorBefore = TemporaryDirectory::read(path(kEditor));
    UserDefaults defaults(kOwn, dir.path());
    defaults.addSuiteNamed(kEditor);
    EXPECT_FALSE(defaults.boolForKey("k"));
    ASSERT_TRUE(defaults.setObject("k", PropertyList::boolean(true)));
    EXPECT_TRUE(defaults.boolForKey("k"));
    EXPECT_EQ(TemporaryDirectory::read(path(kEditor)), editorBefore);
    // A second object over the same files sees the stored value.
    UserDefaults again(kOwn, dir.path());
    again.addSuiteNamed(kEditor);
    EXPECT_TRUE(again.boolForKey("k"));
    // Removing the own value falls back to the editor's.
    ASSERT_TRUE(defaults.removeObjectForKey("k"));
    EXPECT_FALSE(defaults.boolForKey("k"));
}

TEST_F(UserDefaultsTest, TypedReadsConvertLikePropertyListUsersExpect) {
    TemporaryDirectory::write(path(kOwn), plistWith("<key>int</key><integer>-7</integer>"
                                                    "<key>real</key><real>0.25</real>"
                                                    "<key>yes</key><true/>"
                                                    "<key>numeric</key><string> 42abc</string>"
                                                    "<key>word</key><string>YES</string>"
                                                    "<key>zero</key><string>000</string>"
                                                    "<key>data</key><data>AAEC</data>"));
    UserDefaults defaults(kOwn, dir.path());
    EXPECT_EQ(defaults.integerForKey("int"), -7);
    EXPECT_EQ(defaults.stringForKey("int"), "-7");
    EXPECT_DOUBLE_EQ(defaults.floatForKey("real"), 0.25);
    EXPECT_EQ(defaults.integerForKey("real"), 0);
    EXPECT_EQ(defaults.stringForKey("real"), "0.25");
    EXPECT_TRUE(defaults.boolForKey("yes"));
    EXPECT_EQ(defaults.integerForKey("yes"), 1);
    EXPECT_EQ(defaults.integerForKey("numeric"), 42);
    EXPECT_TRUE(defaults.boolForKey("numeric"));
    EXPECT_TRUE(defaults.boolForKey("word"));
    EXPECT_FALSE(defaults.boolForKey("zero"));
    EXPECT_EQ(defaults.stringForKey("data"), "");
    EXPECT_EQ(defaults.integerForKey("data"), 0);
    EXPECT_EQ(defaults.integerForKey("missing"), 0);
    EXPECT_FALSE(defaults.boolForKey("missing"));
}

TEST_F(UserDefaultsTest, ChangesByAnotherProcessAreSeenWithoutSynchronize) {
    UserDefaults defaults(kOwn, dir.path());
    defaults.addSuiteNamed(kEditor);
    EXPECT_EQ(defaults.integerForKey("n"), 0);
    TemporaryDirectory::write(path(kEditor), plistWith("<key>n</key><integer>3</integer>"));
    EXPECT_EQ(defaults.integerForKey("n"), 3);
    // Same size and (possibly) the same time stamp: replaced by rename, as editors save.
    TemporaryDirectory::write(path(kEditor) + ".new", plistWith("<key>n</key><integer>4</integer>"));
    std::filesystem::rename(path(kEditor) + ".new", path(kEditor));
    EXPECT_EQ(defaults.integerForKey("n"), 4);
    std::filesystem::remove(path(kEditor));
    EXPECT_EQ(defaults.integerForKey("n"), 0);
    defaults.synchronize();
    EXPECT_EQ(defaults.integerForKey("n"), 0);
}

TEST_F(UserDefaultsTest, FailedWriteLeavesTheOldFileWholeAndNoLeftovers) {
    UserDefaults defaults(kOwn, dir.path());
    ASSERT_TRUE(defaults.setObject("keep", PropertyList::string("old")));
    const std::string before = TemporaryDirectory::read(path(kOwn));

    platform::LogCapture log;
    bool stored;
    {
        FileSizeLimit limit(64);  // the write fails half-way
        stored = defaults.setObject("big", PropertyList::string(std::string(4096, 'x')));
    }

    EXPECT_FALSE(stored);
    EXPECT_TRUE(log.contains("could not write preferences file " + path(kOwn)));
    EXPECT_EQ(TemporaryDirectory::read(path(kOwn)), before);
    EXPECT_EQ(files(), std::vector<std::string>{std::string(kOwn) + ".plist"});
    EXPECT_FALSE(defaults.objectForKey("big").has_value());
    EXPECT_EQ(defaults.stringForKey("keep"), "old");
}

TEST_F(UserDefaultsTest, FirstWriteCreatesMissingFoldersOrFailsCleanly) {
    ASSERT_TRUE(UserDefaults(kOwn, dir / "a/b/trovario").setObject("k", PropertyList::string("v")));
    EXPECT_EQ(UserDefaults(kOwn, dir / "a/b/trovario").stringForKey("k"), "v");
    TemporaryDirectory::write(dir / "blocked", "a file where the folder should be");
    UserDefaults defaults(kOwn, dir / "blocked/trovario");
    platform::LogCapture log;
    EXPECT_FALSE(defaults.setObject("k", PropertyList::boolean(true)));
    EXPECT_EQ(log.count("could not write preferences file"), 1u);
    EXPECT_FALSE(defaults.boolForKey("k"));
}

TEST_F(UserDefaultsTest, UnreadableFileIsIgnoredAndKeptAsideOnWrite) {
    const std::string broken = "<plist><dict><key>oops</key>";
    TemporaryDirectory::write(path(kOwn), broken);
    platform::LogCapture log;
    UserDefaults defaults(kOwn, dir.path());
    PropertyList registered = PropertyList::dictionary();
    registered.set("oops", PropertyList::integer(9));
    defaults.registerDefaults(registered);
    EXPECT_EQ(defaults.integerForKey("oops"), 9);
    EXPECT_EQ(log.count("is not a property-list dictionary"), 1u);
    EXPECT_EQ(defaults.integerForKey("oops"), 9);
    EXPECT_EQ(log.count("is not a property-list dictionary"), 1u);  // once per version of the file

    ASSERT_TRUE(defaults.setObject("k", PropertyList::integer(1)));
    EXPECT_EQ(TemporaryDirectory::read(path(kOwn) + ".unreadable"), broken);
    EXPECT_EQ(defaults.integerForKey("k"), 1);
}

TEST(UserDefaultsStandard, LivesUnderXdgConfigHome) {
    TemporaryDirectory dir;
    {
        ScopedEnvironment config("XDG_CONFIG_HOME", dir.path().c_str());
        EXPECT_EQ(UserDefaults::standardDirectory(), dir.path() + "/trovario");
    }
    ScopedEnvironment relative("XDG_CONFIG_HOME", "relative/path");
    ScopedEnvironment home("HOME", dir.path().c_str());
    EXPECT_EQ(UserDefaults::standardDirectory(), dir.path() + "/.config/trovario");
    EXPECT_EQ(UserDefaults(kOwn, UserDefaults::standardDirectory()).pathForDomain(kOwn),
              dir.path() + "/.config/trovario/org.trovario.TrovarioAgent.plist");
}
