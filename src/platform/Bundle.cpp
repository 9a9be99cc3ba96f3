#include "platform/Bundle.h"

#include "platform/Paths.h"
#include "platform/StringsFile.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

bool isDirectory(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string absolutePath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

std::string envOrEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The locale that governs messages, as gettext picks it.
std::string messageLocale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
        if (std::string value = envOrEmpty(name); !value.empty()) return value;
    return {};
}

bool isPosixLocale(const std::string& locale) {
    return locale.empty() || locale == "C" || locale == "POSIX" || locale.rfind("C.", 0) == 0;
}

void addLanguage(std::vector<std::string>& languages, const std::string& language) {
    if (language.empty() || language.find('/') != std::string::npos || language[0] == '.') return;
    for (const std::string& known : languages)
        if (known == language) return;
    languages.push_back(language);
}

// "de_DE.UTF-8@euro" gives de_DE, de-DE, de.
void addLocale(std::vector<std::string>& languages, std::string locale) {
    locale = locale.substr(0, locale.find_first_of(".@"));
    if (isPosixLocale(locale)) return;
    addLanguage(languages, locale);
    const size_t separator = locale.find('_');
    if (separator == std::string::npos) return;
    addLanguage(languages, locale.substr(0, separator) + "-" + locale.substr(separator + 1));
    addLanguage(languages, locale.substr(0, separator));
}

bool isSafeResourceName(const std::string& name) {
    if (name.empty() || name[0] == '/') return false;
    return name != ".." && name.rfind("../", 0) != 0 && name.find("/../") == std::string::npos &&
           !name.ends_with("/..");
}

}  // namespace

std::shared_ptr<Bundle> Bundle::bundleWithPath(const std::string& path) {
    if (path.empty() || !isDirectory(path)) return nullptr;
    return std::make_shared<Bundle>(absolutePath(path));
}

std::shared_ptr<Bundle> Bundle::agentBundle() {
    // Parsed tables stay with the bundle, so repeated look-ups share one.
    static std::mutex lock;
    static std::map<std::string, std::shared_ptr<Bundle>> opened;
    for (const std::string& directory : resourceDirectories()) {
        const std::string path = absolutePath(directory + "/TrovarioAgent.bundle");
        if (!isDirectory(path)) continue;
        std::lock_guard<std::mutex> guard(lock);
        auto& bundle = opened[path];
        if (!bundle) bundle = std::make_shared<Bundle>(path);
        return bundle;
    }
    return nullptr;
}

std::vector<std::string> Bundle::resourceDirectories() {
    std::vector<std::string> candidates;
    if (std::string configured = envOrEmpty("TROVARIO_RESOURCE_DIR"); !configured.empty())
        candidates.push_back(configured);
    if (std::string share = installedShareDirectory(); !share.empty()) candidates.push_back(share + "/trovario");
    candidates.push_back(TROV_SOURCE_RESOURCE_DIR);
    std::vector<std::string> directories;
    for (const std::string& candidate : candidates) {
        if (!isDirectory(candidate)) continue;
        const std::string path = absolutePath(candidate);
        if (std::find(directories.begin(), directories.end(), path) == directories.end()) directories.push_back(path);
    }
    return directories;
}

std::vector<std::string> Bundle::preferredLanguages() {
    std::vector<std::string> languages;
    const std::string locale = messageLocale();
    // As in gettext, LANGUAGE counts only when a real locale is chosen.
    if (!isPosixLocale(locale)) {
        const std::string list = envOrEmpty("LANGUAGE");
        if (list.empty()) addLocale(languages, locale);
        size_t start = 0;
        while (!list.empty() && start <= list.size()) {
            size_t end = list.find(':', start);
            if (end == std::string::npos) end = list.size();
            addLocale(languages, list.substr(start, end - start));
            start = end + 1;
        }
    }
    addLanguage(languages, "en");
    return languages;
}

const Bundle::Table& Bundle::table(const std::string& language, const std::string& name) const {
    std::lock_guard<std::mutex> guard(mLock);
    const std::string cacheKey = language + "/" + name;
    auto it = mTables.find(cacheKey);
    if (it == mTables.end())
        it = mTables.emplace(cacheKey, StringsFile::read(mPath + "/" + language + ".lproj/" + name + ".strings")).first;
    return it->second;
}

std::string Bundle::localizedString(const std::string& key, const std::string& defaultText,
                                    const std::string& tableName) const {
    if (key.empty() || !isSafeResourceName(tableName) || tableName.find('/') != std::string::npos)
        return defaultText;
    for (const std::string& language : preferredLanguages()) {
        const Table& entries = table(language, tableName);
        if (auto it = entries.find(key); it != entries.end()) return it->second;
    }
    return defaultText;
}

std::string Bundle::pathForResource(const std::string& name, const std::string& extension) const {
    std::string file = name;
    if (!extension.empty()) file += (extension[0] == '.' ? "" : ".") + extension;
    if (!isSafeResourceName(file)) return {};
    if (isFile(mPath + "/" + file)) return mPath + "/" + file;
    for (const std::string& language : preferredLanguages()) {
        const std::string localized = mPath + "/" + language + ".lproj/" + file;
        if (isFile(localized)) return localized;
    }
    return {};
}

}  // namespace platform
