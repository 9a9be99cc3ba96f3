#include "platform/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace platform {
namespace {

constexpr int kNameAttempts = 16;

std::string folderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

Status failure(const std::string& path, const char* what) {
    return Status::failure("cannot write " + path + ": " + what + ": " + strerror(errno));
}

// O_EXCL refuses whatever already lies at the name, a planted link included.
int createTemporary(const std::string& path, mode_t mode, std::string& temporary) {
    std::random_device seed;
    std::mt19937 generator(seed());
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        temporary = path + ".tmp-" + std::to_string(generator() % 1000000000u);
        const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

bool writeAll(int fd, std::string_view contents) {
    while (!contents.empty()) {
        const ssize_t n = ::write(fd, contents.data(), contents.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        contents.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

Status syncFolder(const std::string& path) {
    const int fd = open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return failure(path, "cannot open its folder");
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced ? Status::success() : failure(path, "cannot sync its folder");
}

// Writes, syncs and closes `fd`; the failure names the step that failed.
Status fill(int fd, const std::string& path, std::string_view contents) {
    const char* step = nullptr;
    if (!writeAll(fd, contents)) {
        step = "write failed";
    } else if (fsync(fd) != 0) {
        step = "sync failed";
    }
    const int error = errno;
    if (close(fd) != 0 && !step) return failure(path, "close failed");
    errno = error;
    return step ? failure(path, step) : Status::success();
}

}  // namespace

Status writeFileAtomically(const std::string& path, std::string_view contents, mode_t mode) {
    std::string temporary;
    const int fd = createTemporary(path, mode, temporary);
    if (fd < 0) return failure(path, "cannot create a temporary file");
    Status written = fill(fd, path, contents);
    if (written && rename(temporary.c_str(), path.c_str()) != 0) written = failure(path, "rename failed");
    if (!written) {
        unlink(temporary.c_str());
        return written;
    }
    return syncFolder(path);
}

}  // namespace platform
