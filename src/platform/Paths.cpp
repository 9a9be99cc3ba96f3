#include "platform/Paths.h"
#include "platform/ServiceNames.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

std::string homeDirectory() {
    const char* home = std::getenv("HOME");
    if (home && *home) return home;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return "/";
}

std::string userConfigDirectory() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    // Relative values are invalid by the XDG rules and ignored.
    if (config && config[0] == '/') return config;
    return homeDirectory() + "/.config";
}

std::string executableDirectory() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    std::string exe(path, static_cast<size_t>(n));
    return exe.substr(0, exe.find_last_of('/'));
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

bool createDirectories(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
    const size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !createDirectories(path.substr(0, slash))) return false;
    return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string exportFolder() { return homeDirectory() + "/Music/Trovario"; }

}  // namespace platform
