#include "AutoCaptureClasses/AudioRingBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer does not model fences; the two below only order the frame
// copies against the bounds, and those copies are hidden from it anyway.
#pragma GCC diagnostic ignored "-Wtsan"
extern "C" void AnnotateIgnoreReadsBegin(const char* file, int line);
extern "C" void AnnotateIgnoreReadsEnd(const char* file, int line);
#endif

namespace {

constexpr size_t kBufferAlignment = 64;

// When the writer laps the reader, the reader's copy races with the writer's
// store, knowingly: Fetch's re-check afterwards rejects such a copy. Hide only
// these reads from ThreadSanitizer, so that it still sees every other access.
struct [[maybe_unused]] RacyReadScope {
#if defined(__SANITIZE_THREAD__)
    RacyReadScope() { AnnotateIgnoreReadsBegin(__FILE__, __LINE__); }
    ~RacyReadScope() { AnnotateIgnoreReadsEnd(__FILE__, __LINE__); }
#endif
};

AudioBuffer& BufferAt(AudioBufferList* abl, uint32_t i) { return *(abl->mBuffers + i); }
const AudioBuffer& BufferAt(const AudioBufferList* abl, uint32_t i) { return *(abl->mBuffers + i); }

}  // namespace

AudioRingBuffer::AudioRingBuffer()
    : mChannelBuffers(nullptr),
      mChannelCount(0),
      mBytesPerFrame(0),
      mCapacityFrames(0),
      mCapacityFrameMask(0),
      mCapacityBytes(0),
      mTimeBoundsIndex(0),
      mNewestStartFrame(0),
      mNewestEndFrame(0),
      mWriterIndex(0) {}

AudioRingBuffer::~AudioRingBuffer() { Deallocate(); }

void AudioRingBuffer::Allocate(int32_t nChannels, uint32_t bytesPerFrame, uint32_t capacityFrames) {
    Deallocate();
    uint32_t capacity = 1;
    while (capacity < capacityFrames) capacity *= 2;
    ClearTimeBounds();
    nChannels = std::max(nChannels, 0);
    size_t tableBytes = (sizeof(uint8_t*) * static_cast<size_t>(nChannels) + kBufferAlignment - 1) /
                        kBufferAlignment * kBufferAlignment;
    uint64_t channelBytes = static_cast<uint64_t>(bytesPerFrame) * capacity;
    // Byte offsets are compared as signed 32-bit values.
    if (channelBytes >= (uint64_t{1} << 31)) return;
    void* block = ::operator new(tableBytes + channelBytes * static_cast<size_t>(nChannels),
                                 std::align_val_t(kBufferAlignment), std::nothrow);
    if (!block) return;
    mChannelCount = nChannels;
    mBytesPerFrame = bytesPerFrame;
    mCapacityFrames = capacity;
    mCapacityFrameMask = capacity - 1;
    mCapacityBytes = static_cast<uint32_t>(channelBytes);
    mChannelBuffers = static_cast<uint8_t**>(block);
    uint8_t* data = static_cast<uint8_t*>(block) + tableBytes;
    for (int32_t i = 0; i < nChannels; ++i) mChannelBuffers[i] = data + static_cast<size_t>(i) * mCapacityBytes;
}

void AudioRingBuffer::Deallocate() {
    if (mChannelBuffers) ::operator delete(mChannelBuffers, std::align_val_t(kBufferAlignment));
    mChannelBuffers = nullptr;
    mChannelCount = 0;
    mCapacityBytes = 0;
    mCapacityFrames = 0;
}

void AudioRingBuffer::ClearTimeBounds() {
    for (TimeBoundsEntry& entry : mTimeBounds) {
        entry.startFrame.store(0, std::memory_order_relaxed);
        entry.endFrame.store(0, std::memory_order_relaxed);
        entry.updateCounter.store(0, std::memory_order_relaxed);
    }
    mNewestStartFrame.store(0, std::memory_order_relaxed);
    mNewestEndFrame.store(0, std::memory_order_relaxed);
    mTimeBoundsIndex.store(0, std::memory_order_release);
    mWriterIndex = 0;
}

