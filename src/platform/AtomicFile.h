#pragma once

#include "platform/Result.h"

#include <string>
#include <string_view>
#include <sys/types.h>

namespace platform {

// Replaces `path` as a whole with `contents`: a crash or a full disk leaves
// either the old file or the new one, never a part. The new text goes to a
// fresh temporary file in the same folder (never through a link), is synced,
// renamed over `path`, and the folder is synced so that the rename lasts. A
// link at `path` is replaced, not followed. On failure the temporary file is
// gone and the old file untouched. `mode` is the new file's, less the umask.
Status writeFileAtomically(const std::string& path, std::string_view contents, mode_t mode);

}  // namespace platform
