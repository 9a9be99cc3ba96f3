#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "frameworks/identification/FingerprintCatalog.h"

// What `add` did; each note and refusal is a message that names its file.
struct AddSummary {
    size_t mAdded = 0;
    size_t mSkipped = 0;  // unchanged since they were catalogued
    std::vector<std::string> mRefused;
    std::vector<std::string> mUntagged;  // added without tags, and why
};

// Catalogues the files named and the audio files under the folders named
// (recursively; in folders, files are picked by their names' extensions).
// Worker threads on every core decode and fingerprint; the calling thread
// alone writes to `catalog`. `progress` gets the progress line when it is a
// terminal.
AddSummary addToCatalog(FingerprintCatalog& catalog, const std::vector<std::string>& paths, FILE* progress);
