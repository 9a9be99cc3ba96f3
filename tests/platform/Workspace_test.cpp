#include "platform/Workspace.h"

#include "TemporaryDirectory.h"
#include "platform/Bundle.h"
#include "platform/Log.h"
#include "platform/ServiceNames.h"
#include "platform/UserDefaults.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sys/stat.h>
#include <thread>

using platform::Workspace;

namespace {

bool waitForFile(const std::string& path, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (std::filesystem::exists(path) && !TemporaryDirectory::read(path).empty()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// A private desktop: applications in a data folder of our own, nothing from
// the system, and an "editor" that writes its arguments to a file.
class WorkspaceTest : public ::testing::Test {
protected:
    TemporaryDirectory dir;
    ScopedEnvironment dataHome{"XDG_DATA_HOME", dir.path().c_str()};
    ScopedEnvironment dataDirs{"XDG_DATA_DIRS", (dir.path() + "/system").c_str()};
    std::string record = dir / "launched.txt";

    void addEntry(const std::string& identifier, const std::string& extra) {
        const std::string script = dir / "editor.sh";
        TemporaryDirectory::write(script, "#!/bin/sh\necho \"started:$*\" > '" + record + ".tmp' && mv '" + record +
                                              ".tmp' '" + record + "'\n");
        chmod(script.c_str(), 0755);
        TemporaryDirectory::write(dir / ("applications/" + identifier + ".desktop"),
                                  "[Desktop Entry]\nType=Application\nName=Test editor\nExec=" + script + " %F\n" +
                                      extra);
    }
};

}  // namespace

TEST_F(WorkspaceTest, LocatesTheBundleNamedByAValidVisibleEntry) {
    std::filesystem::create_directories(dir / "bundles/Editor.bundle");
    addEntry("com.example.Absolute", "X-Trovario-Bundle=" + (dir / "bundles/Editor.bundle") + "\n");
    EXPECT_EQ(Workspace::absolutePathForAppBundleWithIdentifier("com.example.Absolute"),
              dir / "bundles/Editor.bundle");

    std::filesystem::create_directories(dir / "applications/Beside.bundle");
    addEntry("com.example.Relative", "X-Trovario-Bundle=Beside.bundle\n");
    EXPECT_EQ(Workspace::absolutePathForAppBundleWithIdentifier("com.example.Relative"),
              dir / "applications/Beside.bundle");

    addEntry("com.example.Plain", "");
    EXPECT_EQ(Workspace::absolutePathForAppBundleWithIdentifier("com.example.Plain"),
              dir / "applications/com.example.Plain.desktop");

    // Missing, hidden or invalid identifiers are not found.
    EXPECT_FALSE(Workspace::absolutePathForAppBundleWithIdentifier("com.example.Nothing"));
    addEntry("com.example.Deleted", "Hidden=true\n");
    EXPECT_FALSE(Workspace::absolutePathForAppBundleWithIdentifier("com.example.Deleted"));
    TemporaryDirectory::write(dir / "secret.desktop", "[Desktop Entry]\nType=Application\nExec=true\n");
    EXPECT_FALSE(Workspace::absolutePathForAppBundleWithIdentifier("../secret"));
    EXPECT_FALSE(Workspace::isValidIdentifier(""));
    EXPECT_FALSE(Workspace::isValidIdentifier(".hidden"));
    EXPECT_FALSE(Workspace::isValidIdentifier("a b"));
    EXPECT_TRUE(Workspace::isValidIdentifier("org.audacityteam.Audacity"));
}

TEST_F(WorkspaceTest, LaunchAndOpenRunTheEntrysProgram) {
    addEntry("com.example.Editor", "");
    ASSERT_TRUE(Workspace::launchApplication("com.example.Editor"));
    ASSERT_TRUE(waitForFile(record, 10));
    EXPECT_EQ(TemporaryDirectory::read(record), "started:\n");
    std::filesystem::remove(record);

    const std::string audio = dir / "my song.caf";
    TemporaryDirectory::write(audio, "audio");
    ASSERT_TRUE(Workspace::openFile(audio, "com.example.Editor"));
    ASSERT_TRUE(waitForFile(record, 10));
    EXPECT_EQ(TemporaryDirectory::read(record), "started:" + audio + "\n");
}

TEST_F(WorkspaceTest, FailuresSayWhatIsMissing) {
    platform::LogCapture log;
    EXPECT_FALSE(Workspace::launchApplication("com.example.Nothing"));
    EXPECT_TRUE(log.contains("cannot launch com.example.Nothing: no desktop entry com.example.Nothing.desktop found"));

    TemporaryDirectory::write(dir / "applications/com.example.Gone.desktop",
                              "[Desktop Entry]\nType=Application\nName=Gone\nExec=/nonexistent/program %F\n");
    EXPECT_FALSE(Workspace::launchApplication("com.example.Gone"));
    EXPECT_TRUE(log.contains("has no usable Exec line"));

    addEntry("com.example.Editor", "");
    EXPECT_FALSE(Workspace::openFile(dir / "missing.caf", "com.example.Editor"));
    EXPECT_TRUE(log.contains("cannot open " + (dir / "missing.caf") + " with com.example.Editor"));
    EXPECT_FALSE(std::filesystem::exists(record));
}

TEST_F(WorkspaceTest, DefaultEditorEntryComesWithTheResources) {
    // No installed entry in the private data folders: the project's own is used.
    auto path = Workspace::absolutePathForAppBundleWithIdentifier(platform::kEditorIdentifier);
    ASSERT_TRUE(path);
    auto bundle = platform::Bundle::bundleWithPath(*path);
    ASSERT_TRUE(bundle);
    EXPECT_EQ(std::filesystem::path(bundle->bundlePath()).filename(), "Trovario.bundle");
    EXPECT_FALSE(bundle->pathForResource("trovd_idle", "png").empty());

    // An installed entry of the same name takes precedence.
    addEntry(platform::kEditorIdentifier, "");
    EXPECT_EQ(Workspace::absolutePathForAppBundleWithIdentifier(platform::kEditorIdentifier),
              dir / "applications/org.trovario.Trovario.desktop");
}

TEST(WorkspaceEditorChoice, PreferenceOverridesTheEditorIdentifier) {
    TemporaryDirectory config;
    ScopedEnvironment home("XDG_CONFIG_HOME", config.path().c_str());
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    if (defaults.directory() != config.path() + "/trovario") GTEST_SKIP() << "standard defaults opened elsewhere";

    EXPECT_EQ(Workspace::editorIdentifier(), "org.trovario.Trovario");
    ASSERT_TRUE(defaults.setObject(platform::kEditorIdentifierKey,
                                   platform::PropertyList::string("org.audacityteam.Audacity")));
    EXPECT_EQ(Workspace::editorIdentifier(), "org.audacityteam.Audacity");
    platform::LogCapture log;
    ASSERT_TRUE(defaults.setObject(platform::kEditorIdentifierKey, platform::PropertyList::string("../../bin/sh")));
    EXPECT_EQ(Workspace::editorIdentifier(), "org.trovario.Trovario");
    EXPECT_TRUE(log.contains("is not an application identifier"));
    defaults.removeObjectForKey(platform::kEditorIdentifierKey);
}
