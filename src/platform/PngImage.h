#pragma once

#include "platform/Result.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// An image's pixels as ARGB32 in network byte order (A, R, G, B bytes, not
// premultiplied), rows top to bottom: what tray hosts take as an icon pixmap.
struct ArgbImage {
    int32_t mWidth = 0;
    int32_t mHeight = 0;
    std::vector<uint8_t> mArgb;
};

// Decodes a PNG file of any colour type; why not when it cannot be read, is
// not a PNG or is larger than an icon could be.
Result<ArgbImage> readPngArgb(const std::string& path);

}  // namespace platform
