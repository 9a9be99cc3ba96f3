#pragma once

#include <cstdint>
#include <string>

// File references as the toolkit's callers keep them. An FSRef names an
// existing file or folder; an FSSpec names a place in an existing folder,
// whether or not something is there yet.
struct FSRef {
    std::string path;
};

struct FSSpec {
    std::string path;
};

class ZORFileUtils {
public:
    // Fills `ref` with the absolute form of `path`; 0 when something exists
    // there, kAudioFileFileNotFoundError otherwise.
    static int32_t makeFSRef(FSRef& ref, const std::string& path);
    // Fills `spec` with the absolute form of `path`; 0 when its folder exists,
    // kAudioFileFileNotFoundError otherwise.
    static int32_t makeFSSpec(FSSpec& spec, const std::string& path);
};
