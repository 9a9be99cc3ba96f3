#pragma once

// A chirp played into one sink, every sample of it kept, so that a recording
// can be placed within it to the frame: the frequency sweeps from 300 Hz up to
// 1800 Hz and back down in 17.3 s, so no stretch of it repeats.

#include <pulse/pulseaudio.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <thread>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/SoundServer.h"

namespace capture_test {

class ChirpPlayer {
public:
    static constexpr double kRate = 44100;

    explicit ChirpPlayer(const std::string& sink) {
        auto server = platform::SoundServer::connect("chirp player", 2000);
        if (!server) return;
        mServer = *server;
        platform::SoundServerLock lock(mServer->mainloop());
        pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, static_cast<uint32_t>(kRate), 2};
        pa_stream* stream = pa_stream_new(mServer->context(), "chirp", &spec, nullptr);
        pa_stream_set_state_callback(
            stream, [](pa_stream*, void* loop) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0); },
            mServer->mainloop());
        pa_stream_set_write_callback(stream, onWrite, this);
        pa_stream_set_underflow_callback(stream, [](pa_stream*, void* self) { ++static_cast<ChirpPlayer*>(self)->mUnderflows; },
                                         this);
        // Two seconds buffered: a loaded machine must starve it that long
        // before the sink plays silence.
        pa_buffer_attr attr{static_cast<uint32_t>(-1), static_cast<uint32_t>(kRate * 2) * 8, static_cast<uint32_t>(-1),
                            static_cast<uint32_t>(-1), static_cast<uint32_t>(-1)};
        auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                                    PA_STREAM_AUTO_TIMING_UPDATE);
        // No sink name: the default output, followed when the default changes.
        pa_stream_connect_playback(stream, sink.empty() ? nullptr : sink.c_str(), &attr, flags, nullptr, nullptr);
        if (mServer->waitLocked([stream] { return pa_stream_get_state(stream) != PA_STREAM_CREATING; }) &&
            pa_stream_get_state(stream) == PA_STREAM_READY)
            mStream = stream;
        else
            pa_stream_unref(stream);
    }
    ~ChirpPlayer() {
        if (!mStream) return;
        platform::SoundServerLock lock(mServer->mainloop());
        pa_stream_disconnect(mStream);
        pa_stream_unref(mStream);
    }

    bool started() const { return mStream != nullptr; }
    // Times the sink ran out of chirp and played silence instead: the
    // recording then rightly holds a gap, and the timing is off by it.
    int underflows() const { return mUnderflows; }
    // The player's frame that the sink played at `when`, a moment past. The
    // server's timing of a new stream is off at first (by the sink's earlier
    // latency) and settles within seconds; the sink plays at the wall clock's
    // pace, so a settled reading is taken back to `when`.
    int64_t frameAt(std::chrono::steady_clock::time_point when) const {
        std::this_thread::sleep_until(std::max(mStarted + std::chrono::seconds(5),
                                               std::chrono::steady_clock::now() + std::chrono::milliseconds(200)));
        platform::SoundServerLock lock(mServer->mainloop());
        pa_usec_t time = 0;
        pa_stream_get_time(mStream, &time);
        const auto now = std::chrono::steady_clock::now();
        return static_cast<int64_t>((static_cast<double>(time) / 1e6 - std::chrono::duration<double>(now - when).count()) * kRate);
    }
    struct Positions {
        int64_t mPlayed, mRendered;
    };
    // The frames the sink plays and renders (hands to its monitor) now, the
    // rendered one ahead by the sink's latency; to be read once the timing
    // has settled (see frameAt).
    Positions positionsNow() const {
        platform::SoundServerLock lock(mServer->mainloop());
        pa_usec_t time = 0;
        pa_stream_get_time(mStream, &time);
        const pa_timing_info* timing = pa_stream_get_timing_info(mStream);
        const double age = timing ? static_cast<double>(pa_timeval_age(&timing->timestamp)) / 1e6 : 0;
        return {static_cast<int64_t>(static_cast<double>(time) / 1e6 * kRate),
                timing ? static_cast<int64_t>(static_cast<double>(timing->read_index) / 8 + age * kRate) : -1};
    }
    // Channel 0 of every frame handed to the server so far.
    std::vector<float> played() const {
        std::lock_guard guard(mLock);
        return mPlayed;
    }

private:
    static void onWrite(pa_stream* stream, size_t bytes, void* userdata) {
        auto* self = static_cast<ChirpPlayer*>(userdata);
        std::vector<float> frames(bytes / sizeof(float));
        std::lock_guard guard(self->mLock);
        for (size_t i = 0; i + 1 < frames.size(); i += 2) {
            double seconds = static_cast<double>(self->mPlayed.size()) / kRate;
            double sweep = std::fmod(seconds * 173.0, 3000.0);
            self->mPhase = std::fmod(self->mPhase + 2 * M_PI * (300 + std::min(sweep, 3000 - sweep)) / kRate, 2 * M_PI);
            frames[i] = frames[i + 1] = 0.5f * static_cast<float>(std::sin(self->mPhase));
            self->mPlayed.push_back(frames[i]);
        }
        pa_stream_write(stream, frames.data(), frames.size() * sizeof(float), nullptr, 0, PA_SEEK_RELATIVE);
    }

    std::shared_ptr<platform::SoundServer> mServer;
    const std::chrono::steady_clock::time_point mStarted = std::chrono::steady_clock::now();
    pa_stream* mStream = nullptr;
    mutable std::mutex mLock;
    std::atomic<int> mUnderflows{0};
    std::vector<float> mPlayed;
    double mPhase = 0;
};

// Whether frame `frame` of `stereo` is frame `at` of the chirp.
inline bool sameFrame(const std::vector<float>& played, size_t at, const std::vector<float>& stereo, size_t frame) {
    return at < played.size() && 2 * frame + 1 < stereo.size() && std::fabs(played[at] - stereo[2 * frame]) < 2e-4f;
}

// The chirp's frame where `stereo` from `fromFrame` on begins, or -1 when its
// first frames are found nowhere in what was played.
inline int64_t locateInChirp(const std::vector<float>& played, const std::vector<float>& stereo, size_t fromFrame = 0) {
    constexpr size_t kProbe = 256;
    for (size_t at = 0; at + kProbe <= played.size(); ++at) {
        size_t i = 0;
        while (i < kProbe && sameFrame(played, at + i, stereo, fromFrame + i)) ++i;
        if (i == kProbe) return static_cast<int64_t>(at);
    }
    return -1;
}

// How many frames of `stereo` from `fromFrame` on are the chirp from `at` on:
// all of them, unless there is a gap, silence or a repeat.
inline size_t matchingFrames(const std::vector<float>& played, const std::vector<float>& stereo, int64_t at,
                             size_t fromFrame = 0) {
    size_t i = 0;
    while (sameFrame(played, static_cast<size_t>(at) + i, stereo, fromFrame + i)) ++i;
    return i;
}

}  // namespace capture_test
