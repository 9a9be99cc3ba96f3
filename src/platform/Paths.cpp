#include "platform/Paths.h"

#include <glib.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

std::string xdgDirectory(const char* variable, const char* defaultUnderHome) {
    const char* value = std::getenv(variable);
    if (value && value[0] == '/') return value;
    return homeDirectory() + "/" + defaultUnderHome;
}

bool isDirectory(const char* path) {
    struct stat info {};
    return path && path[0] == '/' && stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

Result<std::string> privateTemporaryFolder() {
    const char* tmp = std::getenv("TMPDIR");
    const std::string base = isDirectory(tmp) ? tmp : "/tmp";
    const std::string folder = base + "/trovario-" + std::to_string(geteuid());
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return Status::failure("cannot create " + folder + ": " + strerror(errno));
    struct stat info {};
    // lstat, so that a symlink planted by someone else is seen as one.
    if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid() ||
        (info.st_mode & 077) != 0)
        return Status::failure("refusing " + folder + ": it is not a private folder of this user (expected mode 0700)");
    return folder;
}

}  // namespace

std::string homeDirectory() {
    const char* home = std::getenv("HOME");
    if (home && *home) return home;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return "/";
}

std::string userConfigDirectory() { return xdgDirectory("XDG_CONFIG_HOME", ".config"); }
std::string userDataDirectory() { return xdgDirectory("XDG_DATA_HOME", ".local/share"); }
std::string userCacheDirectory() { return xdgDirectory("XDG_CACHE_HOME", ".cache"); }
std::string userStateDirectory() { return xdgDirectory("XDG_STATE_HOME", ".local/state"); }

Result<std::string> userRuntimeDirectory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (isDirectory(runtime)) return std::string(runtime);
    return privateTemporaryFolder();
}

std::string musicDirectory() {
    const char* music = g_get_user_special_dir(G_USER_DIRECTORY_MUSIC);
    return music && *music ? music : homeDirectory() + "/Music";
}

std::string exportFolder() { return musicDirectory() + "/Trovario"; }

std::string scratchRecordingPath() { return userCacheDirectory() + "/trovario/trov_scratch.caf"; }

std::string executableDirectory() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    std::string exe(path, static_cast<size_t>(n));
    return exe.substr(0, exe.find_last_of('/'));
}

std::string installedShareDirectory() {
    const std::string exe = executableDirectory();
    return exe.empty() ? exe : exe + "/../share";
}

std::string expandTildeInPath(const std::string& path) {
    if (path == "~") return homeDirectory();
    if (path.rfind("~/", 0) == 0) return homeDirectory() + path.substr(1);
    return path;
}

std::string standardizePath(const std::string& path) {
    const std::string expanded = expandTildeInPath(path);
    const bool absolute = !expanded.empty() && expanded[0] == '/';
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= expanded.size()) {
        size_t end = expanded.find('/', start);
        if (end == std::string::npos) end = expanded.size();
        std::string part = expanded.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == ".." && absolute) {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(std::move(part));
    }
    std::string result = absolute ? "/" : "";
    for (size_t i = 0; i < parts.size(); ++i) result += (i ? "/" : "") + parts[i];
    return result.empty() ? expanded : result;
}

Status createDirectories(const std::string& path, mode_t mode) {
    struct stat info {};
    if (stat(path.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode) ? Status::success() : Status::failure(path + " is not a folder");
    const size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
        if (Status parent = createDirectories(path.substr(0, slash), mode); !parent) return parent;
    }
    if (mkdir(path.c_str(), mode) == 0 || errno == EEXIST) return Status::success();
    return Status::failure("cannot create folder " + path + ": " + strerror(errno));
}

}  // namespace platform
