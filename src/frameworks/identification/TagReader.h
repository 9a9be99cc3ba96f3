#pragma once

#include <string>

#include "frameworks/identification/TrackMetadata.h"
#include "platform/Result.h"

// The tags and the front cover of an audio file, read with TagLib.
class TagReader {
public:
    static platform::Result<TrackMetadata> read(const std::string& path);
};
