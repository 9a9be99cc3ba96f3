#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/Paths.h"
#include "platform/Result.h"

class AudioSlice;
class TROVTrack;

// Writes a track's (or a slice's) stretch of the scratch recording into an
// AAC .m4a file of the agent's library folder and hands the file on for
// delivery. The controller owns one; the pipelines call it on their worker
// thread, one export at a time.
class TrackExporter {
public:
    // Where a finished export goes next (the hand-off script or the library
    // deliverer); called only for a complete file. Where the file went, or
    // why it did not get there.
    using Delivered = platform::Result<std::string>;
    struct HandOff {
        std::function<Delivered(const std::string& file, const TROVTrack& track)> mTrack;
        std::function<Delivered(const std::string& file, const AudioSlice& slice)> mSlice;
    };

    explicit TrackExporter(HandOff handOff, std::string sourcePath = platform::scratchRecordingPath());

    // <music folder>/Trovario, made sure to exist on every call.
    static std::string libraryPath();
    // Makes a folder exist at `path`, with its missing parents. A file
    // standing where a folder must be is moved aside (never deleted) and
    // the log says where it went.
    static void createDirectoryIfNeeded(const std::string& path);
    // "<library folder>/<name>.m4a" with the name made safe, so that no
    // title names a file outside the library folder.
    static std::string exportPathFor(const std::string& name);

    // Replace any file at `path`, copy the span and hand the file over. A
    // span that does not end after it starts writes nothing; a copy that
    // failed is removed, logged with its track and cause, and not handed over.
    // Where the track went (the export itself without a hand-off), or why
    // it did not get there.
    Delivered exportTrack(const TROVTrack& track, const std::string& path);
    Delivered exportSlice(const AudioSlice& slice, const std::string& path);

private:
    struct Span {
        int64_t mStart = 0;   // first frame
        int64_t mFrames = 0;  // frames to copy
        std::string mLabel;  // "track \"Title\"", for the log
        bool mIsTrack = true;
    };

    platform::Status exportSpan(const Span& span, int64_t loggedDuration, const std::string& path) const;

    HandOff mHandOff;
    std::string mSourcePath;
};
