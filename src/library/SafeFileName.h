#pragma once

#include <string>
#include <string_view>

// A file name made from metadata (a title, an artist, an album) that names
// exactly one entry inside its folder: '/' becomes '-', NUL and other control
// characters become spaces, invalid UTF-8 becomes U+FFFD, leading dots and
// spaces are dropped (no hidden files, no "." or "..") as are trailing
// spaces, and the name with `extension` (the caller's own, ".m4a" or empty)
// is cut on a character boundary to at most 255 bytes. A name left empty
// becomes `fallback`.
std::string safeFileName(std::string_view name, std::string_view extension = {},
                         std::string_view fallback = "Untitled");
