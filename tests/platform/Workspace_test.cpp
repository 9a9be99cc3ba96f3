#include "platform/Workspace.h"

#include "TemporaryDirectory.h"
#include "platform/ServiceNames.h"
#include "platform/UserDefaults.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

using platform::Workspace;

namespace {

// A private desktop: applications in a data folder of our own, nothing from
// the system, and an "editor" that writes its arguments to a file.
class WorkspaceTest : public ::testing::Test {
protected:
    TemporaryDirectory dir;
    ScopedEnvironment dataHome{"XDG_DATA_HOME", dir.path().c_str()};
    ScopedEnvironment dataDirs{"XDG_DATA_DIRS", (dir / "system").c_str()};
    std::string record = dir / "launched.txt";

    void addEntry(const std::string& identifier, const std::string& extra, const std::string& program = "") {
        const std::string script = dir / "editor.sh";
        TemporaryDirectory::write(script, "#!/bin/sh\necho \"started:$*\" > '" + record + ".tmp' && mv '" + record +
                                              ".tmp' '" + record + "'\n");
        chmod(script.c_str(), 0755);
        TemporaryDirectory::write(dir / ("applications/" + identifier + ".desktop"),
                                  "[Desktop Entry]\nType=Application\nName=Test editor\nExec=" +
                                      (program.empty() ? script : program) + " %F\n" + extra);
    }
    // What the editor was started with, "" if it was not started within 10 s.
    std::string launched() {
        eventually([this] { return std::filesystem::exists(record); }, 10.0);
        std::string text = TemporaryDirectory::read(record);
        std::filesystem::remove(record);
        return text;
    }
};

}  // namespace

TEST_F(WorkspaceTest, LocatesTheBundleOfAValidVisibleEntryAndLaunchesAndOpensWithItsProgramOrFails) {
    std::filesystem::create_directories(dir / "bundles/Editor.bundle");
    std::filesystem::create_directories(dir / "applications/Beside.bundle");
    addEntry("com.example.Absolute", "X-Trovario-Bundle=" + (dir / "bundles/Editor.bundle") + "\n");
    addEntry("com.example.Relative", "X-Trovario-Bundle=Beside.bundle\n");
    addEntry("com.example.Moved", "X-Trovario-Bundle=" + (dir / "bundles/Moved.bundle") + "\n");
    addEntry("com.example.Plain", "");
    addEntry("com.example.Deleted", "Hidden=true\n");
    TemporaryDirectory::write(dir / "secret.desktop", "[Desktop Entry]\nType=Application\nExec=true\n");
    for (const auto& [identifier, expected] : std::vector<std::pair<std::string, std::string>>{
             {"com.example.Absolute", dir / "bundles/Editor.bundle"},
             {"com.example.Relative", dir / "applications/Beside.bundle"},
             {"com.example.Moved", dir / "applications/com.example.Moved.desktop"},
             {"com.example.Plain", dir / "applications/com.example.Plain.desktop"}, {"com.example.Nothing", ""},
             {"com.example.Deleted", ""}, {"../secret", ""}, {".hidden", ""}, {"a b", ""}})
        EXPECT_EQ(Workspace::absolutePathForAppBundleWithIdentifier(identifier).value_or(""), expected) << identifier;

    addEntry("com.example.Editor", "");
    ASSERT_TRUE(Workspace::launchApplication("com.example.Editor"));
    EXPECT_EQ(launched(), "started:\n");
    const std::string audio = dir / "my song.caf";
    TemporaryDirectory::write(audio, "audio");
    ASSERT_TRUE(Workspace::openFile(audio, "com.example.Editor"));
    EXPECT_EQ(launched(), "started:" + audio + "\n");

    EXPECT_FALSE(Workspace::launchApplication("com.example.Nothing"));
    addEntry("com.example.Gone", "", "/nonexistent/program");
    EXPECT_FALSE(Workspace::launchApplication("com.example.Gone"));
    EXPECT_FALSE(Workspace::openFile(dir / "missing.caf", "com.example.Editor"));
    EXPECT_FALSE(std::filesystem::exists(record));
}

TEST(WorkspaceEditorChoice, PreferenceOverridesTheEditorIdentifierUnlessItIsNoIdentifier) {
    TemporaryDirectory config;
    ScopedEnvironment home("XDG_CONFIG_HOME", config.path().c_str());
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    for (const auto& [chosen, used] : std::vector<std::pair<std::string, std::string>>{
             {"org.audacityteam.Audacity", "org.audacityteam.Audacity"}, {"../../bin/sh", "org.trovario.Trovario"}}) {
        ASSERT_TRUE(defaults.setObject(platform::kEditorIdentifierKey, platform::PropertyList::string(chosen)));
        EXPECT_EQ(Workspace::editorIdentifier(), used);
    }
}
