#include "AutoCaptureClasses/CaptureLock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/Log.h"
#include "platform/Paths.h"

using platform::Result;
using platform::Status;

namespace {

constexpr auto kRestorerWait = std::chrono::seconds(3);
constexpr auto kRetryInterval = std::chrono::milliseconds(20);

std::string systemError(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + strerror(errno);
}

// The lock file, created when missing: a regular file of the user's, never
// opened through a link. Close-on-exec, so that no spawned program keeps a
// recorder's lock alive after the recorder ends.
Result<int> openLockFile(int access) {
    Result<std::string> folder = CaptureLock::folder();
    if (!folder) return folder.status();
    const std::string path = *folder + "/" + CaptureLock::kFileName;
    const int fd = open(path.c_str(), access | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0600);
    if (fd < 0) return Status::failure(systemError("cannot open the capture lock", path));
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid()) {
        close(fd);
        return Status::failure("the capture lock " + path + " is not a file of yours; remove it");
    }
    return fd;
}

// The live process the file names; 0 when it names none (a restorer holds
// the lock, or a recorder that has not written its id yet).
pid_t liveHolder(int fd) {
    char text[24] = {};
    if (pread(fd, text, sizeof text - 1, 0) <= 0) return 0;
    const auto pid = static_cast<pid_t>(strtol(text, nullptr, 10));
    return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM) ? pid : 0;
}

// Why the lock was refused with `error`: a running recorder, a system error,
// or, when the file names no live process, `unnamed`.
Status refusal(int error, pid_t holder, const char* unnamed) {
    if (error != EWOULDBLOCK) return Status::failure(std::string("cannot lock the capture lock: ") + strerror(error));
    if (!holder) return Status::failure(unnamed);
    return Status::failure("another capture is running (process " + std::to_string(holder) + "); stop it first");
}

}  // namespace

Result<std::string> CaptureLock::folder() {
    Result<std::string> runtime = platform::userRuntimeDirectory();
    if (!runtime) return runtime.status();
    const std::string folder = *runtime + "/trovario";
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return Status::failure(systemError("cannot create folder", folder));
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid() ||
        (info.st_mode & 077) != 0)
        return Status::failure(folder + " is not a private folder of yours (mode 0700); remove it");
    return folder;
}

Result<std::unique_ptr<CaptureLock>> CaptureLock::acquire() {
    Result<int> fd = openLockFile(O_RDWR);
    if (!fd) return fd.status();
    const auto deadline = std::chrono::steady_clock::now() + kRestorerWait;
    while (flock(*fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        const pid_t holder = error == EWOULDBLOCK ? liveHolder(*fd) : 0;
        if (error == EWOULDBLOCK && !holder && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(kRetryInterval);
            continue;
        }
        close(*fd);
        return refusal(error, holder, "the default output is being given back after an interrupted capture; "
                                      "try again in a moment");
    }
    const std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(*fd, 0) != 0 || pwrite(*fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size()))
        platform::Log::warning("cannot write the process id into the capture lock: %s\n", strerror(errno));
    return std::unique_ptr<CaptureLock>(new CaptureLock(*fd, true));
}

Result<std::unique_ptr<CaptureLock>> CaptureLock::acquireShared() {
    // Read-only: closing it tells no watcher that a recorder let go.
    Result<int> fd = openLockFile(O_RDONLY);
    if (!fd) return fd.status();
    if (flock(*fd, LOCK_SH | LOCK_NB) != 0) {
        const int error = errno;
        Status failure = refusal(error, error == EWOULDBLOCK ? liveHolder(*fd) : 0, "another capture is starting");
        close(*fd);
        return failure;
    }
    return std::unique_ptr<CaptureLock>(new CaptureLock(*fd, false));
}

bool CaptureLock::isHeldByRecorder() {
    Result<int> fd = openLockFile(O_RDONLY);
    if (!fd) return false;
    const bool held = flock(*fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(*fd);
    return held;
}

// Emptied before it is let go, so that nobody takes a finished recorder for a running one.
CaptureLock::~CaptureLock() {
    if (mExclusive && ftruncate(mFd, 0) != 0)
        platform::Log::warning("cannot empty the capture lock: %s\n", strerror(errno));
    close(mFd);
}
