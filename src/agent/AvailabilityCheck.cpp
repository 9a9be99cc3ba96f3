#include "agent/AvailabilityCheck.h"

#include "AutoCaptureClasses/MySystemCaptureRecorder.h"
#include "platform/MainLoop.h"

AvailabilityCheck::AvailabilityCheck(std::function<void(bool)> answer)
    : mAnswer(std::move(answer)), mThread(&AvailabilityCheck::run, this) {}

AvailabilityCheck::~AvailabilityCheck() {
    mAlive.reset();
    {
        std::lock_guard lock(mLock);
        mEnding = true;
    }
    mWake.notify_all();
    mThread.join();
}

void AvailabilityCheck::check() {
    {
        std::lock_guard lock(mLock);
        mAsked = true;
    }
    mWake.notify_all();
}

void AvailabilityCheck::run() {
    std::unique_lock lock(mLock);
    while (true) {
        mWake.wait(lock, [this] { return mAsked || mEnding; });
        if (mEnding) return;
        mAsked = false;
        lock.unlock();
        const bool available = MySystemCaptureRecorder::isAvailable();
        platform::MainLoop::shared().performOnMain([this, available, alive = mAliveWeak] {
            if (alive.lock()) mAnswer(available);
        });
        lock.lock();
    }
}
