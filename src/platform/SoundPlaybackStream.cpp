#include "platform/SoundPlaybackStream.h"

#include <pulse/pulseaudio.h>

#include <algorithm>

#include "platform/AudioConstants.h"
#include "platform/SoundServer.h"

namespace platform {
namespace {

constexpr uint32_t kChannels = 2;
constexpr uint32_t kBytesPerFrame = kChannels * sizeof(float);
constexpr uint32_t kBufferedQuanta = 12;
constexpr uint32_t kRequestedQuanta = 8;

void onStreamEvent(pa_stream*, void* userdata) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(userdata), 0);
}

}  // namespace

Result<std::unique_ptr<SoundPlaybackStream>> SoundPlaybackStream::open(std::shared_ptr<SoundServer> server,
                                                                       const std::string& sinkName,
                                                                       uint32_t quantumFrames, bool running,
                                                                       Render render) {
    SoundServerLock lock(server->mainloop());
    pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, kCaptureSampleRate, kChannels};
    pa_stream* stream = pa_stream_new(server->context(), "Trovario play-through", &spec, nullptr);
    if (!stream) return Status::failure(pa_strerror(pa_context_errno(server->context())));
    std::unique_ptr<SoundPlaybackStream> result(
        new SoundPlaybackStream(server, stream, quantumFrames, std::move(render)));
    pa_stream_set_state_callback(stream, onStreamEvent, server->mainloop());
    pa_stream_set_write_callback(stream, onWrite, result.get());
    // Twelve quanta buffered (139 ms for 512-frame quanta), asked for eight at
    // a time: each request costs the connection two wake-ups (the request and
    // the release of the written block), so fewer, larger requests keep the
    // capture cheap, while the four quanta left when a request comes (46 ms)
    // keep the output from running dry.
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = kBufferedQuanta * quantumFrames * kBytesPerFrame;
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = kRequestedQuanta * quantumFrames * kBytesPerFrame;
    auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY |
                                                (sinkName.empty() ? 0 : PA_STREAM_DONT_MOVE) |
                                                (running ? 0 : PA_STREAM_START_CORKED));
    const char* device = sinkName.empty() ? nullptr : sinkName.c_str();
    if (pa_stream_connect_playback(stream, device, &attr, flags, nullptr, nullptr) < 0 ||
        !server->waitLocked([stream] { return pa_stream_get_state(stream) != PA_STREAM_CREATING; }) ||
        pa_stream_get_state(stream) != PA_STREAM_READY)
        return Status::failure("cannot play to \"" + sinkName + "\": " + pa_strerror(pa_context_errno(server->context())));
    return result;
}

SoundPlaybackStream::SoundPlaybackStream(std::shared_ptr<SoundServer> server, pa_stream* stream,
                                         uint32_t quantumFrames, Render render)
    : mServer(std::move(server)),
      mStream(stream),
      mQuantumFrames(std::max<uint32_t>(quantumFrames, 1)),
      mRender(std::move(render)),
      mBuffer(static_cast<size_t>(kBufferedQuanta) * mQuantumFrames * kChannels) {}

SoundPlaybackStream::~SoundPlaybackStream() {
    SoundServerLock lock(mServer->mainloop());
    pa_stream_set_state_callback(mStream, nullptr, nullptr);
    pa_stream_set_write_callback(mStream, nullptr, nullptr);
    if (pa_stream_get_state(mStream) == PA_STREAM_READY) pa_stream_disconnect(mStream);
    pa_stream_unref(mStream);
}

void SoundPlaybackStream::onWrite(pa_stream*, size_t bytes, void* userdata) {
    static_cast<SoundPlaybackStream*>(userdata)->writeQuanta(bytes);
}

// A request normally goes out in one write (each write costs the main loop a
// wake-up); only one larger than the buffer needs several.
void SoundPlaybackStream::writeQuanta(size_t bytes) {
    while (bytes >= kBytesPerFrame) {
        size_t size = std::min(bytes - bytes % kBytesPerFrame, mBuffer.size() * sizeof(float));
        for (size_t done = 0; done < size;) {
            uint32_t frames = static_cast<uint32_t>(std::min<size_t>((size - done) / kBytesPerFrame, mQuantumFrames));
            float* quantum = mBuffer.data() + done / sizeof(float);
            if (!mRender(quantum, frames)) std::fill_n(quantum, frames * kChannels, 0.0f);
            done += static_cast<size_t>(frames) * kBytesPerFrame;
        }
        if (pa_stream_write(mStream, mBuffer.data(), size, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
        bytes -= size;
    }
}

bool SoundPlaybackStream::isRunning() {
    SoundServerLock lock(mServer->mainloop());
    return pa_stream_get_state(mStream) == PA_STREAM_READY && pa_stream_is_corked(mStream) == 0;
}

bool SoundPlaybackStream::setRunning(bool running) {
    SoundServerLock lock(mServer->mainloop());
    if (pa_stream_get_state(mStream) != PA_STREAM_READY) return false;
    pa_operation* op = pa_stream_cork(mStream, running ? 0 : 1, nullptr, nullptr);
    if (!op) return false;
    pa_operation_unref(op);
    return true;
}

}  // namespace platform
