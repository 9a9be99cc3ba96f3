#include "platform/AtomicFile.h"
#include "platform/Paths.h"

#include "TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

using namespace platform;

// A relative path keeps its "..": it may leave where it starts.
TEST(Paths, StandardFormExpandsTildeAndTidiesComponents) {
    ScopedEnvironment home("HOME", "/home/user");
    for (const auto& [path, standard] : std::vector<std::pair<std::string, std::string>>{
             {"~/Library/Application Support/Trovario/Scratch/", "/home/user/Library/Application Support/Trovario/Scratch"},
             {"~", "/home/user"}, {"/a//b/./c/../d/", "/a/b/d"}, {"/..", "/"}, {"a/../b", "a/../b"},
             {"~other/x", "~other/x"}, {"", ""}})
        EXPECT_EQ(standardizePath(path), standard) << path;
}

// Each XDG variable: an absolute value wins; unset, empty or relative values
// give the default under home. Home, unset or empty, comes from the password database.
TEST(Paths, XdgFoldersTakeAbsoluteValuesElseTheirDefaultUnderHome) {
    // The variable, its folder, and the folder's default under home.
    const std::tuple<const char*, std::string (*)(), const char*> cases[] = {
        {"XDG_CONFIG_HOME", userConfigDirectory, "/.config"},
        {"XDG_DATA_HOME", userDataDirectory, "/.local/share"},
        {"XDG_CACHE_HOME", userCacheDirectory, "/.cache"},
        {"XDG_STATE_HOME", userStateDirectory, "/.local/state"},
    };
    ScopedEnvironment home("HOME", "/home/user");
    for (const auto& [variable, folder, underHome] : cases) {
        SCOPED_TRACE(variable);
        for (const char* ignored : {static_cast<const char*>(nullptr), "", "relative/dir"}) {
            ScopedEnvironment value(variable, ignored);
            EXPECT_EQ(folder(), std::string("/home/user") + underHome);
        }
        ScopedEnvironment absolute(variable, "/elsewhere");
        EXPECT_EQ(folder(), "/elsewhere");
    }
    ScopedEnvironment cache("XDG_CACHE_HOME", "/c");
    EXPECT_EQ(scratchRecordingPath(), "/c/trovario/trov_scratch.caf");
    const passwd* entry = getpwuid(getuid());
    ASSERT_NE(entry, nullptr);
    for (const char* unset : {static_cast<const char*>(nullptr), ""}) {
        ScopedEnvironment variable("HOME", unset);
        EXPECT_EQ(homeDirectory(), entry->pw_dir);
    }
}

// Folders are made private with their parents. The file is replaced whole with
// the given mode, a link at its place is replaced rather than followed, and a
// failed rename leaves no temporary.
TEST(AtomicFile, PrivateFoldersAndFilesReplacedWholeNeverFollowingALinkNorLeavingATemporary) {
    TemporaryDirectory dir;
    struct stat info {};
    ASSERT_TRUE(createDirectories(dir / "a/b/c"));
    ASSERT_EQ(stat((dir / "a/b").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_TRUE(createDirectories(dir / "a/b/c"));
    const std::string victim = dir / "victim", path = dir / "prefs";
    TemporaryDirectory::write(victim, "old text that is longer");
    ASSERT_EQ(symlink(victim.c_str(), path.c_str()), 0);
    ASSERT_TRUE(writeFileAtomically(path, "longer new text", 0600));
    EXPECT_EQ(TemporaryDirectory::read(victim), "old text that is longer");
    EXPECT_FALSE(std::filesystem::is_symlink(path));
    ASSERT_TRUE(writeFileAtomically(path, "new", 0640));
    EXPECT_EQ(TemporaryDirectory::read(path), "new");
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(dir.entries(), 3u);  // "a", the victim and the file

    TemporaryDirectory::write(dir / "folder/kept", "old");
    const Status status = writeFileAtomically(dir / "folder", "new", 0600);
    EXPECT_FALSE(status);
    EXPECT_NE(status.message().find(dir / "folder"), std::string::npos);
    EXPECT_EQ(TemporaryDirectory::read(dir / "folder/kept"), "old");
    EXPECT_EQ(dir.entries(), 4u);
    EXPECT_FALSE(createDirectories(victim));
    EXPECT_FALSE(createDirectories(victim + "/sub"));
}
