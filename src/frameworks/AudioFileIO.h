#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// System calls on the files the toolkit writes, shared by its own CAF writer
// and the FFmpeg backend, so that both create and fill a file the same way.
namespace AudioFileIO {

// Creates a new file for writing with mode 0600 through
// O_CREAT|O_EXCL|O_NOFOLLOW, so neither a symbolic link nor a file planted at
// the path is ever written through. An older file of the user's at the path
// is unlinked first: a new recording replaces an older one. Anything else
// there (see platform::checkReplaceable) is refused with
// kAudioFilePermissionsError and left alone. The descriptor, or -1 with
// `status` and `error` saying why.
int createReplacing(const std::string& path, int32_t& status, std::string& error);

// Writes all `size` bytes, resuming after interruptions and short writes.
// 0, or the errno of the write that failed; `written` counts what reached
// the file either way.
int writeAll(int fd, const void* data, size_t size, size_t& written);

// The toolkit's status for a system error number.
int32_t statusFromErrno(int error);

// "<what> <path>: <the system's text for error>".
std::string describe(const std::string& what, const std::string& path, int error);

}  // namespace AudioFileIO
