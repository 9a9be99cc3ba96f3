#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

#include "ChildProcess.h"
#include "MusicLikePieces.h"
#include "frameworks/identification/FingerprintCatalog.h"

namespace {

using Access = FingerprintCatalog::Access;

std::unique_ptr<FingerprintCatalog> openCatalog(const std::string& path, Access access = Access::kReadWrite) {
    auto catalog = FingerprintCatalog::open(path, access);
    EXPECT_TRUE(catalog.ok()) << catalog.message();
    return catalog.ok() ? std::move(catalog.value()) : nullptr;
}

CatalogEntry entry(const std::string& path, std::vector<uint32_t> fingerprint = {1, 2, 3, 4, 5}) {
    CatalogEntry e;
    e.mPath = path;
    e.mSize = 1000;
    e.mModified = 77;
    e.mDuration = double(fingerprint.size()) * Fingerprinter::kSecondsPerItem;
    e.mFingerprint = std::move(fingerprint);
    e.mMetadata.mTitle = std::filesystem::path(path).filename();
    return e;
}

void sql(const std::string& path, const std::string& statements) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, statements.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

TEST(FingerprintCatalog, RefusesDamagedNewerAndForeignFilesWithoutTouchingThem) {
    TemporaryDirectory folder;
    const std::string garbage(8192, 'x');
    std::string damaged;
    {
        auto catalog = openCatalog(folder / "source.sqlite");
        for (int i = 0; i < 300; ++i) ASSERT_TRUE(catalog->add(entry(folder / std::to_string(i))).ok());
    }
    damaged = TemporaryDirectory::read(folder / "source.sqlite");
    damaged.replace(damaged.size() / 2, 4096, std::string(4096, '\x5a'));
    const struct {
        const char* mName;
        std::string mBytes;
        const char* mSql;
        bool mReadOnlyRefuses;  // a read-only open checks no pages
    } cases[] = {
        {"garbage", garbage, "", true},
        {"damaged", damaged, "", false},
        {"newer", "", "CREATE TABLE t (x); PRAGMA user_version = 2", true},
        {"foreign", "", "CREATE TABLE t (x)", true},
    };
    for (const auto& c : cases) {
        const std::string path = folder / (std::string(c.mName) + ".sqlite");
        TemporaryDirectory::write(path, c.mBytes);
        if (*c.mSql) sql(path, c.mSql);
        const std::string before = TemporaryDirectory::read(path);
        for (Access access : {Access::kReadWrite, Access::kReadOnly}) {
            if (access == Access::kReadOnly && !c.mReadOnlyRefuses) continue;
            auto catalog = FingerprintCatalog::open(path, access);
            EXPECT_FALSE(catalog.ok()) << c.mName;
            EXPECT_NE(catalog.message().find(path), std::string::npos) << catalog.message();
        }
        EXPECT_EQ(TemporaryDirectory::read(path), before) << c.mName;
        EXPECT_FALSE(std::filesystem::exists(path + "-wal")) << c.mName;
    }
    EXPECT_FALSE(FingerprintCatalog::open(folder / "missing.sqlite", Access::kReadOnly).ok());
    EXPECT_FALSE(std::filesystem::exists(folder / "missing.sqlite"));
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

    EXPECT_TRUE(catalog->isCurrent(folder / "a/1", 1000, 77));
    EXPECT_FALSE(catalog->isCurrent(folder / "a/1", 1001, 77));
    EXPECT_FALSE(catalog->isCurrent(folder / "a/1", 1000, 78));
    auto changed = entry(folder / "a/1", {9, 9, 9});
    changed.mSize = 1001;
    ASSERT_TRUE(catalog->add(changed).ok());
    EXPECT_TRUE(catalog->isCurrent(folder / "a/1", 1001, 77));
    EXPECT_EQ(catalog->stats()->mTracks, 5);

    EXPECT_EQ(*catalog->prune(), std::vector<std::string>{folder / "b/5"});
    EXPECT_EQ(*catalog->remove(folder / "a/"), 2);  // not a/../ab
    EXPECT_EQ(*catalog->remove(folder / "b/4"), 1);
    EXPECT_EQ(*catalog->remove(folder / "b/4"), 0);
    const auto left = *catalog->list();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].mPath, folder / "ab/3");
    EXPECT_EQ(left[0].mMetadata.mTitle, "3");
}

TEST(FingerprintCatalog, TwoProcessesAddingAtOnceBothSucceed) {
    TemporaryDirectory folder;
    const std::string path = folder / "catalog.sqlite";
    constexpr int kEach = 40;
    pid_t writers[2];
    for (int w = 0; w < 2; ++w) {
        writers[w] = fork();
        if (writers[w] == 0) {
            auto catalog = FingerprintCatalog::open(path, Access::kReadWrite);
            bool ok = catalog.ok();
            for (int i = 0; ok && i < kEach; ++i)
                ok = (*catalog)->add(entry(folder / (std::to_string(w) + "-" + std::to_string(i)))).ok();
            _exit(ok ? 0 : 1);
        }
    }
    for (pid_t writer : writers) EXPECT_EQ(exitCodeOf(writer, 60), 0);
    EXPECT_EQ(openCatalog(path, Access::kReadOnly)->list()->size(), size_t(2 * kEach));
}

TEST(FingerprintCatalog, IdentifiesEachPieceFromAnyStartAndNothingElse) {
    TemporaryDirectory folder;
    auto catalog = openCatalog(folder / "catalog.sqlite");
    std::vector<std::vector<float>> pieces;
    for (uint32_t seed = 1; seed <= 5; ++seed) {
        pieces.push_back(musiclike::piece(seed, 30));
        ASSERT_TRUE(catalog->add(entry(folder / std::to_string(seed), musiclike::fingerprint(pieces.back()))).ok());
    }
    const double kLead = 0.7;  // silence before the excerpt
    for (size_t p = 0; p < pieces.size(); ++p) {
        for (double start : {0.0, 1.3, 4.06, 9.9}) {
            const auto heard = musiclike::excerpt(pieces[p], start, -6);
            const auto query = musiclike::fingerprint(
                musiclike::concatenated(musiclike::silence(kLead), {heard.begin(), heard.begin() + 10 * 44100 * 2}));
            const auto matches = catalog->identify(query);
            ASSERT_TRUE(matches.ok()) << matches.message();
            ASSERT_FALSE(matches->empty()) << "piece " << p + 1 << " from " << start;
            EXPECT_EQ(matches->front().mPath, folder / std::to_string(p + 1));
            EXPECT_NEAR(matches->front().mOffsetSeconds, start - kLead, 0.2);
        }
    }
    for (uint32_t seed = 101; seed <= 105; ++seed)
        EXPECT_TRUE(catalog->identify(musiclike::fingerprint(musiclike::piece(seed, 12)))->empty()) << seed;
}

}  // namespace
