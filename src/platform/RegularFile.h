#pragma once

#include "platform/Result.h"

#include <cstddef>
#include <string>

namespace platform {

// The whole text of a file that comes from outside, of at most `maxBytes`.
// Links are followed (a user's file may be a link into a dotfiles folder), but
// only to a regular file: the path is checked before it is opened, so a FIFO
// or a device is never opened and cannot block or flood the reader, and the
// open file is checked again. A file that grows past the cap while it is read
// is refused after at most one byte more.
Result<std::string> readRegularFile(const std::string& path, size_t maxBytes);

// Whether a writer may replace what stands at `path`: nothing, or a regular
// file (not a link) of the effective user. Anything else (a folder, a FIFO, a
// socket, a device, a link, another user's file) is refused with a message
// naming the path and what it is.
Status checkReplaceable(const std::string& path);

}  // namespace platform
