#include "platform/KeyedArchiver.h"

#include "platform/NamedException.h"

#include <stdexcept>
#include <utility>

namespace platform {
namespace {

const char* const UidKey = "CF$UID";
const char* const ClassKey = "$class";
const char* const ObjectsKey = "$objects";
const char* const TopKey = "$top";
constexpr int64_t ArchiveVersion = 100000;
// Far deeper than any segment tree nests; guards the stack against hostile input.
constexpr size_t MaxNesting = 256;

struct DecodeFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void raiseNotKeyed() {
    throw NamedException("NSInvalidArchiveOperationException", "Only supports NSKeyedArchiver coders");
}

PropertyList uidReference(int64_t uid) {
    PropertyList reference = PropertyList::dictionary();
    reference.set(UidKey, PropertyList::integer(uid));
    return reference;
}

}  // namespace

KeyedArchiver& requireKeyedArchiver(Coder& coder) {
    auto* archiver = coder.allowsKeyedCoding() ? dynamic_cast<KeyedArchiver*>(&coder) : nullptr;
    if (!archiver) raiseNotKeyed();
    return *archiver;
}

KeyedUnarchiver& requireKeyedUnarchiver(Coder& coder) {
    auto* unarchiver = coder.allowsKeyedCoding() ? dynamic_cast<KeyedUnarchiver*>(&coder) : nullptr;
    if (!unarchiver) raiseNotKeyed();
    return *unarchiver;
}

PropertyList KeyedArchiver::archivedRootObject(const Archivable& root) {
    KeyedArchiver archiver;
    archiver.mObjects.push_back(PropertyList::string("$null"));
    PropertyList top = PropertyList::dictionary();
    top.set("root", archiver.reference(&root));

    PropertyList objects = PropertyList::array();
    for (auto& object : archiver.mObjects) objects.append(std::move(object));
    PropertyList archive = PropertyList::dictionary();
    archive.set("$archiver", PropertyList::string("KeyedArchiver"));
    archive.set("$version", PropertyList::integer(ArchiveVersion));
    archive.set(TopKey, std::move(top));
    archive.set(ObjectsKey, std::move(objects));
    return archive;
}

PropertyList KeyedArchiver::reference(const Archivable* object) {
    if (!object) return uidReference(0);
    if (auto known = mUids.find(object); known != mUids.end()) return uidReference(known->second);

    // The slot is taken before encoding so that the object's own references
    // come after it and a second reference to it finds the same uid.
    int64_t uid = static_cast<int64_t>(mObjects.size());
    mUids.emplace(object, uid);
    mObjects.push_back(PropertyList::dictionary());

    PropertyList fields = PropertyList::dictionary();
    fields.set(ClassKey, PropertyList::string(object->archiveClassName()));
    PropertyList* outer = std::exchange(mCurrent, &fields);
    object->encodeWithCoder(*this);
    mCurrent = outer;
    mObjects[static_cast<size_t>(uid)] = std::move(fields);
    return uidReference(uid);
}

void KeyedArchiver::encodeInt32(const std::string& key, int32_t value) { mCurrent->set(key, PropertyList::integer(value)); }
void KeyedArchiver::encodeDouble(const std::string& key, double value) { mCurrent->set(key, PropertyList::real(value)); }
void KeyedArchiver::encodeBool(const std::string& key, bool value) { mCurrent->set(key, PropertyList::boolean(value)); }

void KeyedArchiver::encodeString(const std::string& key, const std::optional<std::string>& value) {
    if (value) mCurrent->set(key, PropertyList::string(*value));
}

void KeyedArchiver::encodeObject(const std::string& key, const Archivable* object) {
    PropertyList ref = reference(object);
    mCurrent->set(key, std::move(ref));
}

void KeyedArchiver::encodeObjects(const std::string& key, const std::vector<const Archivable*>& objects) {
    PropertyList references = PropertyList::array();
    for (const Archivable* object : objects) references.append(reference(object));
    mCurrent->set(key, std::move(references));
}

KeyedUnarchiver::KeyedUnarchiver(PropertyList archive) : mArchive(std::move(archive)) {}

void KeyedUnarchiver::setClass(const std::string& className, Factory factory) {
    mFactories[className] = std::move(factory);
}

std::shared_ptr<Archivable> KeyedUnarchiver::decodeRootObject() {
    mDecoded.clear();
    mInProgress.clear();
    mObjects.clear();
    mError.clear();
    try {
        std::optional<PropertyList> objects = mArchive.get(ObjectsKey);
        std::optional<PropertyList> top = mArchive.get(TopKey);
        if (!objects || objects->type() != PropertyList::Type::Array || !top)
            fail("not a keyed archive (no \"$objects\" array or \"$top\")");
        for (size_t i = 0; i < objects->size(); ++i) mObjects.push_back(objects->at(i));
        std::optional<PropertyList> root = top->get("root");
        if (!root) fail("the archive has no root object");
        std::shared_ptr<Archivable> object = objectForReference(*root);
        if (!object) fail("the archive's root object is null");
        return object;
    } catch (const DecodeFailure& failure) {
        mError = failure.what();
    } catch (const NamedException& exception) {
        mError = exception.reason();
    }
    mDecoded.clear();
    return nullptr;
}

void KeyedUnarchiver::fail(const std::string& reason) { throw DecodeFailure(reason); }

std::shared_ptr<Archivable> KeyedUnarchiver::objectForReference(const PropertyList& reference) {
    std::optional<PropertyList> uidValue = reference.get(UidKey);
    if (!uidValue || uidValue->type() != PropertyList::Type::Integer) fail("an object reference has no \"CF$UID\"");
    int64_t uid = uidValue->asInteger();
    if (uid == 0) return nullptr;
    if (uid < 0 || static_cast<size_t>(uid) >= mObjects.size())
        fail("object reference " + std::to_string(uid) + " is outside \"$objects\"");
    if (auto decoded = mDecoded.find(uid); decoded != mDecoded.end()) return decoded->second;
    if (mInProgress.count(uid)) fail("object " + std::to_string(uid) + " contains itself");
    if (mInProgress.size() >= MaxNesting) fail("the archive nests objects too deeply");

    const PropertyList& fields = mObjects[static_cast<size_t>(uid)];
    std::optional<PropertyList> className = fields.get(ClassKey);
    if (!className || className->type() != PropertyList::Type::String)
        fail("object " + std::to_string(uid) + " has no class name");
    auto factory = mFactories.find(className->asString());
    if (factory == mFactories.end()) fail("class \"" + className->asString() + "\" is not expected in this archive");

    mInProgress.insert(uid);
    const PropertyList* outer = std::exchange(mCurrent, &fields);
    std::shared_ptr<Archivable> object = factory->second(*this);
    mCurrent = outer;
    mInProgress.erase(uid);
    if (!object) fail("object " + std::to_string(uid) + " of class \"" + className->asString() + "\" did not decode");
    mDecoded.emplace(uid, object);
    return object;
}

std::optional<PropertyList> KeyedUnarchiver::value(const std::string& key, PropertyList::Type type) {
    std::optional<PropertyList> found = mCurrent->get(key);
    if (!found) return std::nullopt;
    bool matches = found->type() == type || (type == PropertyList::Type::Real && found->isNumber());
    if (!matches) fail("\"" + key + "\" has the wrong kind of value");
    return found;
}

int32_t KeyedUnarchiver::decodeInt32(const std::string& key) {
    std::optional<PropertyList> found = value(key, PropertyList::Type::Integer);
    if (!found) return 0;
    int64_t number = found->asInteger();
    if (number < INT32_MIN || number > INT32_MAX) fail("\"" + key + "\" is out of range for a 32-bit integer");
    return static_cast<int32_t>(number);
}

double KeyedUnarchiver::decodeDouble(const std::string& key) {
    std::optional<PropertyList> found = value(key, PropertyList::Type::Real);
    return found ? found->asReal() : 0.0;
}

bool KeyedUnarchiver::decodeBool(const std::string& key) {
    std::optional<PropertyList> found = value(key, PropertyList::Type::Boolean);
    return found && found->asBool();
}

std::optional<std::string> KeyedUnarchiver::decodeString(const std::string& key) {
    std::optional<PropertyList> found = value(key, PropertyList::Type::String);
    if (!found) return std::nullopt;
    return found->asString();
}

std::shared_ptr<Archivable> KeyedUnarchiver::decodeObject(const std::string& key) {
    std::optional<PropertyList> reference = value(key, PropertyList::Type::Dictionary);
    return reference ? objectForReference(*reference) : nullptr;
}

std::vector<std::shared_ptr<Archivable>> KeyedUnarchiver::decodeObjects(const std::string& key) {
    std::vector<std::shared_ptr<Archivable>> objects;
    std::optional<PropertyList> references = value(key, PropertyList::Type::Array);
    if (!references) return objects;
    for (size_t i = 0; i < references->size(); ++i) objects.push_back(objectForReference(references->at(i)));
    return objects;
}

}  // namespace platform
