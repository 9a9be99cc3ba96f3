#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct pa_stream;

namespace platform {

class SoundServer;

// A record stream of interleaved 32-bit float stereo at 44100 Hz, read like a
// data queue: wait for data, look at the size of the next entry, dequeue it.
// The server's fragments are the entries; an entry larger than the caller's
// buffer is handed over in pieces, so nothing is lost and nothing overruns.
class SoundRecordStream {
public:
    static constexpr int32_t kInterrupted = -1;
    static constexpr int32_t kFailed = -2;
    static constexpr int32_t kEmpty = -3;
    static constexpr uint32_t kBytesPerFrame = 8;

    // nullptr when the stream cannot be opened within the server's time-out.
    static std::unique_ptr<SoundRecordStream> open(std::shared_ptr<SoundServer> server,
                                                   const std::string& sourceName, uint32_t fragmentBytes,
                                                   std::string* error);
    ~SoundRecordStream();
    SoundRecordStream(const SoundRecordStream&) = delete;
    SoundRecordStream& operator=(const SoundRecordStream&) = delete;

    // Blocks until an entry waits (0), the stream fails (kFailed) or
    // `interrupt` is called (kInterrupted, from then on for good).
    int32_t waitForData();
    bool dataAvailable();
    // Bytes of the next entry, 0 when none waits.
    uint32_t peekSize();
    // Copies at most `size` bytes (whole frames) of the next entry into
    // `buffer`; `size` carries the capacity in and the bytes copied out.
    int32_t dequeue(void* buffer, uint32_t& size);
    // Wakes a waiting reader; callable from any thread.
    void interrupt();

private:
    SoundRecordStream(std::shared_ptr<SoundServer> server, pa_stream* stream);
    bool streamFailed() const;
    uint32_t pendingBytesLocked();

    std::shared_ptr<SoundServer> mServer;
    pa_stream* mStream;
    const uint8_t* mFragment = nullptr;  // null for a hole, which reads as silence
    size_t mFragmentSize = 0;
    size_t mFragmentOffset = 0;
    bool mHoldingFragment = false;
    bool mInterrupted = false;
};

}  // namespace platform
