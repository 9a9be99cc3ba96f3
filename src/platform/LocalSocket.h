#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

#include "platform/Result.h"

namespace platform {

// Statuses of the local transport, numbered like the message-port statuses
// they stand in for, so that callers can hand them on unchanged.
enum : int32_t {
    kLocalSocketSuccess = 0,
    kLocalSocketSendTimeout = -1,
    kLocalSocketReceiveTimeout = -2,
    kLocalSocketInvalid = -3,
    kLocalSocketTransportError = -4,
    kLocalSocketBecameInvalid = -5,
};

// The status in words, for messages a user reads.
const char* localSocketStatusText(int32_t status);

// Commands and replies are a few hundred bytes; nothing near this is one.
inline constexpr size_t kLocalSocketMaxMessage = 64 * 1024;

// One end of a connected SOCK_SEQPACKET Unix socket; each send is one message.
class LocalSocket {
public:
    // <name> in the user's runtime folder (see userRuntimeDirectory); fails
    // for a name that is not one file name, or when no safe place exists.
    static Result<std::string> pathForName(const std::string& name);

    // Connects to the listener at `path`; the send time-out bounds the wait
    // for a full backlog. kLocalSocketBecameInvalid when nobody listens there
    // or the listener belongs to another user.
    static int32_t connect(const std::string& path, double sendTimeout, std::unique_ptr<LocalSocket>* socket);

    explicit LocalSocket(int fd);
    ~LocalSocket();
    LocalSocket(const LocalSocket&) = delete;
    LocalSocket& operator=(const LocalSocket&) = delete;

    int fd() const { return mFd; }
    std::optional<uid_t> peerUid() const;

    // Sends one message, waiting at most `timeout` seconds for room (0: not
    // at all). Messages over the limit are refused with one log line.
    int32_t send(std::string_view message, double timeout);
    // Receives one message, waiting at most `timeout` seconds (0: only what
    // has arrived). `message` becomes nullopt when the peer closed without
    // sending. Messages over the limit are refused with one log line.
    int32_t receive(std::optional<std::string>* message, double timeout);
    // Whether the peer has shut its end, so that nothing more will arrive.
    bool peerClosed() const;

private:
    int mFd;
};

// A listening SOCK_SEQPACKET socket that owns its path while it lives: the
// socket file (mode 0600) is removed again when the listener goes.
class LocalSocketListener {
public:
    // Binds `path`. A socket file left by a process that died is reclaimed;
    // a live listener means the name is taken: then `nameTaken` (if given)
    // is set, and the failure says so.
    static Result<std::unique_ptr<LocalSocketListener>> listen(const std::string& path, bool* nameTaken = nullptr);
    ~LocalSocketListener();
    LocalSocketListener(const LocalSocketListener&) = delete;
    LocalSocketListener& operator=(const LocalSocketListener&) = delete;

    int fd() const { return mFd; }
    const std::string& path() const { return mPath; }

    // The next waiting connection of this user, nullptr when none waits.
    // Connections of other users are closed with one log line each.
    std::unique_ptr<LocalSocket> accept();

private:
    LocalSocketListener(int fd, int lockFd, std::string path, dev_t device, ino_t inode);

    int mFd;
    int mLockFd;
    std::string mPath;
    dev_t mDevice;
    ino_t mInode;
};

}  // namespace platform
