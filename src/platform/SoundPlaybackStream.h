#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Result.h"

struct pa_stream;

namespace platform {

class SoundServer;

// A playback stream of interleaved 32-bit float stereo at 44100 Hz on one
// sink, pulled in quanta: whenever the server wants data, `render` is asked
// for one quantum after another. A quantum `render` cannot fill is played as
// silence. `render` runs on the connection's main-loop thread.
class SoundPlaybackStream {
public:
    // Fills `frames` interleaved frames at `data`; false when it has nothing.
    using Render = std::function<bool(float* data, uint32_t frames)>;

    // Fails when the sink cannot be played to. A stream on a named sink stays
    // there; one opened with an empty name plays to the default sink and
    // follows it. It starts paused unless `running`.
    static Result<std::unique_ptr<SoundPlaybackStream>> open(std::shared_ptr<SoundServer> server,
                                                             const std::string& sinkName, uint32_t quantumFrames,
                                                             bool running, Render render);
    // After it returns, `render` is not called any more.
    ~SoundPlaybackStream();
    SoundPlaybackStream(const SoundPlaybackStream&) = delete;
    SoundPlaybackStream& operator=(const SoundPlaybackStream&) = delete;

    bool isRunning();
    // Asks the server to pause or resume the stream (cork) and returns
    // without waiting for the answer; false when the stream is not connected.
    bool setRunning(bool running);

private:
    SoundPlaybackStream(std::shared_ptr<SoundServer> server, pa_stream* stream, uint32_t quantumFrames,
                        Render render);
    static void onWrite(pa_stream* stream, size_t bytes, void* userdata);
    void writeQuanta(size_t bytes);

    std::shared_ptr<SoundServer> mServer;
    pa_stream* mStream;
    uint32_t mQuantumFrames;
    Render mRender;
    std::vector<float> mBuffer;  // one whole request, rendered quantum by quantum
};

}  // namespace platform
