#pragma once

// A chirp played into one sink, every sample of it kept, so that a recording
// can be placed within it to the frame: the frequency sweeps from 300 Hz up to
// 1800 Hz and back down in 17.3 s, so no stretch of it repeats.

#include <pulse/pulseaudio.h>

#include <cmath>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace capture_test {

class ChirpPlayer {
public:
    static constexpr double kRate = 44100;

    explicit ChirpPlayer(const std::string& sink)
        : mLoop(pa_threaded_mainloop_new()),
          mContext(pa_context_new(pa_threaded_mainloop_get_api(mLoop), "chirp player")) {
        pa_context_set_state_callback(mContext, signal, mLoop);
        pa_threaded_mainloop_lock(mLoop);
        pa_context_connect(mContext, nullptr, PA_CONTEXT_NOFLAGS, nullptr);
        pa_threaded_mainloop_start(mLoop);
        while (PA_CONTEXT_IS_GOOD(pa_context_get_state(mContext)) &&
               pa_context_get_state(mContext) != PA_CONTEXT_READY)
            pa_threaded_mainloop_wait(mLoop);
        if (pa_context_get_state(mContext) == PA_CONTEXT_READY) connect(sink);
        pa_threaded_mainloop_unlock(mLoop);
    }
    ~ChirpPlayer() {
        pa_threaded_mainloop_stop(mLoop);
        if (mStream) pa_stream_unref(mStream);
        pa_context_disconnect(mContext);
        pa_context_unref(mContext);
        pa_threaded_mainloop_free(mLoop);
    }
    ChirpPlayer(const ChirpPlayer&) = delete;
    ChirpPlayer& operator=(const ChirpPlayer&) = delete;

    bool started() const { return mStream != nullptr; }
    // The player's frame that the sink plays at this moment.
    int64_t playingFrame() const {
        pa_threaded_mainloop_lock(mLoop);
        pa_usec_t time = 0;
        pa_stream_get_time(mStream, &time);
        pa_threaded_mainloop_unlock(mLoop);
        return static_cast<int64_t>(static_cast<double>(time) * kRate / 1e6);
    }
    // Channel 0 of every frame handed to the server so far.
    std::vector<float> played() const {
        std::lock_guard guard(mLock);
        return mPlayed;
    }

private:
    static void signal(pa_context*, void* loop) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0); }
    static void streamSignal(pa_stream*, void* loop) { signal(nullptr, loop); }

    // Half a second buffered: even a sanitizer build never lets it run dry.
    void connect(const std::string& sink) {
        pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, static_cast<uint32_t>(kRate), 2};
        pa_stream* stream = pa_stream_new(mContext, "chirp", &spec, nullptr);
        pa_stream_set_state_callback(stream, streamSignal, mLoop);
        pa_stream_set_write_callback(stream, onWrite, this);
        pa_buffer_attr attr{static_cast<uint32_t>(-1), static_cast<uint32_t>(kRate / 2) * 8, static_cast<uint32_t>(-1),
                            static_cast<uint32_t>(-1), static_cast<uint32_t>(-1)};
        auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                                    PA_STREAM_AUTO_TIMING_UPDATE);
        pa_stream_connect_playback(stream, sink.c_str(), &attr, flags, nullptr, nullptr);
        while (pa_stream_get_state(stream) == PA_STREAM_CREATING) pa_threaded_mainloop_wait(mLoop);
        if (pa_stream_get_state(stream) == PA_STREAM_READY)
            mStream = stream;
        else
            pa_stream_unref(stream);
    }
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

    pa_threaded_mainloop* mLoop;
    pa_context* mContext;
    pa_stream* mStream = nullptr;
    mutable std::mutex mLock;
    std::vector<float> mPlayed;
    double mPhase = 0;
};

// The player's frame where `stereo` (a recording of it) begins, or -1 when
// its first frames are found nowhere in what was played.
inline int64_t locateInChirp(const std::vector<float>& played, const std::vector<float>& stereo) {
    constexpr size_t kProbe = 256;
    if (stereo.size() < 2 * kProbe) return -1;
    for (size_t at = 0; at + kProbe <= played.size(); ++at) {
        size_t i = 0;
        while (i < kProbe && std::fabs(played[at + i] - stereo[2 * i]) < 2e-4f) ++i;
        if (i == kProbe) return static_cast<int64_t>(at);
    }
    return -1;
}

// Frames of `stereo` that differ from the chirp from `first` on: a gap,
// silence or a repeat inside the recording.
inline size_t chirpMismatches(const std::vector<float>& played, const std::vector<float>& stereo, int64_t first) {
    size_t wrong = 0;
    for (size_t i = 0; 2 * i < stereo.size(); ++i) {
        size_t at = static_cast<size_t>(first) + i;
        if (at >= played.size() || std::fabs(played[at] - stereo[2 * i]) >= 2e-4f) ++wrong;
    }
    return wrong;
}

}  // namespace capture_test
