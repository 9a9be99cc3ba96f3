#include "platform/PngImage.h"

#include <png.h>

namespace platform {

namespace {

// Icons are small; the bound keeps a hostile header from asking for gigabytes.
constexpr png_uint_32 kMaxSide = 4096;

Status pngFailure(const std::string& path, const png_image& image) {
    return Status::failure("Cannot read the PNG image " + path + ": " + image.message);
}

}  // namespace

Result<ArgbImage> readPngArgb(const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return pngFailure(path, image);
    if (image.width == 0 || image.height == 0 || image.width > kMaxSide || image.height > kMaxSide) {
        png_image_free(&image);
        return Status::failure("Cannot use the PNG image " + path + ": " + std::to_string(image.width) + "x" +
                               std::to_string(image.height) + " pixels is not an icon size");
    }
    image.format = PNG_FORMAT_ARGB;
    ArgbImage argb;
    argb.mWidth = int32_t(image.width);
    argb.mHeight = int32_t(image.height);
    argb.mArgb.resize(PNG_IMAGE_SIZE(image));
    // On failure libpng has already released the image's resources.
    if (!png_image_finish_read(&image, nullptr, argb.mArgb.data(), 0, nullptr)) return pngFailure(path, image);
    return argb;
}

}  // namespace platform
