#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

// A folder of resources: localized string tables in <lang>.lproj/<table>.strings
// and other files (PNG icons) at its top level or in a <lang>.lproj folder.
// Immutable apart from its table cache; thread-safe.
class Bundle {
public:
    // nullptr when `path` is not a directory.
    static std::shared_ptr<Bundle> bundleWithPath(const std::string& path);
    // The agent's own bundle "TrovarioAgent.bundle" in the first resource
    // directory that has it; nullptr when none has.
    static std::shared_ptr<Bundle> agentBundle();

    // Where bundles and default desktop entries are looked for, in order:
    // $TROVARIO_RESOURCE_DIR, <executable dir>/../share/trovario (an installed
    // tree), the source tree's resources/ folder. Only existing folders.
    static std::vector<std::string> resourceDirectories();
    // The preferred languages from LANGUAGE, LC_ALL, LC_MESSAGES, LANG, most
    // wanted first, each with its country-less fallback; always ends in "en".
    static std::vector<std::string> preferredLanguages();

    // The text for `key` from the first preferred language whose table has
    // it; `defaultText` when none has (or the key is empty).
    std::string localizedString(const std::string& key, const std::string& defaultText,
                                const std::string& table = "Localizable") const;
    // Absolute path of <name>.<extension> (top level first, then the
    // localized folders); "" when none exists. `extension` may be empty when
    // `name` carries it.
    std::string pathForResource(const std::string& name, const std::string& extension) const;

    explicit Bundle(std::string path) : mPath(std::move(path)) {}

private:
    using Table = std::map<std::string, std::string>;
    const Table& table(const std::string& language, const std::string& name) const;

    std::string mPath;
    mutable std::mutex mLock;
    mutable std::map<std::string, Table> mTables;  // by "<language>/<table>"
};

}  // namespace platform
