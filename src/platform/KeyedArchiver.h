#pragma once

#include "platform/PropertyList.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace platform {

// What an archivable object is encoded into or decoded from. Only the keyed
// archiver and unarchiver below exist in this system; objects refuse any other
// coder with requireKeyedArchiver / requireKeyedUnarchiver.
class Coder {
public:
    virtual ~Coder() = default;
    virtual bool allowsKeyedCoding() const = 0;
};

class Archivable {
public:
    virtual ~Archivable() = default;
    // The class name stored with the object; the unarchiver maps it to a factory.
    virtual std::string archiveClassName() const = 0;
    virtual void encodeWithCoder(Coder& coder) const = 0;
};

class KeyedArchiver;
class KeyedUnarchiver;

// Raise NSInvalidArchiveOperationException "Only supports NSKeyedArchiver
// coders" for a coder of any other kind.
KeyedArchiver& requireKeyedArchiver(Coder& coder);
KeyedUnarchiver& requireKeyedUnarchiver(Coder& coder);

// What an archive read from outside may be: the archive of a long recording
// is large, but archives nest shallowly (objects refer to each other by uid).
inline constexpr PropertyList::Limits kKeyedArchiveLimits{256 * 1024 * 1024, 16, true};

// Writes an object graph as a property-list dictionary in the manner of a
// keyed archive: every object once in "$objects", referred to elsewhere by a
// {"CF$UID": n} dictionary, so shared references stay shared after decoding.
class KeyedArchiver final : public Coder {
public:
    static PropertyList archivedRootObject(const Archivable& root);

    bool allowsKeyedCoding() const override { return true; }

    void encodeInt32(const std::string& key, int32_t value);
    void encodeDouble(const std::string& key, double value);
    void encodeBool(const std::string& key, bool value);
    // A null string is left out of the archive and decodes as null.
    void encodeString(const std::string& key, const std::optional<std::string>& value);
    void encodeObject(const std::string& key, const Archivable* object);
    void encodeObjects(const std::string& key, const std::vector<const Archivable*>& objects);

private:
    KeyedArchiver() = default;
    PropertyList reference(const Archivable* object);

    std::vector<PropertyList> mObjects;
    std::map<const Archivable*, int64_t> mUids;
    PropertyList* mCurrent = nullptr;
};

// Reads what KeyedArchiver wrote. Only classes registered with setClass are
// decoded; anything malformed ends the decoding with a null result and a
// reason in error(), never with a crash or a half-built graph.
class KeyedUnarchiver final : public Coder {
public:
    using Factory = std::function<std::shared_ptr<Archivable>(KeyedUnarchiver&)>;

    explicit KeyedUnarchiver(PropertyList archive);

    void setClass(const std::string& className, Factory factory);
    std::shared_ptr<Archivable> decodeRootObject();
    const std::string& error() const { return mError; }

    bool allowsKeyedCoding() const override { return true; }

    // Scalars of the object being decoded; a missing key gives 0, false or null.
    int32_t decodeInt32(const std::string& key);
    double decodeDouble(const std::string& key);
    bool decodeBool(const std::string& key);
    std::optional<std::string> decodeString(const std::string& key);
    std::shared_ptr<Archivable> decodeObject(const std::string& key);
    std::vector<std::shared_ptr<Archivable>> decodeObjects(const std::string& key);

    // The object under key, which must be of class T (null only where allowed).
    template <class T>
    std::shared_ptr<T> decodeObjectOfClass(const std::string& key, bool allowNull = false) {
        std::shared_ptr<Archivable> object = decodeObject(key);
        if (!object && allowNull) return nullptr;
        auto typed = std::dynamic_pointer_cast<T>(object);
        if (!typed) fail("\"" + key + "\" does not hold an object of the expected class");
        return typed;
    }

    // Abandons the whole decoding with the reason given.
    [[noreturn]] void fail(const std::string& reason);

private:
    std::optional<PropertyList> value(const std::string& key, PropertyList::Type type);
    std::shared_ptr<Archivable> objectForReference(const PropertyList& reference);

    PropertyList mArchive;
    std::vector<PropertyList> mObjects;
    std::map<std::string, Factory> mFactories;
    std::map<int64_t, std::shared_ptr<Archivable>> mDecoded;
    std::set<int64_t> mInProgress;
    const PropertyList* mCurrent = nullptr;
    std::string mError;
};

}  // namespace platform
