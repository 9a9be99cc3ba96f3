#pragma once

#include <string>

#include "frameworks/ZORAudioTrackInfo.h"
#include "platform/Result.h"

// Writes every field a track has into its delivered file (MP4 or MP3), with
// TagLib: texts, track and disc numbers with counts, compilation and cover.
// Absent fields are left out; an empty text is written as it is. Tags the
// file carried before are removed.
class TrackTagger {
public:
    static platform::Status tag(const std::string& path, const ZORAudioTrackInfo& info);
    // The audio's length in whole seconds, rounded; -1 when it cannot be read.
    static int durationSeconds(const std::string& path);
};
