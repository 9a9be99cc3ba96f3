#include "platform/SoundRecordStream.h"

#include <pulse/pulseaudio.h>

#include <cstring>

#include "platform/SoundServer.h"

namespace platform {
namespace {

pa_sample_spec captureSpec() { return pa_sample_spec{PA_SAMPLE_FLOAT32NE, 44100, 2}; }

void onStreamEvent(pa_stream*, void* userdata) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(userdata), 0);
}

void onStreamData(pa_stream*, size_t, void* userdata) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(userdata), 0);
}

}  // namespace

std::unique_ptr<SoundRecordStream> SoundRecordStream::open(std::shared_ptr<SoundServer> server,
                                                           const std::string& sourceName,
                                                           uint32_t fragmentBytes, std::string* error) {
    SoundServerLock lock(server->mainloop());
    pa_sample_spec spec = captureSpec();
    pa_stream* stream = pa_stream_new(server->context(), "Trovario capture", &spec, nullptr);
    if (!stream) {
        if (error) *error = pa_strerror(pa_context_errno(server->context()));
        return nullptr;
    }
    pa_stream_set_state_callback(stream, onStreamEvent, server->mainloop());
    pa_stream_set_read_callback(stream, onStreamData, server->mainloop());
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.fragsize = fragmentBytes;
    auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    std::unique_ptr<SoundRecordStream> result(new SoundRecordStream(server, stream));
    if (pa_stream_connect_record(stream, sourceName.c_str(), &attr, flags) < 0 ||
        !server->waitLocked([stream] { return pa_stream_get_state(stream) != PA_STREAM_CREATING; }) ||
        pa_stream_get_state(stream) != PA_STREAM_READY) {
        if (error) {
            *error = "cannot record from \"" + sourceName +
                     "\": " + pa_strerror(pa_context_errno(server->context()));
        }
        return nullptr;
    }
    return result;
}

SoundRecordStream::SoundRecordStream(std::shared_ptr<SoundServer> server, pa_stream* stream)
    : mServer(std::move(server)), mStream(stream) {}

SoundRecordStream::~SoundRecordStream() {
    SoundServerLock lock(mServer->mainloop());
    pa_stream_set_state_callback(mStream, nullptr, nullptr);
    pa_stream_set_read_callback(mStream, nullptr, nullptr);
    if (pa_stream_get_state(mStream) == PA_STREAM_READY) pa_stream_disconnect(mStream);
    pa_stream_unref(mStream);
}

bool SoundRecordStream::streamFailed() const {
    pa_stream_state_t state = pa_stream_get_state(mStream);
    return !PA_STREAM_IS_GOOD(state) || !mServer->isConnected();
}

// Bytes left of the fragment in hand, fetching the next fragment when the
// last one is used up. Caller holds the main-loop lock.
uint32_t SoundRecordStream::pendingBytesLocked() {
    if (mHoldingFragment && mFragmentOffset < mFragmentSize)
        return static_cast<uint32_t>(mFragmentSize - mFragmentOffset);
    if (streamFailed()) return 0;
    if (mHoldingFragment) {
        pa_stream_drop(mStream);
        mHoldingFragment = false;
    }
    const void* data = nullptr;
    size_t size = 0;
    if (pa_stream_peek(mStream, &data, &size) < 0 || size == 0) return 0;
    mHoldingFragment = true;
    mFragment = static_cast<const uint8_t*>(data);
    mFragmentSize = size;
    mFragmentOffset = 0;
    return static_cast<uint32_t>(size);
}

int32_t SoundRecordStream::waitForData() {
    SoundServerLock lock(mServer->mainloop());
    for (;;) {
        if (mInterrupted) return kInterrupted;
        if (pendingBytesLocked() > 0) return 0;
        if (streamFailed()) return kFailed;
        pa_threaded_mainloop_wait(mServer->mainloop());
    }
}

bool SoundRecordStream::dataAvailable() { return peekSize() > 0; }

uint32_t SoundRecordStream::peekSize() {
    SoundServerLock lock(mServer->mainloop());
    return mInterrupted ? 0 : pendingBytesLocked();
}

int32_t SoundRecordStream::dequeue(void* buffer, uint32_t& size) {
    SoundServerLock lock(mServer->mainloop());
    uint32_t pending = mInterrupted ? 0 : pendingBytesLocked();
    if (pending == 0) {
        size = 0;
        return streamFailed() ? kFailed : kEmpty;
    }
    uint32_t count = std::min(pending, size) / kBytesPerFrame * kBytesPerFrame;
    if (count == 0) count = std::min(pending, size);
    if (mFragment)
        memcpy(buffer, mFragment + mFragmentOffset, count);
    else
        memset(buffer, 0, count);
    mFragmentOffset += count;
    size = count;
    return 0;
}

void SoundRecordStream::interrupt() {
    SoundServerLock lock(mServer->mainloop());
    mInterrupted = true;
    pa_threaded_mainloop_signal(mServer->mainloop(), 0);
}

}  // namespace platform
