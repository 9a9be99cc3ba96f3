#include "platform/Paths.h"
#include "platform/ServiceNames.h"

#include "TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace platform;

TEST(Paths, StandardFormExpandsTildeAndTidiesComponents) {
    ScopedEnvironment home("HOME", "/home/user");
    EXPECT_EQ(standardizePath("~/Library/Application Support/Trovario/Scratch/"),
              "/home/user/Library/Application Support/Trovario/Scratch");
    EXPECT_EQ(standardizePath("~"), "/home/user");
    EXPECT_EQ(standardizePath("/a//b/./c/../d/"), "/a/b/d");
    EXPECT_EQ(standardizePath("/.."), "/");
    EXPECT_EQ(standardizePath("a/../b"), "a/../b");  // relative: ".." may leave the start
    EXPECT_EQ(standardizePath("~other/x"), "~other/x");
    EXPECT_EQ(standardizePath(""), "");
}

TEST(Paths, HomeFallsBackToThePasswordDatabase) {
    const passwd* entry = getpwuid(getuid());
    ASSERT_NE(entry, nullptr);
    ScopedEnvironment noHome("HOME", nullptr);
    EXPECT_EQ(homeDirectory(), entry->pw_dir);
    EXPECT_EQ(exportFolder(), std::string(entry->pw_dir) + "/Music/Trovario");
    ScopedEnvironment emptyHome("HOME", "");
    EXPECT_EQ(homeDirectory(), entry->pw_dir);
}

TEST(Paths, CreateDirectoriesMakesPrivateParents) {
    TemporaryDirectory dir;
    ASSERT_TRUE(createDirectories(dir / "a/b/c"));
    struct stat info {};
    ASSERT_EQ(stat((dir / "a/b").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_TRUE(createDirectories(dir / "a/b/c"));
    TemporaryDirectory::write(dir / "file", "x");
    EXPECT_FALSE(createDirectories(dir / "file"));
    EXPECT_FALSE(createDirectories(dir / "file/sub"));
}
