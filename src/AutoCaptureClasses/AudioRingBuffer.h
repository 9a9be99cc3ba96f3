#pragma once

#include <atomic>
#include <cstdint>

#include "frameworks/CoreAudioTypes.h"

// Result codes of CheckTimeBounds, Fetch and Store for a range [a, b) against
// the frames held, [S, E). Store returns kRingBufferStored or kRingBufferTooMuch.
enum : int32_t {
    kRingBufferWholeRangeEarly = -2,  // b < S
    kRingBufferStartsEarly = -1,      // a < S <= b <= E
    kRingBufferOK = 0,                // S <= a, b <= E
    kRingBufferEndsLate = 1,          // S <= a <= E < b
    kRingBufferWholeRangeLate = 2,    // a > E
    kRingBufferTooMuch = 3,           // a < S and b > E; from Store: more than the capacity
    kRingBufferBoundsBusy = 4,        // no consistent snapshot of the bounds in 8 attempts
    // Store's success, a value of its own, so that it is never taken for the
    // "ends late" of a check.
    kRingBufferStored = 5,
};

// A fixed-capacity ring of audio frames addressed by absolute frame numbers,
// for exactly one writer thread (Store) and one reader thread (Fetch). The
// writer never waits: old frames are overwritten and the reader learns so
// from the result code. Store and Fetch take no lock, allocate nothing and
// make no system call, so they may run on real-time threads.
class AudioRingBuffer {
public:
    // Entries and the index each own a cache line, so that the writer filling
    // the next entry does not disturb the reader reading the newest one.
    struct alignas(64) TimeBoundsEntry {
        std::atomic<int64_t> startFrame{0};
        std::atomic<int64_t> endFrame{0};
        std::atomic<uint32_t> updateCounter{0};
    };
    static constexpr uint32_t kTimeBoundsQueueSize = 32;
    static constexpr int kSnapshotAttempts = 8;

    AudioRingBuffer();
    ~AudioRingBuffer();
    AudioRingBuffer(const AudioRingBuffer&) = delete;
    AudioRingBuffer& operator=(const AudioRingBuffer&) = delete;

    // Owner only, while no thread stores or fetches. The capacity is raised to
    // a power of two; content and bounds are discarded. When the memory cannot
    // be had, the ring stays unallocated (capacity 0).
    void Allocate(int32_t nChannels, uint32_t bytesPerFrame, uint32_t capacityFrames);
    void Deallocate();

    int32_t Store(const AudioBufferList* abl, uint32_t nFrames, int64_t frameNumber);
    int32_t Fetch(AudioBufferList* abl, uint32_t nFrames, int64_t frameNumber);

    void SetTimeBounds(int64_t startFrame, int64_t endFrame);
    int32_t GetTimeBounds(int64_t& startFrame, int64_t& endFrame);
    int32_t CheckTimeBounds(int64_t startRead, int64_t endRead);

    uint8_t** mChannelBuffers;
    int32_t mChannelCount;
    uint32_t mBytesPerFrame;
    uint32_t mCapacityFrames;
    uint32_t mCapacityFrameMask;
    uint32_t mCapacityBytes;
    TimeBoundsEntry mTimeBounds[kTimeBoundsQueueSize];
    alignas(64) std::atomic<uint32_t> mTimeBoundsIndex;

private:
    // The newest bounds once more, in the index's cache line. A snapshot
    // through the queue reads the index and then the entry it names: two
    // lines the writer has just written, one after the other. Fetch decides
    // from these two words instead, one line, and goes to the queue only when
    // they do not hold its range.
    std::atomic<int64_t> mNewestStartFrame;
    std::atomic<int64_t> mNewestEndFrame;
    // The writer's own copy of the index, so that it never reads the shared one.
    alignas(64) uint32_t mWriterIndex;

    int32_t FrameOffset(int64_t frameNumber) const {
        return static_cast<int32_t>((static_cast<uint32_t>(frameNumber) & mCapacityFrameMask) * mBytesPerFrame);
    }
    const TimeBoundsEntry& NewestEntry() const;
    bool NewestBoundsHold(int64_t startRead, int64_t endRead) const;
    int32_t CheckHeld(int64_t startRead, int64_t endRead);
    void ClearTimeBounds();
    void ZeroRange(int32_t offset0, int32_t offset1);
    uint32_t BuffersToCopy(const AudioBufferList* abl) const;
};
