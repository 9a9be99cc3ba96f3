#pragma once

#include "platform/PropertyList.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace platform {

// Preferences in XML property-list files, one per domain, at
// <directory>/<domain>.plist (the standard directory is
// $XDG_CONFIG_HOME/trovario, falling back to ~/.config/trovario).
// A read looks in the own domain, then in each suite in the order added, then
// in the registered defaults. Files changed by another process are re-read on
// the next lookup. Thread-safe.
class UserDefaults {
public:
    // Domain org.trovario.TrovarioAgent in the standard directory, resolved at
    // first use.
    static UserDefaults& standard();
    static std::string standardDirectory();

    UserDefaults(std::string domain, std::string directory);

    const std::string& directory() const { return mDirectory; }
    std::string pathForDomain(const std::string& domain) const;

    void addSuiteNamed(const std::string& domain);
    // Merges into the registration domain, which lives in memory only.
    void registerDefaults(const PropertyList& dictionary);

    std::optional<PropertyList> objectForKey(const std::string& key) const;
    // Typed reads convert as users of property lists expect: numbers and
    // numeric strings read as numbers, "YES"/"true"/non-zero as true, numbers
    // as strings; anything else (or no value) gives 0, false or "".
    int64_t integerForKey(const std::string& key) const;
    double floatForKey(const std::string& key) const;
    bool boolForKey(const std::string& key) const;
    std::string stringForKey(const std::string& key) const;

    // Stores into the own domain's file by writing a temporary file and
    // renaming it over the old one, so a failed write leaves the old file
    // whole. On failure logs what failed, keeps the old value and returns false.
    bool setObject(const std::string& key, const PropertyList& value);
    bool removeObjectForKey(const std::string& key);

private:
    struct FileStamp {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = -1;
        int64_t modifiedNs = 0;
        bool operator==(const FileStamp&) const = default;
    };
    struct Domain {
        std::string name;
        PropertyList values = PropertyList::dictionary();
        FileStamp stamp;
        bool loaded = false;
        bool unreadable = false;  // the file exists but holds no dictionary
    };

    void refresh(Domain& domain, bool force) const;
    bool writeOwnDomain(const PropertyList& values);
    std::optional<PropertyList> lookup(const std::string& key) const;

    std::string mDirectory;
    mutable std::mutex mLock;
    mutable Domain mOwn;
    mutable std::vector<Domain> mSuites;
    PropertyList mRegistered = PropertyList::dictionary();
};

}  // namespace platform
