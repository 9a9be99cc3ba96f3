#pragma once

#include <string>

#include "frameworks/identification/FingerprintCatalog.h"
#include "platform/Result.h"

// A file's size and modification time, as the catalog compares them.
struct FileStamp {
    int64_t mSize = 0;
    int64_t mModified = 0;  // nanoseconds since the epoch
};
platform::Result<FileStamp> fileStamp(const std::string& path);

// The catalog entry of an audio file: its whole audio decoded and
// fingerprinted, its tags read. A file TagLib cannot read is still catalogued,
// without tags; `tagProblem` then says why.
platform::Result<CatalogEntry> fingerprintFile(const std::string& path, std::string& tagProblem);
