#include "platform/SoundRecordStream.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/AudioConstants.h"
#include "platform/SoundServer.h"

namespace platform {

Result<std::unique_ptr<SoundRecordStream>> SoundRecordStream::open(std::shared_ptr<SoundServer> server,
                                                                   const std::string& sourceName,
                                                                   uint32_t fragmentBytes) {
    SoundServerLock lock(server->mainloop());
    pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, kCaptureSampleRate, 2};
    pa_stream* stream = pa_stream_new(server->context(), "Trovario capture", &spec, nullptr);
    if (!stream) return Status::failure(pa_strerror(pa_context_errno(server->context())));
    std::unique_ptr<SoundRecordStream> result(new SoundRecordStream(server, stream));
    pa_stream_set_state_callback(stream, onState, result.get());
    pa_stream_set_read_callback(stream, onData, result.get());
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.fragsize = fragmentBytes;
    auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream, sourceName.c_str(), &attr, flags) < 0 ||
        !server->waitLocked([stream] { return pa_stream_get_state(stream) != PA_STREAM_CREATING; }) ||
        pa_stream_get_state(stream) != PA_STREAM_READY)
        return Status::failure("cannot record from \"" + sourceName +
                               "\": " + pa_strerror(pa_context_errno(server->context())));
    return result;
}

SoundRecordStream::SoundRecordStream(std::shared_ptr<SoundServer> server, pa_stream* stream)
    : mServer(std::move(server)), mStream(stream), mEntries(new Entry[kQueueEntries]) {}

SoundRecordStream::~SoundRecordStream() {
    SoundServerLock lock(mServer->mainloop());
    pa_stream_set_state_callback(mStream, nullptr, nullptr);
    pa_stream_set_read_callback(mStream, nullptr, nullptr);
    if (pa_stream_get_state(mStream) == PA_STREAM_READY) pa_stream_disconnect(mStream);
    pa_stream_unref(mStream);
}

// Main-loop thread. A stream fails with its connection, so a dying server
// reaches the reader this way too.
void SoundRecordStream::onState(pa_stream* stream, void* userdata) {
    auto* self = static_cast<SoundRecordStream*>(userdata);
    pa_threaded_mainloop_signal(self->mServer->mainloop(), 0);
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
        self->mFailed = true;
        self->wakeReader();
    }
}

void SoundRecordStream::onData(pa_stream*, size_t, void* userdata) {
    static_cast<SoundRecordStream*>(userdata)->takeFragments();
}

// Main-loop thread: every waiting fragment goes into the queue and back to
// the server at once. A hole in the stream reads as silence.
void SoundRecordStream::takeFragments() {
    const void* data = nullptr;
    size_t size = 0;
    bool took = false;
    while (pa_stream_peek(mStream, &data, &size) == 0 && size > 0) {
        enqueue(static_cast<const uint8_t*>(data), size);
        pa_stream_drop(mStream);
        took = true;
    }
    if (!took) return;
    mLastArrivalNs.store(std::chrono::steady_clock::now().time_since_epoch().count(), std::memory_order_release);
    mArrivedFrames.store(static_cast<int64_t>(mReceivedBytes / kBytesPerFrame), std::memory_order_release);
    if (mConsumer)
        mConsumer();
    else
        wakeReader();
}

void SoundRecordStream::setConsumer(std::function<void()> consumer) {
    SoundServerLock lock(mServer->mainloop());
    mConsumer = std::move(consumer);
}

void SoundRecordStream::enqueue(const uint8_t* data, size_t size) {
    mReceivedBytes += size;
    while (size > 0) {
        uint32_t tail = mTail.load(std::memory_order_relaxed);
        if (tail - mHead.load(std::memory_order_acquire) == kQueueEntries) {
            mDroppedBytes.fetch_add(size, std::memory_order_relaxed);
            return;
        }
        Entry& entry = mEntries[tail % kQueueEntries];
        entry.size = static_cast<uint32_t>(std::min<size_t>(size, kEntryBytes));
        if (data) {
            memcpy(entry.data, data, entry.size);
            data += entry.size;
        } else {
            memset(entry.data, 0, entry.size);
        }
        size -= entry.size;
        mTail.store(tail + 1, std::memory_order_release);
    }
}

void SoundRecordStream::wakeReader() {
    { std::lock_guard guard(mWaitLock); }
    mWait.notify_one();
}

int32_t SoundRecordStream::waitForData(int timeoutMs) {
    std::unique_lock lock(mWaitLock);
    mWait.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                   [this] { return mInterrupted || dataAvailable() || mFailed; });
    if (mInterrupted) return kInterrupted;
    if (dataAvailable()) return 0;
    return mFailed ? kFailed : kEmpty;
}

// The server's own timing of a new stream can be off by the sink's earlier
// latency (measured: 600 ms for the first second), while the fragments arrive
// within one fragment of real time. So: what has arrived, plus the time since
// it did, but never more than the allowance: a server that has stopped
// sending has stopped capturing too.
int64_t SoundRecordStream::capturePosition() const {
    const int64_t arrived = mArrivedFrames.load(std::memory_order_acquire);
    const int64_t since = std::chrono::steady_clock::now().time_since_epoch().count() -
                          mLastArrivalNs.load(std::memory_order_acquire);
    const int64_t extra = std::clamp<int64_t>(since, 0, kLongestExtrapolationNs) * kCaptureSampleRate / 1000000000;
    return arrived + (arrived > 0 ? extra : 0);
}

int32_t SoundRecordStream::waitForEnd() {
    std::unique_lock lock(mWaitLock);
    mWait.wait(lock, [this] { return mInterrupted || mFailed; });
    return mInterrupted ? kInterrupted : kFailed;
}

bool SoundRecordStream::dataAvailable() const {
    return !mInterrupted.load(std::memory_order_relaxed) &&
           mHead.load(std::memory_order_relaxed) != mTail.load(std::memory_order_acquire);
}

uint32_t SoundRecordStream::peekSize() const {
    if (!dataAvailable()) return 0;
    return mEntries[mHead.load(std::memory_order_relaxed) % kQueueEntries].size - mReadOffset;
}

int32_t SoundRecordStream::dequeue(void* buffer, uint32_t& size) {
    uint32_t pending = peekSize();
    if (pending == 0) {
        size = 0;
        return mFailed ? kFailed : kEmpty;
    }
    uint32_t head = mHead.load(std::memory_order_relaxed);
    const Entry& entry = mEntries[head % kQueueEntries];
    uint32_t count = std::min(pending, size) / kBytesPerFrame * kBytesPerFrame;
    if (count == 0) count = std::min(pending, size);
    memcpy(buffer, entry.data + mReadOffset, count);
    mReadOffset += count;
    if (mReadOffset == entry.size) {
        mReadOffset = 0;
        mHead.store(head + 1, std::memory_order_release);
    }
    size = count;
    return 0;
}

void SoundRecordStream::interrupt() {
    mInterrupted = true;
    wakeReader();
}

}  // namespace platform
