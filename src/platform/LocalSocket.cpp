#include "platform/LocalSocket.h"

#include "platform/Log.h"
#include "platform/Paths.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {
namespace {

bool fillAddress(const std::string& path, sockaddr_un* address) {
    *address = {};
    address->sun_family = AF_UNIX;
    if (path.size() >= sizeof(address->sun_path)) return false;
    memcpy(address->sun_path, path.c_str(), path.size() + 1);
    return true;
}

// A zero timeval means "wait for ever" to the kernel; the shortest wait stands in for none.
timeval toTimeval(double seconds) {
    if (!(seconds > 1e-6)) return timeval{0, 1};
    const double whole = std::floor(seconds);
    return timeval{static_cast<time_t>(whole), static_cast<suseconds_t>((seconds - whole) * 1e6)};
}

int toMilliseconds(double seconds) { return static_cast<int>(std::ceil(seconds * 1000.0)); }

bool wouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINPROGRESS; }

int32_t refuseOversize(size_t size, const char* direction) {
    Log::warning("message port: %s message of %zu bytes refused (the limit is %zu bytes)", direction, size,
                 kLocalSocketMaxMessage);
    return kLocalSocketTransportError;
}

}  // namespace

const char* localSocketStatusText(int32_t status) {
    switch (status) {
        case kLocalSocketSuccess: return "success";
        case kLocalSocketSendTimeout: return "the other side did not take the message in time";
        case kLocalSocketReceiveTimeout: return "no answer came in time";
        case kLocalSocketInvalid: return "the connection is closed";
        case kLocalSocketTransportError: return "the connection failed";
        case kLocalSocketBecameInvalid: return "the other side has gone";
        default: return "unknown failure";
    }
}

Result<std::string> LocalSocket::pathForName(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos || name[0] == '.')
        return Status::failure("invalid port name \"" + name + "\"");
    Result<std::string> folder = userRuntimeDirectory();
    if (!folder) return folder;
    const std::string path = *folder + "/" + name;
    sockaddr_un address;
    if (!fillAddress(path, &address))
        return Status::failure("socket path too long (" + std::to_string(path.size()) + " bytes): " + path);
    return path;
}

int32_t LocalSocket::connect(const std::string& path, double sendTimeout, std::unique_ptr<LocalSocket>* socket) {
    sockaddr_un address;
    if (!fillAddress(path, &address)) return kLocalSocketBecameInvalid;
    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return kLocalSocketTransportError;
    auto connection = std::make_unique<LocalSocket>(fd);
    const timeval timeout = toTimeval(sendTimeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (errno == ENOENT || errno == ECONNREFUSED || errno == ENOTSOCK) return kLocalSocketBecameInvalid;
        return wouldBlock(errno) || errno == ETIMEDOUT ? kLocalSocketSendTimeout : kLocalSocketTransportError;
    }
    if (connection->peerUid() != geteuid()) {
        Log::warning("message port: %s belongs to another user; not connecting", path.c_str());
        return kLocalSocketBecameInvalid;
    }
    *socket = std::move(connection);
    return kLocalSocketSuccess;
}

LocalSocket::LocalSocket(int fd) : mFd(fd) {}

LocalSocket::~LocalSocket() { close(mFd); }

