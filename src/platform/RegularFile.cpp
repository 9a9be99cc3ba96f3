#include "platform/RegularFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr size_t kReadChunk = 16 * 1024;

Status tooLarge(size_t maxBytes) {
    return Status::failure("it is larger than " + std::to_string(maxBytes) + " bytes");
}

Status readAtMost(int fd, size_t maxBytes, std::string& text) {
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return Status::failure("it is not a regular file");
    if (static_cast<uint64_t>(info.st_size) > maxBytes) return tooLarge(maxBytes);
    char chunk[kReadChunk];
    // One byte more than allowed tells a file that grew since fstat.
    while (text.size() <= maxBytes) {
        const ssize_t count = read(fd, chunk, std::min(sizeof chunk, maxBytes + 1 - text.size()));
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return Status::failure(std::string("cannot read it: ") + strerror(errno));
        if (count == 0) return Status::success();
        text.append(chunk, static_cast<size_t>(count));
    }
    return tooLarge(maxBytes);
}

const char* kindOf(mode_t mode) {
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a named pipe (FIFO)";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    return "not a regular file";
}

}  // namespace

Status checkReplaceable(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0)
        return errno == ENOENT ? Status::success()
                               : Status::failure("cannot check " + path + ": " + strerror(errno));
    const std::string refused = "will not replace " + path + ": it is ";
    if (!S_ISREG(info.st_mode)) return Status::failure(refused + kindOf(info.st_mode));
    if (info.st_uid != geteuid())
        return Status::failure(refused + "another user's file (owner " + std::to_string(info.st_uid) + ")");
    return Status::success();
}

Result<std::string> readRegularFile(const std::string& path, size_t maxBytes) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return Status::failure(std::string("cannot read it: ") + strerror(errno));
    if (!S_ISREG(info.st_mode)) return Status::failure("it is not a regular file");
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return Status::failure(std::string("cannot open it: ") + strerror(errno));
    std::string text;
    Status status = readAtMost(fd, maxBytes, text);
    close(fd);
    if (!status) return status;
    return text;
}

}  // namespace platform
