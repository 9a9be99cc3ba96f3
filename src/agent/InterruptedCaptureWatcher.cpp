#include "agent/InterruptedCaptureWatcher.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "AutoCaptureClasses/CaptureLock.h"
#include "AutoCaptureClasses/DefaultOutputMemory.h"

using platform::Status;

platform::Result<std::unique_ptr<InterruptedCaptureWatcher>> InterruptedCaptureWatcher::start() {
    // The folder rather than the file: a lock file that is removed and made
    // again is still watched.
    platform::Result<std::string> folder = CaptureLock::folder();
    if (!folder) return folder.status();
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return Status::failure(std::string("cannot watch the capture lock: ") + strerror(errno));
    if (inotify_add_watch(fd, folder->c_str(), IN_CLOSE_WRITE) < 0) {
        Status failure = Status::failure("cannot watch " + *folder + ": " + strerror(errno));
        close(fd);
        return failure;
    }
    return std::unique_ptr<InterruptedCaptureWatcher>(new InterruptedCaptureWatcher(fd));
}

InterruptedCaptureWatcher::InterruptedCaptureWatcher(int inotifyFd)
    : mInotifyFd(inotifyFd),
      mWatch(platform::MainLoop::shared().addFdWatch(inotifyFd, [this] { return lockClosed(); })) {}

InterruptedCaptureWatcher::~InterruptedCaptureWatcher() {
    platform::MainLoop::shared().removeSource(mWatch);
    close(mInotifyFd);
}

bool InterruptedCaptureWatcher::lockClosed() {
    alignas(inotify_event) char events[4096];
    bool lockEvent = false;
    for (ssize_t size; (size = read(mInotifyFd, events, sizeof events)) > 0;) {
        for (ssize_t at = 0; at < size;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            lockEvent = lockEvent || (event->len > 0 && strcmp(event->name, CaptureLock::kFileName) == 0);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    if (lockEvent) DefaultOutputMemory::restoreAfterInterruptedCapture();
    return true;
}
