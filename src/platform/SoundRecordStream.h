#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Result.h"

struct pa_stream;

namespace platform {

class SoundServer;

// A record stream of interleaved 32-bit float stereo at 44100 Hz, read like a
// data queue: wait for data, look at the size of the next entry, dequeue it.
//
// The connection's main-loop thread moves each fragment the server sends into
// a queue of entries of its own at once; the reader takes them from there
// without ever touching the connection, so a capture costs the main loop one
// wake-up per fragment and the reader no lock of the sound server. One reader
// thread only. A fragment larger than an entry slot fills several entries, and
// an entry larger than the reader's buffer is handed over in pieces: nothing
// overruns and, while the reader keeps up, nothing is lost.
class SoundRecordStream {
public:
    static constexpr int32_t kInterrupted = -1;
    static constexpr int32_t kFailed = -2;
    static constexpr int32_t kEmpty = -3;
    static constexpr uint32_t kBytesPerFrame = 8;
    static constexpr uint32_t kEntryBytes = 16384;
    // About six seconds of audio may wait for a reader that is held up.
    static constexpr uint32_t kQueueEntries = 128;

    // Fails when the stream cannot be opened within the server's time-out.
    static Result<std::unique_ptr<SoundRecordStream>> open(std::shared_ptr<SoundServer> server,
                                                           const std::string& sourceName, uint32_t fragmentBytes);
    ~SoundRecordStream();
    SoundRecordStream(const SoundRecordStream&) = delete;
    SoundRecordStream& operator=(const SoundRecordStream&) = delete;

    // Blocks until an entry waits (0), the stream fails (kFailed), `interrupt`
    // is called (kInterrupted, from then on for good) or `timeoutMs` passes
    // (kEmpty).
    int32_t waitForData(int timeoutMs);
    // Hands the reading to the connection's main-loop thread: from now on it
    // calls `consumer` right after queuing fragments, and wakes no reader. A
    // fragment then costs one thread wake-up instead of two. The consumer is
    // the one reader and must not wait for the server.
    void setConsumer(std::function<void()> consumer);
    // Blocks until the stream fails (kFailed) or `interrupt` is called
    // (kInterrupted).
    int32_t waitForEnd();
    bool dataAvailable() const;
    // Bytes of the next entry, 0 when none waits.
    uint32_t peekSize() const;
    // Copies at most `size` bytes (whole frames) of the next entry into
    // `buffer`; `size` carries the capacity in and the bytes copied out.
    int32_t dequeue(void* buffer, uint32_t& size);
    // Wakes a waiting reader; callable from any thread.
    void interrupt();
    // Bytes the server sent while the queue was full.
    uint64_t droppedBytes() const { return mDroppedBytes.load(std::memory_order_relaxed); }
    // The frame of this stream (counted from 0 at its first frame) that the
    // source captures at this moment, within a fragment; callable from any
    // thread, and never waits for the server.
    int64_t capturePosition() const;
    static constexpr int64_t kLongestExtrapolationNs = 50'000'000;

private:
    struct Entry {
        uint32_t size;
        alignas(16) uint8_t data[kEntryBytes];
    };

    SoundRecordStream(std::shared_ptr<SoundServer> server, pa_stream* stream);
    static void onState(pa_stream* stream, void* userdata);
    static void onData(pa_stream* stream, size_t bytes, void* userdata);
    void takeFragments();
    void enqueue(const uint8_t* data, size_t size);
    void wakeReader();

    std::shared_ptr<SoundServer> mServer;
    pa_stream* mStream;
    std::unique_ptr<Entry[]> mEntries;
    std::atomic<uint32_t> mHead{0};  // next entry to read; the reader's
    std::atomic<uint32_t> mTail{0};  // next entry to fill; the main loop's
    uint32_t mReadOffset = 0;        // into the entry at mHead
    std::atomic<uint64_t> mDroppedBytes{0};
    uint64_t mReceivedBytes = 0;  // the main loop's, holes and dropped bytes included
    std::atomic<int64_t> mArrivedFrames{0};
    std::atomic<int64_t> mLastArrivalNs{0};
    std::atomic<bool> mInterrupted{false};
    std::atomic<bool> mFailed{false};
    std::mutex mWaitLock;
    std::condition_variable mWait;
    std::function<void()> mConsumer;  // the main loop's, under its lock
};

}  // namespace platform
