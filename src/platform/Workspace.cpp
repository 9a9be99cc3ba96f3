#include "platform/Workspace.h"

#include "platform/Bundle.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/ServiceNames.h"
#include "platform/UserDefaults.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <cctype>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

constexpr char kEntryGroup[] = "Desktop Entry";
constexpr char kBundleKey[] = "X-Trovario-Bundle";

bool exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

std::vector<std::string> applicationDirectories() {
    std::vector<std::string> directories;
    directories.push_back(userDataDirectory());
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::string list = (dataDirs && *dataDirs) ? dataDirs : "/usr/local/share:/usr/share";
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        if (end > start && list[start] == '/') directories.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    // An installation outside the data dirs (/opt, ~/.local) still finds its own entries.
    if (std::string share = installedShareDirectory(); !share.empty()) directories.push_back(share);
    for (std::string& directory : directories) directory += "/applications";
    for (const std::string& directory : Bundle::resourceDirectories()) directories.push_back(directory);
    return directories;
}

struct KeyFileDeleter {
    void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
struct ObjectDeleter {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct ErrorDeleter {
    void operator()(GError* error) const { g_error_free(error); }
};
using AppInfo = std::unique_ptr<GDesktopAppInfo, ObjectDeleter>;

std::string takeString(gchar* text) {
    std::string value = text ? text : "";
    g_free(text);
    return value;
}

// A relative bundle name is looked for beside the entry, then in the resource
// directories; a bundle that is not there is no bundle.
std::string resolveBundle(const std::string& entryPath, const std::string& bundle) {
    if (bundle[0] == '/') return exists(bundle) ? bundle : std::string();
    std::vector<std::string> places{entryPath.substr(0, entryPath.find_last_of('/'))};
    for (const std::string& directory : Bundle::resourceDirectories()) places.push_back(directory);
    for (const std::string& place : places)
        if (exists(place + "/" + bundle)) return place + "/" + bundle;
    return {};
}

AppInfo launchableEntry(const std::string& identifier) {
    const std::string path = Workspace::desktopEntryPath(identifier);
    if (path.empty()) {
        Log::warning("cannot launch %s: no desktop entry %s.desktop found", identifier.c_str(), identifier.c_str());
        return nullptr;
    }
    AppInfo info(g_desktop_app_info_new_from_filename(path.c_str()));
    if (!info)
        Log::warning("cannot launch %s: desktop entry %s has no usable Exec line (is its program installed?)",
                     identifier.c_str(), path.c_str());
    return info;
}

bool launch(GDesktopAppInfo* info, GList* uris, const std::string& identifier) {
    GError* raw = nullptr;
    const bool launched = g_app_info_launch_uris(G_APP_INFO(info), uris, nullptr, &raw);
    std::unique_ptr<GError, ErrorDeleter> error(raw);
    if (!launched) Log::warning("cannot launch %s: %s", identifier.c_str(), error ? error->message : "unknown error");
    return launched;
}

}  // namespace

bool Workspace::isValidIdentifier(const std::string& identifier) {
    if (identifier.empty() || identifier[0] == '.' || identifier.size() > 255) return false;
    for (char c : identifier)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') return false;
    return true;
}

std::string Workspace::desktopEntryPath(const std::string& identifier) {
    if (!isValidIdentifier(identifier)) return {};
    for (const std::string& directory : applicationDirectories()) {
        const std::string path = directory + "/" + identifier + ".desktop";
        if (exists(path)) return path;
    }
    return {};
}

std::optional<std::string> Workspace::absolutePathForAppBundleWithIdentifier(const std::string& identifier) {
    const std::string entry = desktopEntryPath(identifier);
    if (entry.empty()) return std::nullopt;
    std::unique_ptr<GKeyFile, KeyFileDeleter> file(g_key_file_new());
    if (!g_key_file_load_from_file(file.get(), entry.c_str(), G_KEY_FILE_NONE, nullptr) ||
        !g_key_file_has_group(file.get(), kEntryGroup)) {
        Log::warning("desktop entry %s is not a readable desktop entry", entry.c_str());
        return std::nullopt;
    }
    // Hidden means the user deleted the entry.
    if (g_key_file_get_boolean(file.get(), kEntryGroup, "Hidden", nullptr)) return std::nullopt;
    const std::string bundle = takeString(g_key_file_get_string(file.get(), kEntryGroup, kBundleKey, nullptr));
    if (bundle.empty()) return entry;
    const std::string resolved = resolveBundle(entry, bundle);
    return resolved.empty() ? entry : resolved;
}

bool Workspace::launchApplication(const std::string& identifier) {
    AppInfo info = launchableEntry(identifier);
    return info && launch(info.get(), nullptr, identifier);
}

bool Workspace::openFile(const std::string& path, const std::string& identifier) {
    if (path.empty() || access(path.c_str(), R_OK) != 0) {
        Log::warning("cannot open %s with %s: the file does not exist or cannot be read", path.c_str(), identifier.c_str());
        return false;
    }
    AppInfo info = launchableEntry(identifier);
    if (!info) return false;
    std::unique_ptr<GFile, ObjectDeleter> file(g_file_new_for_path(path.c_str()));
    const std::string uri = takeString(g_file_get_uri(file.get()));
    GList uris{const_cast<char*>(uri.c_str()), nullptr, nullptr};
    return launch(info.get(), &uris, identifier);
}

std::string Workspace::editorIdentifier() {
    const std::string chosen = UserDefaults::standard().stringForKey(kEditorIdentifierKey);
    if (isValidIdentifier(chosen)) return chosen;
    if (!chosen.empty())
        Log::warning("preference %s holds \"%s\", which is not an application identifier; using %s", kEditorIdentifierKey,
                     chosen.c_str(), kEditorIdentifier);
    return kEditorIdentifier;
}

}  // namespace platform
