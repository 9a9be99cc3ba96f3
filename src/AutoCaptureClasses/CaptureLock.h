#pragma once

#include <memory>
#include <string>

#include "platform/Result.h"

// One capture at a time. A recorder holds the lock file
// <runtime folder>/trovario/capture.lock exclusively for its whole capture,
// with its process id written in it; whoever gives the default output back
// after an interrupted capture holds it shared for that moment, so that no
// recorder starts in the middle. The kernel lets go of a dead holder's lock.
class CaptureLock {
public:
    static constexpr char kFileName[] = "capture.lock";

    // The lock file's folder, created (0700) when missing; refused when it is
    // not a private folder of the user's.
    static platform::Result<std::string> folder();

    // For a recorder. While another recorder holds it, fails naming that
    // recorder's process; a restorer is waited for, up to about 3 s.
    static platform::Result<std::unique_ptr<CaptureLock>> acquire();
    // For a restorer; fails at once while a recorder holds it.
    static platform::Result<std::unique_ptr<CaptureLock>> acquireShared();
    // Whether a live recorder holds it.
    static bool isHeldByRecorder();

    ~CaptureLock();
    CaptureLock(const CaptureLock&) = delete;
    CaptureLock& operator=(const CaptureLock&) = delete;

private:
    CaptureLock(int fd, bool exclusive) : mFd(fd), mExclusive(exclusive) {}

    int mFd;
    bool mExclusive;
};
