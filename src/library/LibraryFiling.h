#pragma once

#include <string>

#include "frameworks/ZORAudioTrackInfo.h"
#include "platform/Result.h"

// Where a delivered track goes in the music library:
// <Album Artist or Artist or "Unknown Artist">/<Album or "Unknown Album">/<NN >Title.<ext>
class LibraryFiling {
public:
    // The path relative to the library folder; every part is a safe name.
    // Without a title, `fallbackTitle` (the export's name) stands in.
    static std::string relativePath(const ZORAudioTrackInfo& info, const std::string& fallbackTitle,
                                    const std::string& extension);
    // Moves `file` to `destination`, or to "<stem> 2.<ext>", "<stem> 3.<ext>"...
    // when a file of that name exists: nothing there is ever replaced. The
    // path it took.
    static platform::Result<std::string> placeWithoutOverwriting(const std::string& file,
                                                                 const std::string& destination);
};
