#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "frameworks/identification/TrackMetadata.h"
#include "platform/Result.h"

struct sqlite3;

// One catalogued file.
struct CatalogEntry {
    std::string mPath;     // absolute
    int64_t mSize = 0;     // bytes
    int64_t mModified = 0; // modification time, nanoseconds since the epoch
    double mDuration = 0;  // seconds
    std::vector<uint32_t> mFingerprint;
    TrackMetadata mMetadata;
};

// A catalogued file whose fingerprint holds the query.
struct CatalogMatch {
    int64_t mTrackId = 0;
    std::string mPath;
    TrackMetadata mMetadata;
    double mOffsetSeconds = 0;  // where in the catalogued file the query begins
    double mBitErrorRate = 0;   // over the aligned stretch, 0 to 1
};

struct CatalogStats {
    int64_t mTracks = 0;
    double mSeconds = 0;      // total duration
    int64_t mFileBytes = 0;   // size of the database on disk
};

// The user's music, fingerprinted, in one SQLite database (WAL, so that the
// agent reads while the catalog tool writes). Versioned: a database of a
// newer version, or a damaged one, is refused with a message, never touched.
// One object per thread; several processes may open the same file.
class FingerprintCatalog {
public:
    enum class Access { kReadOnly, kReadWrite };

    // $XDG_DATA_HOME/trovario/catalog.sqlite
    static std::string defaultPath();
    // Read-write creates the database (and its folder) when missing.
    static platform::Result<std::unique_ptr<FingerprintCatalog>> open(const std::string& path, Access access);
    ~FingerprintCatalog();
    FingerprintCatalog(const FingerprintCatalog&) = delete;
    FingerprintCatalog& operator=(const FingerprintCatalog&) = delete;

    // Whether `path` is catalogued with this size and modification time.
    bool isCurrent(const std::string& path, int64_t size, int64_t modified);
    // Adds the entry, or replaces the one with the same path.
    platform::Status add(const CatalogEntry& entry);
    // The same for many entries in one transaction: far faster than one by
    // one in a large catalog, whose index every entry touches all over.
    platform::Status add(const std::vector<CatalogEntry>& entries);
    // Removes the file, or every file under the folder; how many went.
    platform::Result<int64_t> remove(const std::string& pathOrFolder);
    // Removes the entries whose files are gone; their paths.
    platform::Result<std::vector<std::string>> prune();
    // Every entry, fingerprints and covers left out.
    platform::Result<std::vector<CatalogEntry>> list();
    platform::Result<CatalogStats> stats();
    // The catalogued files that hold the query, best (lowest bit error
    // rate) first; only confident ones. Fast at 100 000 tracks.
    platform::Result<std::vector<CatalogMatch>> identify(const std::vector<uint32_t>& query);

private:
    explicit FingerprintCatalog(sqlite3* db);
    sqlite3* mDb;
};
