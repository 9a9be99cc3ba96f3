// The fingerprint catalog opened from a damaged database file: refused with
// a message, or read and written without harm.

#include <unistd.h>

#include "frameworks/identification/FingerprintCatalog.h"
#include "fuzz/FuzzSupport.h"
#include "platform/Log.h"

namespace {

void removeDatabase(const std::string& path) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) unlink((path + suffix).c_str());
}

// Every read fails with a message or gives what it finds. Reads of a damaged
// file may disagree (a read-only open checks no pages), so that is not checked.
void readEverything(FingerprintCatalog& catalog) {
    if (const auto entries = catalog.list(); !entries && entries.message().empty()) fuzz::violation("list says nothing");
    if (const auto stats = catalog.stats(); !stats && stats.message().empty()) fuzz::violation("stats say nothing");
    catalog.isCurrent("/music/a.flac", 1000, 1);
    if (const auto matches = catalog.identify(std::vector<uint32_t>(64, 0x5A5A5A5A)); !matches && matches.message().empty())
        fuzz::violation("a failed identification says nothing");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::scratchHome();
    platform::Log::open("fuzz-catalog", {.mSystemLog = false, .mForeground = false, .mVerbose = false});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::scratchHome() + "/catalog.sqlite";
    removeDatabase(path);
    fuzz::writeFile(path, fuzz::bytesOf(data, size));
    if (auto catalog = FingerprintCatalog::open(path, FingerprintCatalog::Access::kReadOnly)) readEverything(**catalog);
    if (auto catalog = FingerprintCatalog::open(path, FingerprintCatalog::Access::kReadWrite)) {
        CatalogEntry entry{"/music/a.flac", 1000, 1, 2.5, std::vector<uint32_t>(32, 7), {}};
        if ((*catalog)->add(entry) && !(*catalog)->isCurrent(entry.mPath, entry.mSize, entry.mModified))
            fuzz::violation("an added entry is not current");
        readEverything(**catalog);
        if (const auto removed = (*catalog)->remove("/music"); !removed && removed.message().empty())
            fuzz::violation("a failed removal says nothing");
    }
    removeDatabase(path);
    return 0;
}