const AudioRingBuffer::TimeBoundsEntry& AudioRingBuffer::NewestEntry() const {
    return mTimeBounds[mWriterIndex & (kTimeBoundsQueueSize - 1)];
}

// The entry's counter is stamped before its bounds, which are stored with
// release: a reader whose acquire load sees any of the new bounds also sees
// the new counter and rejects the entry it was reading.
void AudioRingBuffer::SetTimeBounds(int64_t startFrame, int64_t endFrame) {
    uint32_t next = mWriterIndex + 1;
    TimeBoundsEntry& entry = mTimeBounds[next & (kTimeBoundsQueueSize - 1)];
    entry.updateCounter.store(next, std::memory_order_relaxed);
    entry.startFrame.store(startFrame, std::memory_order_release);
    entry.endFrame.store(endFrame, std::memory_order_release);
    mNewestEndFrame.store(endFrame, std::memory_order_release);
    mNewestStartFrame.store(startFrame, std::memory_order_release);
    // The writer is the only one to change the index, so a release store
    // publishes as a compare-and-swap would, without a locked instruction.
    mTimeBoundsIndex.store(next, std::memory_order_release);
    mWriterIndex = next;
}

int32_t AudioRingBuffer::GetTimeBounds(int64_t& startFrame, int64_t& endFrame) {
    for (int attempt = 0; attempt < kSnapshotAttempts; ++attempt) {
        uint32_t index = mTimeBoundsIndex.load(std::memory_order_acquire);
        const TimeBoundsEntry& entry = mTimeBounds[index & (kTimeBoundsQueueSize - 1)];
        startFrame = entry.startFrame.load(std::memory_order_acquire);
        endFrame = entry.endFrame.load(std::memory_order_acquire);
        if (entry.updateCounter.load(std::memory_order_relaxed) == index) return kRingBufferOK;
    }
    return kRingBufferBoundsBusy;
}

// The start is read first and the end after it, both with acquire; the
// writer stores them the other way round. The end is thus at least as new as
// the start: a start moved back by a store back in time never meets the end
// from before it, which would hold the old frames still lying under the new
// numbers. The end's acquire makes the frames below it visible. A start that
// moved past startRead is seen here once the writer has begun to overwrite the
// range, since Store publishes the new start before it overwrites.
bool AudioRingBuffer::NewestBoundsHold(int64_t startRead, int64_t endRead) const {
    return mNewestStartFrame.load(std::memory_order_acquire) <= startRead &&
           mNewestEndFrame.load(std::memory_order_acquire) >= endRead;
}

// The queue is read only for a range the newest bounds do not hold, for the
// exact result code.
int32_t AudioRingBuffer::CheckHeld(int64_t startRead, int64_t endRead) {
    return NewestBoundsHold(startRead, endRead) ? kRingBufferOK : CheckTimeBounds(startRead, endRead);
}

int32_t AudioRingBuffer::CheckTimeBounds(int64_t startRead, int64_t endRead) {
    int64_t startFrame = 0;
    int64_t endFrame = 0;
    if (GetTimeBounds(startFrame, endFrame) != kRingBufferOK) return kRingBufferBoundsBusy;
    if (startRead >= startFrame) {
        if (endRead <= endFrame) return kRingBufferOK;
        return startRead <= endFrame ? kRingBufferEndsLate : kRingBufferWholeRangeLate;
    }
    if (endRead > endFrame) return kRingBufferTooMuch;
    return endRead >= startFrame ? kRingBufferStartsEarly : kRingBufferWholeRangeEarly;
}

// A list may name fewer buffers than the ring has channels; never more than that
// are touched.
uint32_t AudioRingBuffer::BuffersToCopy(const AudioBufferList* abl) const {
    return std::min(abl->mNumberBuffers, static_cast<uint32_t>(mChannelCount));
}

