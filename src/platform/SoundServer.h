#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Result.h"

struct pa_threaded_mainloop;
struct pa_context;
struct pa_operation;

namespace platform {

// One sink of the sound server, as the capture code sees it.
struct SinkInfo {
    uint32_t index = 0;
    std::string name;
    std::string description;
    std::string monitorSource;
};

// A connection to the sound server (PulseAudio, or PipeWire's pulse server)
// through libpulse. Every request waits at most the connection's time-out:
// a missing, stalled or dying server is an error, never a hang.
class SoundServer {
public:
    static constexpr int kDefaultTimeoutMs = 2000;

    // Fails when no server answers within `timeoutMs`.
    static Result<std::shared_ptr<SoundServer>> connect(const std::string& clientName, int timeoutMs);
    ~SoundServer();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    // Every request below may be made from several threads; a failure says
    // why the server did not answer or refused.
    // The server's own name, e.g. "pulseaudio" or "PulseAudio (on PipeWire 0.3.65)".
    Result<std::string> serverName();
    Result<std::vector<SinkInfo>> sinks();
    // A sink whose description or name equals `descriptionOrName`; descriptions win.
    Result<SinkInfo> findSink(const std::string& descriptionOrName);
    Result<std::string> defaultSinkName();
    Status setDefaultSink(const std::string& name);
    // Whether any program's stream plays into the sink.
    Result<bool> sinkHasInputs(uint32_t sinkIndex);
    // A sink resumed from suspension starts rendering at once, at the
    // latency its streams ask for now.
    Status suspendSink(const std::string& name, bool suspend);
    // The new module's index.
    Result<uint32_t> loadModule(const std::string& name, const std::string& arguments);

    // The stream classes run on this connection's main loop.
    pa_threaded_mainloop* mainloop() const { return mMainloop; }
    pa_context* context() const { return mContext; }
    int timeoutMs() const { return mTimeoutMs; }
    // Waits on the main loop (whose lock the caller holds) until `done` holds,
    // the connection fails or the time-out passes; fails unless `done()`.
    Status waitLocked(const std::function<bool()>& done);

private:
    SoundServer(pa_threaded_mainloop* mainloop, pa_context* context, int timeoutMs);
    Status runOperation(pa_operation* op, const bool& finished);
    Status contextFailure() const;

    pa_threaded_mainloop* mMainloop;
    pa_context* mContext;
    int mTimeoutMs;
};

// Holds the main loop's lock for a scope.
class SoundServerLock {
public:
    explicit SoundServerLock(pa_threaded_mainloop* mainloop);
    ~SoundServerLock();
    SoundServerLock(const SoundServerLock&) = delete;
    SoundServerLock& operator=(const SoundServerLock&) = delete;

private:
    pa_threaded_mainloop* mMainloop;
};

}  // namespace platform
