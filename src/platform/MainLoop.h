#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace platform {

// The process's one event loop: GLib's default main context. Timers, file
// descriptor watches and work posted from other threads all run on the thread
// that calls `run`, one at a time.
class MainLoop {
public:
    using SourceId = unsigned;

    static MainLoop& shared();

    // Runs until `quit`. A `quit` that arrives before `run` starts is not lost:
    // the loop ends as soon as it starts.
    void run();
    void quit();  // thread-safe

    // Iterates the loop on the calling thread until `condition` holds or the
    // time-out passes; returns the final value of `condition`. For tools and
    // tests that wait for a result without a full `run`.
    bool runUntil(const std::function<bool()>& condition, double timeoutSeconds);

    // Timers and watches may be added and removed from any thread; they always
    // run on the loop's thread.
    //
    // A timer whose first firing is one interval from now. A repeating timer
    // keeps firing until removed; a one-shot timer is gone after it fires.
    // Never 0.
    SourceId addTimer(double intervalSeconds, bool repeats, std::function<void()> action);
    // Runs the timer's action now, on the calling thread. A repeating timer keeps its schedule; a
    // one-shot timer is done, as if it had fired on time. Unknown ids are ignored.
    void fireTimer(SourceId id);
    // Ends a timer or fd watch; unknown or already ended ids are ignored, so
    // an action may remove its own source.
    void removeSource(SourceId id);
    // Calls `onReadable` whenever `fd` is readable or hung up; returning false
    // ends the watch. The fd stays owned by the caller.
    SourceId addFdWatch(int fd, std::function<bool()> onReadable);
    // Whether the timer or watch still exists (a one-shot timer is active
    // while its action runs).
    bool isActive(SourceId id) const;

    // Queues `work` to run on the loop's thread, in the order posted. Always
    // queued, also when called on the loop's thread. Thread-safe.
    void performOnMain(std::function<void()> work);

    // Whether the calling thread is the one running the loop (before any run:
    // the thread that first used the loop).
    bool isLoopThread() const;

    MainLoop(const MainLoop&) = delete;
    MainLoop& operator=(const MainLoop&) = delete;

private:
    struct Source;
    MainLoop();
    SourceId add(std::shared_ptr<Source> source);
    void attach(SourceId id);
    std::shared_ptr<Source> find(SourceId id) const;
    void forget(SourceId id);
    void post(std::function<void()> work);
    void runPosted();

    // Only the loop's thread calls into GLib (whose own locks sanitizers
    // cannot see); other threads hand their requests over through mPosted and
    // wake the loop through mWakeFd.
    int mWakeFd;
    std::atomic<bool> mQuitRequested{false};
    std::atomic<std::thread::id> mLoopThread;
    mutable std::mutex mLock;
    std::unordered_map<SourceId, std::shared_ptr<Source>> mSources;
    SourceId mNextId = 1;
    std::deque<std::function<void()>> mPosted;
};

}  // namespace platform
