#include <gtest/gtest.h>
#include <sqlite3.h>

#include "ChildProcess.h"
#include "frameworks/identification/Fingerprinter.h"
#include "frameworks/identification/FingerprintCatalog.h"

namespace {

using Access = FingerprintCatalog::Access;

std::unique_ptr<FingerprintCatalog> openCatalog(const std::string& path, Access access = Access::kReadWrite) {
    auto catalog = FingerprintCatalog::open(path, access);
    EXPECT_TRUE(catalog.ok()) << catalog.message();
    return catalog.ok() ? std::move(catalog.value()) : nullptr;
}

CatalogEntry entry(const std::string& path, std::vector<uint32_t> fingerprint = {1, 2, 3, 4, 5}) {
    CatalogEntry e{path, 1000, 77, 0, std::move(fingerprint), {}};
    e.mMetadata.mTitle = path.substr(path.rfind('/') + 1);
    return e;
}

TEST(FingerprintCatalog, RefusesDamagedNewerAndForeignFilesWithoutTouchingThem) {
    TemporaryDirectory folder;
    std::vector<CatalogEntry> many;
    for (int i = 0; i < 300; ++i) many.push_back(entry(std::to_string(i)));
    ASSERT_TRUE(openCatalog(folder / "good.sqlite")->add(many).ok());
    std::string damaged = TemporaryDirectory::read(folder / "good.sqlite");
    damaged.replace(damaged.size() / 2, 4096, std::string(4096, 'Z'));
    const struct {
        std::string mBytes;
        const char* mSql;
        bool mReadOnlyRefuses;  // a read-only open checks no pages
    } cases[] = {{std::string(8192, 'x'), "", true},
                 {damaged, "", false},
                 {"", "CREATE TABLE t (x); PRAGMA user_version = 2", true},
                 {"", "CREATE TABLE t (x)", true}};
    for (const auto& c : cases) {
        const std::string path = folder / ("case" + std::to_string(&c - cases) + ".sqlite");
        TemporaryDirectory::write(path, c.mBytes);
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        sqlite3_exec(db, c.mSql, nullptr, nullptr, nullptr);
        sqlite3_close(db);
        const std::string before = TemporaryDirectory::read(path);
        for (Access access : {Access::kReadWrite, Access::kReadOnly}) {
            auto catalog = FingerprintCatalog::open(path, access);
            EXPECT_TRUE(!catalog.ok() || (access == Access::kReadOnly && !c.mReadOnlyRefuses)) << path;
            EXPECT_TRUE(catalog.ok() || catalog.message().find(path) != std::string::npos) << catalog.message();
        }
        EXPECT_EQ(TemporaryDirectory::read(path), before) << path;
    }
    EXPECT_FALSE(FingerprintCatalog::open(folder / "missing.sqlite", Access::kReadOnly).ok());
    // A catalog of our version that lost a table opens, but a look-up there fails with a message.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((folder / "good.sqlite").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "DROP TABLE postings", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    auto identified = openCatalog(folder / "good.sqlite", Access::kReadOnly)->identify({1, 2, 3, 4, 5});
    EXPECT_FALSE(identified.ok() || identified.message().empty());
}

TEST(FingerprintCatalog, KeepsEntriesCurrentAndRemovesFilesFoldersAndWhatIsGone) {
    TemporaryDirectory folder;
    auto catalog = openCatalog(folder / "data/catalog.sqlite");
    for (const char* name : {"a/1", "a/2", "ab/3", "b/4"}) TemporaryDirectory::write(folder / name, "audio");
    std::vector<CatalogEntry> batch;
    for (const char* name : {"b/5", "a/1", "a/2", "ab/3", "b/4", "b/5"}) batch.push_back(entry(folder / name));
    batch[0].mSize = 1;  // a path named twice keeps its last entry
    ASSERT_TRUE(catalog->add(batch).ok());
    EXPECT_TRUE(catalog->isCurrent(folder / "b/5", 1000, 77));
    EXPECT_FALSE(catalog->isCurrent(folder / "a/1", 1001, 77));
    EXPECT_FALSE(catalog->isCurrent(folder / "a/1", 1000, 78));
    batch[1].mSize = 1001;
    ASSERT_TRUE(catalog->add(batch[1]).ok());
    EXPECT_TRUE(catalog->isCurrent(folder / "a/1", 1001, 77));
    EXPECT_EQ(catalog->stats()->mTracks, 5);
    EXPECT_TRUE(catalog->identify(Fingerprinter::fingerprint(nullptr, 0))->empty());

    EXPECT_EQ(*catalog->prune(), std::vector<std::string>{folder / "b/5"});
    EXPECT_EQ(*catalog->remove(folder / "a/"), 2);  // not ab/
    EXPECT_EQ(*catalog->remove(folder / "b/4"), 1);
    EXPECT_EQ(*catalog->remove(folder / "b/4"), 0);
    const auto left = *catalog->list();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].mMetadata.mTitle, "3");
}

TEST(FingerprintCatalog, TwoProcessesAddingAtOnceBothSucceed) {
    TemporaryDirectory folder;
    pid_t writers[2];
    for (int w = 0; w < 2; ++w) {
        if ((writers[w] = fork()) != 0) continue;
        auto catalog = FingerprintCatalog::open(folder / "catalog.sqlite", Access::kReadWrite);
        bool ok = catalog.ok();
        for (int i = 0; ok && i < 40; ++i) ok = (*catalog)->add(entry(std::to_string(w) + "-" + std::to_string(i))).ok();
        _exit(ok ? 0 : 1);
    }
    for (pid_t writer : writers) EXPECT_EQ(exitCodeOf(writer, 60), 0);
    EXPECT_EQ(openCatalog(folder / "catalog.sqlite", Access::kReadOnly)->list()->size(), 80u);
}

}  // namespace
