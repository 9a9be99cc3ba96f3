#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tracks/TROVTrack.h"

// Told how far a definition has come, on the thread that runs it.
class ZORTrackAutoDefinerDelegate {
public:
    virtual ~ZORTrackAutoDefinerDelegate() = default;
    // The fraction of the file examined so far, 0.0 to 0.999.
    virtual void updateAutoDefineProgress(float fraction) = 0;
};

// Cuts a recording into tracks in the middle of its silences: reads the file
// once in 1000 blocks, finds the stretches where every sample stays within a
// linear threshold, and returns abutting tracks from frame 0 to the given
// length. One definition at a time; `cancel` may come from any thread and
// takes effect after the block being examined.
class ZORTrackAutoDefiner {
public:
    using Tracks = std::vector<std::shared_ptr<TROVTrack>>;

    ZORTrackAutoDefiner() = default;
    ~ZORTrackAutoDefiner();
    ZORTrackAutoDefiner(const ZORTrackAutoDefiner&) = delete;
    ZORTrackAutoDefiner& operator=(const ZORTrackAutoDefiner&) = delete;

    void setDelegate(std::shared_ptr<ZORTrackAutoDefinerDelegate> delegate) { mDelegate = std::move(delegate); }
    void cancel() { mShouldCancel.store(true, std::memory_order_relaxed); }

    void allocateOutputBufferIfNeededWithSize(uint32_t bytes);
    void freeBuffersIfNeeded();
    uint32_t currentOutputBufferSize() const { return mCurrentOutputBufferSize; }

    // Tracks in time order, or nothing when the file holds no frames.
    // `sensitivity` is a linear sample amplitude, `lengthOfSilence` seconds.
    std::optional<Tracks> autoDefineTracksInFile(const std::string& path, uint32_t lengthInFrames, float sensitivity,
                                                 float lengthOfSilence);

private:
    struct Scan;
    static void scanBlock(Scan& scan, const float* samples, uint32_t frames);
    static void endRun(Scan& scan, uint64_t firstQuiet, uint64_t loudSample);
    static void recordSilence(Scan& scan, uint32_t start, uint32_t stop);
    static Tracks cut(const Tracks& silences, uint32_t length, uint32_t silenceFrames);

    std::shared_ptr<ZORTrackAutoDefinerDelegate> mDelegate;
    std::atomic<bool> mShouldCancel{false};
    uint32_t mCurrentOutputBufferSize = 0;
    float* mOutputBuffer = nullptr;
};
