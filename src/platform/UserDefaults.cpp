#include "platform/UserDefaults.h"

#include "platform/AtomicFile.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/ServiceNames.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

namespace platform {
namespace {

bool isValidDomain(const std::string& domain) {
    return !domain.empty() && domain[0] != '.' && domain.find('/') == std::string::npos;
}

// A few dozen keys fill some kilobytes. libplist parses a dictionary in
// quadratic time, so the cap also bounds the start-up delay (0.1 s at worst).
constexpr PropertyList::Limits kPreferencesLimits{1024 * 1024, 32, true};

// NSString-style: white space skipped, then Y, y, T, t or a digit 1-9 (after
// an optional sign and leading zeros) means true.
bool stringIsTrue(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    while (i < text.size() && text[i] == '0') ++i;
    if (i >= text.size()) return false;
    const char c = text[i];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

std::string realToString(double value) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

}  // namespace

UserDefaults& UserDefaults::standard() {
    static UserDefaults* defaults = new UserDefaults(kAgentServiceName, standardDirectory());
    return *defaults;
}

std::string UserDefaults::standardDirectory() { return userConfigDirectory() + "/trovario"; }

UserDefaults::UserDefaults(std::string domain, std::string directory) : mDirectory(std::move(directory)) {
    mOwn.name = std::move(domain);
}

std::string UserDefaults::pathForDomain(const std::string& domain) const {
    return mDirectory + "/" + domain + ".plist";
}

void UserDefaults::addSuiteNamed(const std::string& domain) {
    if (!isValidDomain(domain)) {
        Log::warning("ignored preference domain \"%s\": not a valid domain name", domain.c_str());
        return;
    }
    std::lock_guard<std::mutex> guard(mLock);
    if (domain == mOwn.name) return;
    for (const Domain& suite : mSuites)
        if (suite.name == domain) return;
    Domain suite;
    suite.name = domain;
    mSuites.push_back(std::move(suite));
}

void UserDefaults::registerDefaults(const PropertyList& dictionary) {
    std::lock_guard<std::mutex> guard(mLock);
    for (const std::string& key : dictionary.keys()) mRegistered.set(key, *dictionary.get(key));
}

void UserDefaults::refresh(Domain& domain, bool force) const {
    const std::string path = pathForDomain(domain.name);
    FileStamp stamp;
    struct stat info {};
    if (stat(path.c_str(), &info) == 0)
        stamp = {info.st_dev, info.st_ino, info.st_size, int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
    if (!force && domain.loaded && stamp == domain.stamp) return;
    domain.loaded = true;
    domain.stamp = stamp;
    domain.values = PropertyList::dictionary();
    domain.unreadable = false;
    if (stamp.size < 0) return;
    Result<PropertyList> values = PropertyList::fromFile(path, kPreferencesLimits);
    if (values) {
        domain.values = std::move(*values);
        return;
    }
    domain.unreadable = true;
    Log::warning("preferences file %s is not a property-list dictionary that can be read: %s; its values are ignored",
                 path.c_str(), values.message().c_str());
}

std::optional<PropertyList> UserDefaults::lookup(const std::string& key) const {
    refresh(mOwn, false);
    if (auto value = mOwn.values.get(key)) return value;
    for (Domain& suite : mSuites) {
        refresh(suite, false);
        if (auto value = suite.values.get(key)) return value;
    }
    return mRegistered.get(key);
}

std::optional<PropertyList> UserDefaults::objectForKey(const std::string& key) const {
    std::lock_guard<std::mutex> guard(mLock);
    return lookup(key);
}

int64_t UserDefaults::integerForKey(const std::string& key) const {
    auto value = objectForKey(key);
    if (!value) return 0;
    if (value->type() == PropertyList::Type::String) return std::strtoll(value->asString().c_str(), nullptr, 10);
    return value->asInteger();
}

double UserDefaults::floatForKey(const std::string& key) const {
    auto value = objectForKey(key);
    if (!value) return 0.0;
    if (value->type() == PropertyList::Type::String) return std::strtod(value->asString().c_str(), nullptr);
    return value->asReal();
}

bool UserDefaults::boolForKey(const std::string& key) const {
    auto value = objectForKey(key);
    if (!value) return false;
    if (value->type() == PropertyList::Type::String) return stringIsTrue(value->asString());
    return value->asBool();
}

std::string UserDefaults::stringForKey(const std::string& key) const {
    auto value = objectForKey(key);
    if (!value) return {};
    switch (value->type()) {
        case PropertyList::Type::String: return value->asString();
        case PropertyList::Type::Integer: return std::to_string(value->asInteger());
        case PropertyList::Type::Real: return realToString(value->asReal());
        case PropertyList::Type::Boolean: return value->asBool() ? "1" : "0";
        default: return {};
    }
}

bool UserDefaults::setObject(const std::string& key, const PropertyList& value) {
    std::lock_guard<std::mutex> guard(mLock);
    refresh(mOwn, false);
    PropertyList values = mOwn.values;
    values.set(key, value);
    return writeOwnDomain(values);
}

bool UserDefaults::removeObjectForKey(const std::string& key) {
    std::lock_guard<std::mutex> guard(mLock);
    refresh(mOwn, false);
    if (!mOwn.values.contains(key)) return true;
    PropertyList values = mOwn.values;
    values.remove(key);
    return writeOwnDomain(values);
}

bool UserDefaults::writeOwnDomain(const PropertyList& values) {
    const std::string path = pathForDomain(mOwn.name);
    if (!isValidDomain(mOwn.name) || !createDirectories(mDirectory)) {
        Log::error("could not write preferences file %s: cannot create folder %s", path.c_str(), mDirectory.c_str());
        return false;
    }
    // A file we could not read may be a hand edit with a typo: keep it aside
    // rather than overwrite the user's text.
    if (mOwn.unreadable && rename(path.c_str(), (path + ".unreadable").c_str()) == 0)
        Log::warning("preferences file %s could not be read; kept it as %s.unreadable", path.c_str(), path.c_str());
    if (Status written = writeFileAtomically(path, values.toXml(), 0600); !written) {
        Log::error("could not write preferences file %s: %s", path.c_str(), written.message().c_str());
        return false;
    }
    refresh(mOwn, true);
    return true;
}

}  // namespace platform