std::optional<uid_t> LocalSocket::peerUid() const {
    ucred credentials {};
    socklen_t length = sizeof credentials;
    if (getsockopt(mFd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return std::nullopt;
    return credentials.uid;
}

int32_t LocalSocket::send(std::string_view message, double timeout) {
    if (message.size() > kLocalSocketMaxMessage) return refuseOversize(message.size(), "outgoing");
    int flags = MSG_NOSIGNAL;
    if (timeout > 0) {
        const timeval limit = toTimeval(timeout);
        setsockopt(mFd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    } else {
        flags |= MSG_DONTWAIT;
    }
    if (::send(mFd, message.data(), message.size(), flags) == static_cast<ssize_t>(message.size()))
        return kLocalSocketSuccess;
    return wouldBlock(errno) ? kLocalSocketSendTimeout : kLocalSocketTransportError;
}

int32_t LocalSocket::receive(std::optional<std::string>* message, double timeout) {
    if (timeout > 0) {
        pollfd waiting{mFd, POLLIN, 0};
        int ready = poll(&waiting, 1, toMilliseconds(timeout));
        if (ready == 0) return kLocalSocketReceiveTimeout;
        if (ready < 0) return kLocalSocketTransportError;
    }
    // One byte more than the limit would be enough to notice an oversize
    // message, but MSG_TRUNC also reports its real length for the log line.
    auto buffer = std::make_unique_for_overwrite<char[]>(kLocalSocketMaxMessage);
    iovec part{buffer.get(), kLocalSocketMaxMessage};
    msghdr header{};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    ssize_t length = recvmsg(mFd, &header, MSG_DONTWAIT | MSG_TRUNC);
    if (length < 0) return wouldBlock(errno) ? kLocalSocketReceiveTimeout : kLocalSocketTransportError;
    if (header.msg_flags & MSG_TRUNC) return refuseOversize(static_cast<size_t>(length), "incoming");
    // A record of length 0 is an empty message unless the peer has gone.
    if (length == 0 && peerClosed()) {
        *message = std::nullopt;
    } else {
        *message = std::string(buffer.get(), static_cast<size_t>(length));
    }
    return kLocalSocketSuccess;
}

bool LocalSocket::peerClosed() const {
    pollfd state{mFd, POLLRDHUP, 0};
    return poll(&state, 1, 0) > 0 && (state.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

Result<std::unique_ptr<LocalSocketListener>> LocalSocketListener::listen(const std::string& path,
                                                                          bool* nameTaken) {
    const Status taken = Status::failure(path + " is in use by a running process");
    sockaddr_un address;
    if (!fillAddress(path, &address)) return Status::failure("socket path too long: " + path);
    // The lock is held for the listener's whole life: taking it proves that
    // no live listener owns the path, whatever socket file lies there.
    const std::string lockPath = path + ".lock";
    int lockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockFd < 0) return Status::failure("cannot open " + lockPath + ": " + strerror(errno));
    if (flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        close(lockFd);
        if (nameTaken) *nameTaken = true;
        return taken;
    }
    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        Status failed = Status::failure(std::string("cannot create a socket: ") + strerror(errno));
        close(lockFd);
        return failed;
    }
    fchmod(fd, 0600);
    auto bindPath = [&] { return bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0; };
    bool bound = bindPath();
    if (!bound && errno == EADDRINUSE) {
        // Either left behind by a process that died, or held by a listener
        // that does not take the lock; only the first may be removed.
        std::unique_ptr<LocalSocket> probe;
        if (LocalSocket::connect(path, 0.5, &probe) != kLocalSocketBecameInvalid) {
            close(fd);
            close(lockFd);
            if (nameTaken) *nameTaken = true;
            return taken;
        }
        unlink(path.c_str());
        bound = bindPath();
    }
    struct stat info {};
    if (!bound || chmod(path.c_str(), 0600) != 0 || ::listen(fd, SOMAXCONN) != 0 ||
        lstat(path.c_str(), &info) != 0) {
        Status failed = Status::failure("cannot listen at " + path + ": " + strerror(errno));
        if (bound) unlink(path.c_str());
        close(fd);
        close(lockFd);
        return failed;
    }
    return std::unique_ptr<LocalSocketListener>(new LocalSocketListener(fd, lockFd, path, info.st_dev, info.st_ino));
}

LocalSocketListener::LocalSocketListener(int fd, int lockFd, std::string path, dev_t device, ino_t inode)
    : mFd(fd), mLockFd(lockFd), mPath(std::move(path)), mDevice(device), mInode(inode) {}

LocalSocketListener::~LocalSocketListener() {
    struct stat info {};
    // Only our own socket file: another process may have taken the name since.
    if (lstat(mPath.c_str(), &info) == 0 && info.st_dev == mDevice && info.st_ino == mInode)
        unlink(mPath.c_str());
    close(mFd);
    close(mLockFd);
}

std::unique_ptr<LocalSocket> LocalSocketListener::accept() {
    while (true) {
        int fd = accept4(mFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return nullptr;
        }
        auto connection = std::make_unique<LocalSocket>(fd);
        std::optional<uid_t> uid = connection->peerUid();
        if (uid == geteuid()) return connection;
        Log::warning("message port: refused a connection from uid %ld", uid ? static_cast<long>(*uid) : -1L);
    }
}

}  // namespace platform
