#pragma once

#include "platform/Result.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// An owned property-list value (libplist node) with value semantics: copies are
// deep, children are handed out as copies. Dictionaries keep insertion order.
class PropertyList {
public:
    enum class Type { Dictionary, Array, String, Boolean, Integer, Real, Data, Date, Other };

    static PropertyList dictionary();
    static PropertyList array();
    static PropertyList string(const std::string& value);
    static PropertyList boolean(bool value);
    static PropertyList integer(int64_t value);
    static PropertyList real(double value);
    static PropertyList data(const std::vector<uint8_t>& bytes);

    // What a property list from outside this process may be. libplist's copy,
    // free and writer recurse without bound and its string reader asserts on an
    // embedded NUL, so text beyond these is refused before a tree is built.
    struct Limits {
        size_t maxBytes;
        size_t maxDepth;  // nested arrays and dictionaries, the root counting one
        bool dictionaryRoot;
    };

    // Parses an XML property list within `limits`; a failure says what was
    // refused and why. No value it returns holds a string with a NUL in it.
    static Result<PropertyList> fromXml(std::string_view xml, const Limits& limits);
    // The same for the file at `path`, which must be (or link to) a regular
    // file: a FIFO or device is refused without waiting on it, and no more
    // than `maxBytes` + 1 bytes are read.
    static Result<PropertyList> fromFile(const std::string& path, const Limits& limits);
    // Serialises as an XML property list (version 1.0, UTF-8).
    std::string toXml() const;

    PropertyList(const PropertyList& other);
    PropertyList(PropertyList&& other) noexcept;
    PropertyList& operator=(PropertyList other) noexcept;
    ~PropertyList();

    Type type() const;
    bool isNumber() const { return type() == Type::Integer || type() == Type::Real; }

    // Scalars. A number reads as either kind; a Boolean reads as 0 or 1.
    std::string asString() const;
    bool asBool() const;
    int64_t asInteger() const;
    double asReal() const;
    std::vector<uint8_t> asData() const;

    // Dictionary access; `set` replaces an earlier value under the key.
    void set(const std::string& key, PropertyList value);
    std::optional<PropertyList> get(const std::string& key) const;
    bool contains(const std::string& key) const;
    void remove(const std::string& key);
    std::vector<std::string> keys() const;

    // Array access.
    size_t size() const;
    PropertyList at(size_t index) const;
    void append(PropertyList value);

    bool operator==(const PropertyList& other) const;

    // For code that must hand the node to libplist directly.
    void* node() const { return mNode; }
    static PropertyList adopt(void* node) { return PropertyList(node); }

private:
    explicit PropertyList(void* node) : mNode(node) {}
    void* mNode;
};

}  // namespace platform
