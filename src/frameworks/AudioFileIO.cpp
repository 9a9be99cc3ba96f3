#include "frameworks/AudioFileIO.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "frameworks/CoreAudioTypes.h"
#include "platform/RegularFile.h"

namespace AudioFileIO {
namespace {

int createExclusive(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

}  // namespace

int createReplacing(const std::string& path, int32_t& status, std::string& error) {
    int fd = createExclusive(path);
    if (fd < 0 && errno == EEXIST) {
        if (platform::Status replaceable = platform::checkReplaceable(path); !replaceable) {
            status = kAudioFilePermissionsError;
            error = replaceable.message();
            return -1;
        }
        if (unlink(path.c_str()) == 0 || errno == ENOENT) fd = createExclusive(path);
    }
    if (fd < 0) {
        status = statusFromErrno(errno);
        error = describe("cannot create", path, errno);
        return -1;
    }
    status = 0;
    return fd;
}

int writeAll(int fd, const void* data, size_t size, size_t& written) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    written = 0;
    while (written < size) {
        ssize_t n = ::write(fd, bytes + written, size - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        written += size_t(n);
    }
    return 0;
}

int32_t statusFromErrno(int error) {
    switch (error) {
        case 0: return 0;
        case ENOSPC:
        case EDQUOT:
        case EFBIG: return kAudioFileDiskFullError;
        case ENOENT:
        case ENOTDIR: return kAudioFileFileNotFoundError;
        case EACCES:
        case EPERM:
        case EROFS:
        case ELOOP: return kAudioFilePermissionsError;
        case EEXIST: return kAudioFileExistsError;
        default: return kAudioFileIOError;
    }
}

std::string describe(const std::string& what, const std::string& path, int error) {
    return what + " " + path + ": " + strerror(error);
}

}  // namespace AudioFileIO
