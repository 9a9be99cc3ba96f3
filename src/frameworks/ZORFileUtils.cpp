#include "frameworks/ZORFileUtils.h"

#include <filesystem>
#include <system_error>

#include "frameworks/CoreAudioTypes.h"

namespace {

std::filesystem::path absoluteForm(const std::string& path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return (error ? std::filesystem::path(path) : absolute).lexically_normal();
}

bool somethingAt(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

}  // namespace

int32_t ZORFileUtils::makeFSRef(FSRef& ref, const std::string& path) {
    std::filesystem::path absolute = absoluteForm(path);
    ref.path = absolute.string();
    return !path.empty() && somethingAt(absolute) ? 0 : kAudioFileFileNotFoundError;
}

int32_t ZORFileUtils::makeFSSpec(FSSpec& spec, const std::string& path) {
    std::filesystem::path absolute = absoluteForm(path);
    spec.path = absolute.string();
    std::error_code error;
    bool folderExists = std::filesystem::is_directory(absolute.parent_path(), error);
    return !path.empty() && folderExists ? 0 : kAudioFileFileNotFoundError;
}