void AudioRingBuffer::ZeroRange(int32_t offset0, int32_t offset1) {
    for (int32_t i = 0; i < mChannelCount; ++i) {
        uint8_t* buffer = mChannelBuffers[i];
        if (offset0 < offset1) {
            memset(buffer + offset0, 0, static_cast<size_t>(offset1 - offset0));
        } else {
            memset(buffer + offset0, 0, mCapacityBytes - static_cast<uint32_t>(offset0));
            memset(buffer, 0, static_cast<size_t>(offset1));
        }
    }
}

int32_t AudioRingBuffer::Store(const AudioBufferList* abl, uint32_t nFrames, int64_t frameNumber) {
    if (nFrames > mCapacityFrames) return kRingBufferTooMuch;
    int64_t endWrite = frameNumber + nFrames;
    int64_t startFrame = NewestEntry().startFrame.load(std::memory_order_relaxed);
    int64_t endFrame = NewestEntry().endFrame.load(std::memory_order_relaxed);
    if (frameNumber < endFrame) {
        SetTimeBounds(frameNumber, frameNumber);
    } else if (endWrite - startFrame > static_cast<int64_t>(mCapacityFrames)) {
        int64_t newStart = endWrite - mCapacityFrames;
        SetTimeBounds(newStart, std::max(newStart, endFrame));
    }
    // The moved bounds must be visible before any frame they no longer cover
    // is overwritten, or a lapped reader could accept torn data.
    std::atomic_thread_fence(std::memory_order_release);
    startFrame = NewestEntry().startFrame.load(std::memory_order_relaxed);
    endFrame = NewestEntry().endFrame.load(std::memory_order_relaxed);
    if (frameNumber > endFrame) ZeroRange(FrameOffset(endFrame), FrameOffset(frameNumber));

    if (nFrames > 0) {
        int32_t offset0 = FrameOffset(frameNumber);
        int32_t offset1 = FrameOffset(endWrite);
        for (uint32_t i = 0; i < BuffersToCopy(abl); ++i) {
            const uint8_t* source = static_cast<const uint8_t*>(BufferAt(abl, i).mData);
            uint8_t* destination = mChannelBuffers[i];
            if (offset0 < offset1) {
                memcpy(destination + offset0, source, static_cast<size_t>(offset1 - offset0));
            } else {
                uint32_t firstPart = mCapacityBytes - static_cast<uint32_t>(offset0);
                memcpy(destination + offset0, source, firstPart);
                memcpy(destination, source + firstPart, static_cast<size_t>(offset1));
            }
        }
    }
    SetTimeBounds(startFrame, endWrite);
    return kRingBufferStored;
}

int32_t AudioRingBuffer::Fetch(AudioBufferList* abl, uint32_t nFrames, int64_t frameNumber) {
    int64_t endRead = frameNumber + nFrames;
    int32_t result = CheckHeld(frameNumber, endRead);
    if (result != kRingBufferOK) return result;
    if (nFrames > 0) {
        [[maybe_unused]] RacyReadScope racy;
        int32_t offset0 = FrameOffset(frameNumber);
        int32_t offset1 = FrameOffset(endRead);
        for (uint32_t i = 0; i < BuffersToCopy(abl); ++i) {
            const uint8_t* source = mChannelBuffers[i];
            uint8_t* destination = static_cast<uint8_t*>(BufferAt(abl, i).mData);
            if (offset0 < offset1) {
                memcpy(destination, source + offset0, static_cast<size_t>(offset1 - offset0));
            } else {
                uint32_t firstPart = mCapacityBytes - static_cast<uint32_t>(offset0);
                memcpy(destination, source + offset0, firstPart);
                memcpy(destination + firstPart, source, static_cast<size_t>(offset1));
            }
        }
    }
    // The copy must be complete before the bounds are looked at again.
    std::atomic_thread_fence(std::memory_order_acquire);
    return CheckHeld(frameNumber, endRead);
}
