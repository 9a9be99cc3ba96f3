#include "support/PreferenceUtilities.h"

#include "../platform/TemporaryDirectory.h"
#include "support/PreferenceKeys.h"

#include <gtest/gtest.h>

#include <filesystem>

using platform::PropertyList;
using platform::UserDefaults;

namespace {

constexpr char kOwn[] = "org.trovario.TrovarioAgent";
constexpr char kEditor[] = "org.trovario.Trovario";

// A user with a home folder and preference folder of their own.
class PreferenceDefaultsTest : public ::testing::Test {
protected:
    TemporaryDirectory dir;
    ScopedEnvironment home{"HOME", dir.path().c_str()};
    UserDefaults defaults{kOwn, dir / "config/trovario"};

    void SetUp() override { defaults.addSuiteNamed(kEditor); }

    void store(const std::string& domain, const std::string& key, const PropertyList& value) {
        ASSERT_TRUE(UserDefaults(domain, defaults.directory()).setObject(key, value));
    }
    std::optional<PropertyList> stored(const std::string& key) {
        return UserDefaults(kOwn, defaults.directory()).objectForKey(key);
    }
};

}  // namespace

TEST_F(PreferenceDefaultsTest, FreshSystemReadsTheRegisteredValues) {
    PreferenceUtilities::registerDefaultPreferences(defaults);
    // The values the auto-definer cuts by.
    EXPECT_EQ(defaults.integerForKey(ZORAutoDefineMinTrackDurationKey), 30);
    EXPECT_EQ(float(defaults.floatForKey(ZORNewAutoDefineSensitivityKey)), 0.03f);
    EXPECT_EQ(defaults.floatForKey(ZORAutoDefineMinSilenceLengthKey), 1300.0);
    // The default scratch folder does not exist yet, so it is stored, and not created.
    const std::string scratch = dir.path() + "/Library/Application Support/Trovario/Scratch";
    EXPECT_EQ(stored(ZORDefaultScratchDirectoryKey), PropertyList::string(scratch));
    EXPECT_FALSE(std::filesystem::exists(scratch));
}

// The play mode button is stored shown whatever was there; a scratch folder
// is kept if it exists, in either domain, else replaced by the default.
TEST_F(PreferenceDefaultsTest, ShowPlayModeIsStoredTrueAndAMissingScratchDirectoryReplaced) {
    store(kEditor, ZORShowPlayModePUBKey, PropertyList::boolean(false));
    std::filesystem::create_directories(dir / "kept");
    const PropertyList kept = PropertyList::string(dir / "kept");
    const PropertyList fallback = PropertyList::string(PreferenceUtilities::defaultScratchDirectory());
    for (const PropertyList& scratch : {PropertyList::string(dir / "gone"), PropertyList::array(), kept}) {
        store(kOwn, ZORShowPlayModePUBKey, PropertyList::boolean(false));
        store(kOwn, ZORDefaultScratchDirectoryKey, scratch);
        PreferenceUtilities::registerDefaultPreferences(defaults);
        EXPECT_EQ(stored(ZORShowPlayModePUBKey), PropertyList::boolean(true));
        EXPECT_EQ(stored(ZORDefaultScratchDirectoryKey), scratch == kept ? kept : fallback);
    }
    defaults.removeObjectForKey(ZORDefaultScratchDirectoryKey);
    store(kEditor, ZORDefaultScratchDirectoryKey, kept);
    PreferenceUtilities::registerDefaultPreferences(defaults);
    EXPECT_EQ(defaults.stringForKey(ZORDefaultScratchDirectoryKey), dir / "kept");
    EXPECT_FALSE(stored(ZORDefaultScratchDirectoryKey));  // nothing written over the editor's choice
}

TEST_F(PreferenceDefaultsTest, UnwritablePreferencesStillGiveTheDefaults) {
    TemporaryDirectory::write(dir / "config", "not a folder");
    PreferenceUtilities::registerDefaultPreferences(defaults);
    EXPECT_TRUE(defaults.boolForKey(ZORShowPlayModePUBKey));
    EXPECT_EQ(defaults.integerForKey(ZORAutoCaptureDurationKey), 2);
}
