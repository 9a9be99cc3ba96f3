#include "frameworks/identification/FingerprintCatalog.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <bit>
#include <cerrno>
#include <map>
#include <optional>
#include <thread>
#include <unordered_map>

#include "frameworks/identification/Fingerprinter.h"
#include "platform/Paths.h"

using platform::Result;
using platform::Status;

namespace {

constexpr int kSchemaVersion = 1;
// Only every kIndexStride-th item of a fingerprint is indexed: a query of a
// few seconds still meets several of them, and the catalog stays small.
constexpr int kIndexStride = 4;
// A value held by more postings than this says little about which track it
// came from (near-silence, steady tones) and would only slow the lookup.
constexpr int kMaxPostings = 1000;
// How many of the best-voted alignments get their bit error rate checked.
constexpr size_t kCandidates = 8;
// Unrelated music lies around 0.45 and never measured below 0.35 at its best
// alignment; the same recording, resampled, quieter or at the worst phase of
// Chromaprint's frames, stays under 0.05.
constexpr double kConfidentBitErrorRate = 0.2;
// Fewer aligned items than this are too few to judge by.
constexpr size_t kMinAlignedItems = 16;
constexpr int kBusyTimeoutMilliseconds = 30000;

const char* const kSchema = R"sql(
CREATE TABLE tracks (
    id INTEGER PRIMARY KEY,
    path TEXT NOT NULL UNIQUE,
    size INTEGER NOT NULL,
    modified INTEGER NOT NULL,
    duration REAL NOT NULL,
    fingerprint BLOB NOT NULL,
    title TEXT NOT NULL, artist TEXT NOT NULL, album TEXT NOT NULL, album_artist TEXT NOT NULL,
    composer TEXT NOT NULL, genre TEXT NOT NULL, comments TEXT NOT NULL,
    year INTEGER NOT NULL, track_number INTEGER NOT NULL, track_count INTEGER NOT NULL,
    disc_number INTEGER NOT NULL, disc_count INTEGER NOT NULL, compilation INTEGER NOT NULL,
    cover_mime_type TEXT NOT NULL,
    cover BLOB
);
CREATE TABLE postings (
    value INTEGER NOT NULL,
    track INTEGER NOT NULL,
    item INTEGER NOT NULL,
    PRIMARY KEY (value, track, item)
) WITHOUT ROWID;
)sql";

// The metadata columns, in the order of the table (the cover last, so that
// reading a fingerprint never pages in a picture).
const char* const kMetadataColumns =
    "title, artist, album, album_artist, composer, genre, comments, year, track_number, track_count, "
    "disc_number, disc_count, compilation, cover_mime_type, cover";

