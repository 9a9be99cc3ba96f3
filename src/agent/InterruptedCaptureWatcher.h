#pragma once

#include <memory>

#include "platform/MainLoop.h"
#include "platform/Result.h"

// Gives the default output back as soon as a recorder that switched it dies
// (SIGKILL, a crash), instead of at the agent's next start. The kernel closes
// a dead recorder's capture lock, which inotify reports as the lock file being
// closed after writing; the restore then acts when a note is on file and no
// recorder holds the lock. Runs on the main loop.
class InterruptedCaptureWatcher {
public:
    static platform::Result<std::unique_ptr<InterruptedCaptureWatcher>> start();
    ~InterruptedCaptureWatcher();
    InterruptedCaptureWatcher(const InterruptedCaptureWatcher&) = delete;
    InterruptedCaptureWatcher& operator=(const InterruptedCaptureWatcher&) = delete;

private:
    explicit InterruptedCaptureWatcher(int inotifyFd);
    bool lockClosed();

    int mInotifyFd;
    platform::MainLoop::SourceId mWatch = 0;
};
