#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// Asks whether the capture device is there, off the main loop: a stalled
// sound server must not hold up the commands. One question at a time; the
// answer comes back on the main loop.
class AvailabilityCheck {
public:
    // `answer` runs on the main loop with each result.
    explicit AvailabilityCheck(std::function<void(bool available)> answer);
    ~AvailabilityCheck();
    AvailabilityCheck(const AvailabilityCheck&) = delete;
    AvailabilityCheck& operator=(const AvailabilityCheck&) = delete;

    // Starts a check unless one is under way. Any thread.
    void check();

private:
    void run();

    std::function<void(bool)> mAnswer;
    std::shared_ptr<bool> mAlive = std::make_shared<bool>(true);
    const std::weak_ptr<bool> mAliveWeak = mAlive;  // what the thread reads
    std::mutex mLock;
    std::condition_variable mWake;
    bool mAsked = false;
    bool mEnding = false;
    std::thread mThread;
};