// A prepared statement, finalized when it goes.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &mStatement, nullptr) != SQLITE_OK) mStatement = nullptr;
    }
    ~Statement() { sqlite3_finalize(mStatement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool prepared() const { return mStatement != nullptr; }
    Statement& bind(int index, int64_t value) {
        sqlite3_bind_int64(mStatement, index, value);
        return *this;
    }
    Statement& bind(int index, double value) {
        sqlite3_bind_double(mStatement, index, value);
        return *this;
    }
    Statement& bind(int index, const std::string& value) {
        sqlite3_bind_text(mStatement, index, value.data(), int(value.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bindBlob(int index, const void* data, size_t bytes) {
        sqlite3_bind_blob64(mStatement, index, data ? data : "", bytes, SQLITE_TRANSIENT);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error code; 0 when it failed to prepare.
    int step() { return mStatement ? sqlite3_step(mStatement) : SQLITE_ERROR; }
    void reset() {
        if (!mStatement) return;  // sqlite3_clear_bindings does not take a null statement
        sqlite3_reset(mStatement);
        sqlite3_clear_bindings(mStatement);
    }
    int64_t integer(int column) const { return sqlite3_column_int64(mStatement, column); }
    double real(int column) const { return sqlite3_column_double(mStatement, column); }
    std::string text(int column) const {
        const auto* bytes = sqlite3_column_text(mStatement, column);
        return bytes ? std::string(reinterpret_cast<const char*>(bytes), size_t(sqlite3_column_bytes(mStatement, column)))
                     : std::string();
    }
    std::vector<uint8_t> blob(int column) const {
        const auto* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(mStatement, column));
        return bytes ? std::vector<uint8_t>(bytes, bytes + sqlite3_column_bytes(mStatement, column)) : std::vector<uint8_t>();
    }

private:
    sqlite3_stmt* mStatement = nullptr;
};

std::string databasePath(sqlite3* db) {
    const char* name = sqlite3_db_filename(db, "main");
    return name ? name : "";
}

bool isDamage(int code) {
    code &= 0xff;
    return code == SQLITE_CORRUPT || code == SQLITE_NOTADB;
}

std::string damagedMessage(const std::string& path, const std::string& detail) {
    return "the catalog " + path + " is damaged (" + detail +
           "); move it aside and build a new one with trovario-catalog add";
}

Status failure(sqlite3* db, const std::string& what) {
    const std::string path = databasePath(db);
    const int code = sqlite3_extended_errcode(db);
    if (isDamage(code)) return Status::failure(damagedMessage(path, sqlite3_errmsg(db)));
    return Status::failure("cannot " + what + " in the catalog " + path + ": " + sqlite3_errmsg(db));
}

Status execute(sqlite3* db, const char* sql, const std::string& what) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK ? Status::success() : failure(db, what);
}

// BEGIN IMMEDIATE ... COMMIT, rolled back unless committed.
class Transaction {
public:
    explicit Transaction(sqlite3* db) : mDb(db) { mStatus = execute(db, "BEGIN IMMEDIATE", "start a change"); }
    ~Transaction() {
        if (mStatus.ok() && !mCommitted) sqlite3_exec(mDb, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    const Status& status() const { return mStatus; }
    Status commit() {
        mCommitted = true;
        return execute(mDb, "COMMIT", "save a change");
    }

private:
    sqlite3* mDb;
    Status mStatus = Status::success();
    bool mCommitted = false;
};

std::vector<uint8_t> encode(const std::vector<uint32_t>& items) {
    std::vector<uint8_t> bytes(items.size() * 4);
    for (size_t i = 0; i < items.size(); ++i)
        for (int b = 0; b < 4; ++b) bytes[i * 4 + size_t(b)] = uint8_t(items[i] >> (8 * b));
    return bytes;
}

std::vector<uint32_t> decode(const std::vector<uint8_t>& bytes) {
    std::vector<uint32_t> items(bytes.size() / 4);
    for (size_t i = 0; i < items.size(); ++i)
        for (int b = 0; b < 4; ++b) items[i] |= uint32_t(bytes[i * 4 + size_t(b)]) << (8 * b);
    return items;
}

// Stored as a signed 32-bit integer, which SQLite keeps in 4 bytes (an
// unsigned one above 2^31 would take 6).
int64_t postingValue(uint32_t item) { return int32_t(item); }

// The metadata columns from `first` on; the cover only when asked for.
TrackMetadata readMetadata(const Statement& row, int first, bool withCover) {
    TrackMetadata m;
    std::string* texts[] = {&m.mTitle, &m.mArtist, &m.mAlbum, &m.mAlbumArtist, &m.mComposer, &m.mGenre, &m.mComments};
    for (std::string* text : texts) *text = row.text(first++);
    int* numbers[] = {&m.mYear, &m.mTrackNumber, &m.mTrackCount, &m.mDiscNumber, &m.mDiscCount};
    for (int* number : numbers) *number = int(row.integer(first++));
    m.mCompilation = row.integer(first++) != 0;
    m.mCoverMimeType = row.text(first++);
    if (withCover) m.mCoverArt = row.blob(first);
    return m;
}

void bindMetadata(Statement& insert, int first, const TrackMetadata& m) {
    for (const std::string* text : {&m.mTitle, &m.mArtist, &m.mAlbum, &m.mAlbumArtist, &m.mComposer, &m.mGenre, &m.mComments})
        insert.bind(first++, *text);
    for (int number : {m.mYear, m.mTrackNumber, m.mTrackCount, m.mDiscNumber, m.mDiscCount, int(m.mCompilation)})
        insert.bind(first++, int64_t(number));
    insert.bind(first++, m.mCoverMimeType);
    if (!m.mCoverArt.empty()) insert.bindBlob(first, m.mCoverArt.data(), m.mCoverArt.size());
}

struct Posting {
    int64_t mValue;
    int64_t mTrack;
    int64_t mItem;
    auto operator<=>(const Posting&) const = default;
};

void appendPostings(std::vector<Posting>& postings, int64_t track, const std::vector<uint32_t>& items) {
    for (size_t i = 0; i < items.size(); i += kIndexStride) postings.push_back({postingValue(items[i]), track, int64_t(i)});
}

// Inserts or deletes postings, in the index's order so that each page of it
// is visited once.
Status writePostings(sqlite3* db, std::vector<Posting> postings, bool insert) {
    std::sort(postings.begin(), postings.end());
    Statement statement(db, insert ? "INSERT OR IGNORE INTO postings (value, track, item) VALUES (?, ?, ?)"
                                   : "DELETE FROM postings WHERE value = ? AND track = ? AND item = ?");
    for (const Posting& posting : postings) {
        statement.bind(1, posting.mValue).bind(2, posting.mTrack).bind(3, posting.mItem);
        if (statement.step() != SQLITE_DONE) return failure(db, "index a fingerprint");
        statement.reset();
    }
    return Status::success();
}

// Deletes a track and its postings.
Status deleteTrack(sqlite3* db, int64_t track) {
    Statement select(db, "SELECT fingerprint FROM tracks WHERE id = ?");
    if (select.bind(1, track).step() != SQLITE_ROW) return failure(db, "read a fingerprint");
    std::vector<Posting> postings;
    appendPostings(postings, track, decode(select.blob(0)));
    if (Status removed = writePostings(db, std::move(postings), false); !removed) return removed;
    Statement remove(db, "DELETE FROM tracks WHERE id = ?");
    return remove.bind(1, track).step() == SQLITE_DONE ? Status::success() : failure(db, "remove a track");
}

// The id of every track at `path`, or under it when it is a folder.
Result<std::vector<std::pair<int64_t, std::string>>> tracksUnder(sqlite3* db, const std::string& path) {
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    Statement select(db, "SELECT id, path FROM tracks WHERE path = ?1 OR substr(path, 1, length(?2)) = ?2");
    select.bind(1, folder).bind(2, folder == "/" ? folder : folder + "/");
    std::vector<std::pair<int64_t, std::string>> tracks;
    int code;
    while ((code = select.step()) == SQLITE_ROW) tracks.emplace_back(select.integer(0), select.text(1));
    if (code != SQLITE_DONE) return failure(db, "look up " + path);
    return tracks;
}

// The bit error rate of the query laid over the track from item `shift` on,
// over the aligned stretch and over its first kMinAlignedItems (a match must
// hold from where the query begins, not only on average: a query that starts
// with other music and goes on into this track is not this track).
struct Alignment {
    size_t mItems = 0;
    double mRate = 1;
    double mHeadRate = 1;
};

Alignment aligned(const std::vector<uint32_t>& track, const std::vector<uint32_t>& query, int64_t shift) {
    const int64_t first = std::max<int64_t>(0, -shift);
    const int64_t last = std::min<int64_t>(int64_t(query.size()), int64_t(track.size()) - shift);
    Alignment result;
    if (last <= first) return result;
    result.mItems = size_t(last - first);
    size_t bits = 0, headBits = 0;
    const int64_t headEnd = std::min<int64_t>(last, first + int64_t(kMinAlignedItems));
    for (int64_t i = first; i < last; ++i) {
        bits += size_t(std::popcount(track[size_t(i + shift)] ^ query[size_t(i)]));
        if (i + 1 == headEnd) headBits = bits;
    }
    result.mRate = double(bits) / double(32 * result.mItems);
    result.mHeadRate = double(headBits) / double(32 * (headEnd - first));
    return result;
}

// The query's alignments with catalogued tracks, most votes first: for
// every indexed item equal to a query item, one vote for the track at the
// shift that lays the query over it.
Result<std::vector<std::pair<int64_t, int64_t>>> votedAlignments(sqlite3* db, const std::vector<uint32_t>& query) {
    Statement lookup(db, "SELECT track, item FROM postings WHERE value = ? LIMIT ?");
    std::map<std::pair<int64_t, int64_t>, int> votes;
    for (size_t i = 0; i < query.size(); ++i) {
        std::vector<std::pair<int64_t, int64_t>> postings;
        lookup.bind(1, postingValue(query[i])).bind(2, int64_t(kMaxPostings + 1));
        int code;
        while ((code = lookup.step()) == SQLITE_ROW) postings.emplace_back(lookup.integer(0), lookup.integer(1));
        lookup.reset();
        if (code != SQLITE_DONE) return failure(db, "look up a fingerprint");
        if (postings.size() > size_t(kMaxPostings)) continue;
        for (const auto& [track, item] : postings) ++votes[{track, item - int64_t(i)}];
    }
    std::vector<std::pair<int, std::pair<int64_t, int64_t>>> ranked;
    for (const auto& [alignment, count] : votes) ranked.emplace_back(count, alignment);
    const size_t kept = std::min(ranked.size(), kCandidates);
    std::partial_sort(ranked.begin(), ranked.begin() + long(kept), ranked.end(),
                      [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<std::pair<int64_t, int64_t>> best;
    for (size_t i = 0; i < kept; ++i) best.push_back(ranked[i].second);
    return best;
}

// The candidate as a match when its bit error rate, at the voted shift or
// one item either side, is confident.
Result<std::optional<CatalogMatch>> checked(sqlite3* db, int64_t track, int64_t shift, const std::vector<uint32_t>& query) {
    Statement select(db, "SELECT fingerprint FROM tracks WHERE id = ?");
    int code = select.bind(1, track).step();
    if (code == SQLITE_DONE) return std::optional<CatalogMatch>();  // removed meanwhile
    if (code != SQLITE_ROW) return failure(db, "read a fingerprint");
    const auto items = decode(select.blob(0));
    CatalogMatch match;
    match.mTrackId = track;
    match.mBitErrorRate = 1;
    for (int64_t tried = shift - 1; tried <= shift + 1; ++tried) {
        const Alignment alignment = aligned(items, query, tried);
        if (alignment.mItems >= std::min(kMinAlignedItems, query.size()) && alignment.mRate < match.mBitErrorRate &&
            alignment.mHeadRate < kConfidentBitErrorRate) {
            match.mBitErrorRate = alignment.mRate;
            match.mOffsetSeconds = double(tried) * Fingerprinter::kSecondsPerItem;
        }
    }
    if (match.mBitErrorRate >= kConfidentBitErrorRate) return std::optional<CatalogMatch>();
    const std::string sql = std::string("SELECT path, ") + kMetadataColumns + " FROM tracks WHERE id = ?";
    Statement details(db, sql.c_str());
    if (details.bind(1, track).step() != SQLITE_ROW) return failure(db, "read a track");
    match.mPath = details.text(0);
    match.mMetadata = readMetadata(details, 1, true);
    return std::optional<CatalogMatch>(std::move(match));
}

int64_t fileBytes(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? int64_t(info.st_size) : 0;
}

// Whether the file at `path` is certainly gone (not merely unreadable now).
bool isGone(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

// The checks every open makes before anything is written: a readable
// database of this or an older version. A read-write open also checks every
// page, since writing to a damaged database would spread the damage.
Status checkReadable(sqlite3* db, FingerprintCatalog::Access access) {
    const std::string path = databasePath(db);
    // One statement, one snapshot: another process may be creating the tables.
    Statement version(db, "SELECT (SELECT user_version FROM pragma_user_version), (SELECT count(*) FROM sqlite_schema)");
    if (version.step() != SQLITE_ROW) return failure(db, "read the version");
    const int64_t found = version.integer(0), tables = version.integer(1);
    if (found > kSchemaVersion)
        return Status::failure("the catalog " + path + " was written by a newer version of Trovario (catalog version " +
                               std::to_string(found) + ", this one reads up to " + std::to_string(kSchemaVersion) +
                               "); update Trovario, or move the catalog aside to build a new one");
    if (found == 0 && tables > 0)
        return Status::failure("the file " + path + " is not a Trovario catalog; move it aside or name another file");
    if (found == 0 && access == FingerprintCatalog::Access::kReadOnly)
        return Status::failure("the catalog " + path + " is empty; build it with trovario-catalog add");
    if (found != 0 && access == FingerprintCatalog::Access::kReadWrite) {
        Statement check(db, "PRAGMA quick_check");
        if (check.step() != SQLITE_ROW) return failure(db, "check the pages");
        if (check.text(0) != "ok") return Status::failure(damagedMessage(path, check.text(0)));
    }
    return Status::success();
}

// Switching a database to WAL needs it to itself, and SQLite answers "busy"
// at once, without waiting, while another process holds it: two processes
// opening a new catalog together retry for as long as a lock is waited for.
Status switchToWriteAheadLog(sqlite3* db) {
    constexpr int kRetryMilliseconds = 10;
    for (int waited = 0;; waited += kRetryMilliseconds) {
        Statement mode(db, "PRAGMA journal_mode = WAL");
        const int code = mode.step();
        if (code == SQLITE_ROW && mode.text(0) == "wal") return Status::success();
        if ((code & 0xff) != SQLITE_BUSY || waited >= kBusyTimeoutMilliseconds)
            return code == SQLITE_ROW ? Status::failure("the catalog " + databasePath(db) + " cannot use write-ahead logging")
                                      : failure(db, "switch to write-ahead logging");
        std::this_thread::sleep_for(std::chrono::milliseconds(kRetryMilliseconds));
    }
}

// WAL, and the tables of a new database. Two processes may create the same
// database at once: the second finds the tables made inside its transaction.
Status prepareForWriting(sqlite3* db) {
    if (Status wal = switchToWriteAheadLog(db); !wal) return wal;
    if (Status sync = execute(db, "PRAGMA synchronous = NORMAL", "set the durability"); !sync) return sync;
    Transaction transaction(db);
    if (!transaction.status()) return transaction.status();
    Statement version(db, "PRAGMA user_version");
    if (version.step() != SQLITE_ROW) return failure(db, "read the version");
    if (version.integer(0) != 0) return Status::success();
    if (Status created = execute(db, kSchema, "create the tables"); !created) return created;
    const std::string setVersion = "PRAGMA user_version = " + std::to_string(kSchemaVersion);
    if (Status set = execute(db, setVersion.c_str(), "set the version"); !set) return set;
    return transaction.commit();
}

// Inserts the entry's row, replacing the one with its path; its id.
Result<int64_t> insertTrack(sqlite3* db, const CatalogEntry& entry) {
    Statement existing(db, "SELECT id FROM tracks WHERE path = ?");
    if (existing.bind(1, entry.mPath).step() == SQLITE_ROW)
        if (Status removed = deleteTrack(db, existing.integer(0)); !removed) return removed;
    const std::string sql = std::string("INSERT INTO tracks (path, size, modified, duration, fingerprint, ") +
                            kMetadataColumns + ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
    Statement insert(db, sql.c_str());
    const auto fingerprint = encode(entry.mFingerprint);
    insert.bind(1, entry.mPath).bind(2, entry.mSize).bind(3, entry.mModified).bind(4, entry.mDuration);
    insert.bindBlob(5, fingerprint.data(), fingerprint.size());
    bindMetadata(insert, 6, entry.mMetadata);
    if (insert.step() != SQLITE_DONE) return failure(db, "add " + entry.mPath);
    return int64_t(sqlite3_last_insert_rowid(db));
}

}  // namespace

std::string FingerprintCatalog::defaultPath() { return platform::userDataDirectory() + "/trovario/catalog.sqlite"; }

Result<std::unique_ptr<FingerprintCatalog>> FingerprintCatalog::open(const std::string& path, Access access) {
    const bool writing = access == Access::kReadWrite;
    if (writing) {
        const size_t slash = path.find_last_of('/');
        if (slash != std::string::npos && slash > 0)
            if (Status folder = platform::createDirectories(path.substr(0, slash)); !folder) return folder;
    } else if (isGone(path)) {
        return Status::failure("there is no catalog at " + path + "; build one with trovario-catalog add");
    }
    sqlite3* db = nullptr;
    const int flags = writing ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        Status opened = Status::failure("cannot open the catalog " + path + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
        sqlite3_close(db);
        return opened;
    }
    std::unique_ptr<FingerprintCatalog> catalog(new FingerprintCatalog(db));
    sqlite3_busy_timeout(db, kBusyTimeoutMilliseconds);
    if (Status readable = checkReadable(db, access); !readable) return readable;
    if (writing)
        if (Status prepared = prepareForWriting(db); !prepared) return prepared;
    sqlite3_exec(db, "PRAGMA cache_size = -32768; PRAGMA mmap_size = 1073741824", nullptr, nullptr, nullptr);
    return catalog;
}

FingerprintCatalog::FingerprintCatalog(sqlite3* db) : mDb(db) {}

FingerprintCatalog::~FingerprintCatalog() { sqlite3_close(mDb); }

bool FingerprintCatalog::isCurrent(const std::string& path, int64_t size, int64_t modified) {
    Statement select(mDb, "SELECT 1 FROM tracks WHERE path = ? AND size = ? AND modified = ?");
    return select.bind(1, path).bind(2, size).bind(3, modified).step() == SQLITE_ROW;
}

Status FingerprintCatalog::add(const CatalogEntry& entry) { return add(std::vector<CatalogEntry>{entry}); }

Status FingerprintCatalog::add(const std::vector<CatalogEntry>& entries) {
    Transaction transaction(mDb);
    if (!transaction.status()) return transaction.status();
    // A path named twice keeps its last entry.
    std::unordered_map<std::string, size_t> last;
    for (size_t i = 0; i < entries.size(); ++i) last[entries[i].mPath] = i;
    std::vector<Posting> postings;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (last[entries[i].mPath] != i) continue;
        const CatalogEntry& entry = entries[i];
        auto track = insertTrack(mDb, entry);
        if (!track) return track.status();
        appendPostings(postings, *track, entry.mFingerprint);
    }
    if (Status indexed = writePostings(mDb, std::move(postings), true); !indexed) return indexed;
    return transaction.commit();
}

Result<int64_t> FingerprintCatalog::remove(const std::string& pathOrFolder) {
    Transaction transaction(mDb);
    if (!transaction.status()) return transaction.status();
    auto tracks = tracksUnder(mDb, pathOrFolder);
    if (!tracks) return tracks.status();
    for (const auto& track : *tracks)
        if (Status removed = deleteTrack(mDb, track.first); !removed) return removed;
    if (Status committed = transaction.commit(); !committed) return committed;
    return int64_t(tracks->size());
}

Result<std::vector<std::string>> FingerprintCatalog::prune() {
    auto tracks = tracksUnder(mDb, "/");
    if (!tracks) return tracks.status();
    std::vector<std::pair<int64_t, std::string>> gone;
    std::copy_if(tracks->begin(), tracks->end(), std::back_inserter(gone), [](const auto& t) { return isGone(t.second); });
    Transaction transaction(mDb);
    if (!transaction.status()) return transaction.status();
    std::vector<std::string> paths;
    for (const auto& [track, path] : gone) {
        if (Status removed = deleteTrack(mDb, track); !removed) return removed;
        paths.push_back(path);
    }
    if (Status committed = transaction.commit(); !committed) return committed;
    return paths;
}

Result<std::vector<CatalogEntry>> FingerprintCatalog::list() {
    // The cover is the last column: leaving it out of the query keeps it unread.
    std::string columns = kMetadataColumns;
    columns.resize(columns.rfind(", cover"));
    const std::string sql = "SELECT path, size, modified, duration, " + columns + " FROM tracks ORDER BY path";
    Statement select(mDb, sql.c_str());
    std::vector<CatalogEntry> entries;
    int code;
    while ((code = select.step()) == SQLITE_ROW) {
        CatalogEntry entry{select.text(0), select.integer(1), select.integer(2), select.real(3), {}, {}};
        entry.mMetadata = readMetadata(select, 4, false);
        entries.push_back(std::move(entry));
    }
    if (code != SQLITE_DONE) return failure(mDb, "list the tracks");
    return entries;
}

Result<CatalogStats> FingerprintCatalog::stats() {
    Statement select(mDb, "SELECT count(*), coalesce(sum(duration), 0) FROM tracks");
    if (select.step() != SQLITE_ROW) return failure(mDb, "count the tracks");
    const std::string path = databasePath(mDb);
    return CatalogStats{select.integer(0), select.real(1), fileBytes(path) + fileBytes(path + "-wal")};
}

Result<std::vector<CatalogMatch>> FingerprintCatalog::identify(const std::vector<uint32_t>& query) {
    auto alignments = votedAlignments(mDb, query);
    if (!alignments) return alignments.status();
    std::vector<CatalogMatch> matches;
    for (const auto& [track, shift] : *alignments) {
        const int64_t id = track;  // clang 14 cannot capture a structured binding
        const bool known = std::any_of(matches.begin(), matches.end(), [id](const auto& m) { return m.mTrackId == id; });
        if (known) continue;
        auto match = checked(mDb, track, shift, query);
        if (!match) return match.status();
        if (*match) matches.push_back(std::move(**match));
    }
    std::sort(matches.begin(), matches.end(), [](const auto& a, const auto& b) { return a.mBitErrorRate < b.mBitErrorRate; });
    return matches;
}
