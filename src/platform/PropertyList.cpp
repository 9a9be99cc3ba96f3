#include "platform/PropertyList.h"

#include <plist/plist.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>

namespace platform {
namespace {

plist_t pl(void* n) { return static_cast<plist_t>(n); }

}  // namespace

PropertyList PropertyList::dictionary() { return PropertyList(plist_new_dict()); }
PropertyList PropertyList::array() { return PropertyList(plist_new_array()); }
PropertyList PropertyList::string(const std::string& value) { return PropertyList(plist_new_string(value.c_str())); }
PropertyList PropertyList::boolean(bool value) { return PropertyList(plist_new_bool(value ? 1 : 0)); }
// libplist keeps integers as 64-bit patterns and writes negative ones signed.
PropertyList PropertyList::integer(int64_t value) { return PropertyList(plist_new_uint(static_cast<uint64_t>(value))); }
PropertyList PropertyList::real(double value) { return PropertyList(plist_new_real(value)); }

PropertyList PropertyList::data(const std::vector<uint8_t>& bytes) {
    return PropertyList(plist_new_data(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::string PropertyList::toXml() const {
    char* text = nullptr;
    uint32_t length = 0;
    plist_to_xml(pl(mNode), &text, &length);
    std::string xml = text ? std::string(text, length) : std::string();
    plist_to_xml_free(text);
    return xml;
}

PropertyList::PropertyList(const PropertyList& other) : mNode(plist_copy(pl(other.mNode))) {}
PropertyList::PropertyList(PropertyList&& other) noexcept : mNode(std::exchange(other.mNode, nullptr)) {}

PropertyList& PropertyList::operator=(PropertyList other) noexcept {
    std::swap(mNode, other.mNode);
    return *this;
}

PropertyList::~PropertyList() {
    if (mNode) plist_free(pl(mNode));
}

PropertyList::Type PropertyList::type() const {
    switch (plist_get_node_type(pl(mNode))) {
        case PLIST_DICT: return Type::Dictionary;
        case PLIST_ARRAY: return Type::Array;
        case PLIST_STRING: return Type::String;
        case PLIST_BOOLEAN: return Type::Boolean;
        case PLIST_UINT: return Type::Integer;
        case PLIST_REAL: return Type::Real;
        case PLIST_DATA: return Type::Data;
        case PLIST_DATE: return Type::Date;
        default: return Type::Other;
    }
}

// By length, not through plist_get_string_val, which asserts when a string
// holds a NUL; fromXml refuses such strings and our own are built from C strings.
std::string PropertyList::asString() const {
    if (type() != Type::String) return {};
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(pl(mNode), &length);
    return text ? std::string(text, length) : std::string();
}

bool PropertyList::asBool() const {
    switch (type()) {
        case Type::Boolean: {
            uint8_t value = 0;
            plist_get_bool_val(pl(mNode), &value);
            return value != 0;
        }
        case Type::Integer: return asInteger() != 0;
        case Type::Real: return asReal() != 0.0;
        default: return false;
    }
}

int64_t PropertyList::asInteger() const {
    switch (type()) {
        case Type::Integer: {
            uint64_t value = 0;
            plist_get_uint_val(pl(mNode), &value);
            return static_cast<int64_t>(value);
        }
        case Type::Real: {
            // Saturated: a real beyond the integers (or NaN) has no integer of its own.
            const double real = asReal();
            if (std::isnan(real)) return 0;
            if (real >= 0x1p63) return std::numeric_limits<int64_t>::max();
            if (real < -0x1p63) return std::numeric_limits<int64_t>::min();
            return static_cast<int64_t>(real);
        }
        case Type::Boolean: return asBool() ? 1 : 0;
        default: return 0;
    }
}

double PropertyList::asReal() const {
    switch (type()) {
        case Type::Real: {
            double value = 0;
            plist_get_real_val(pl(mNode), &value);
            return value;
        }
        case Type::Integer: return static_cast<double>(asInteger());
        case Type::Boolean: return asBool() ? 1.0 : 0.0;
        default: return 0.0;
    }
}

std::vector<uint8_t> PropertyList::asData() const {
    if (type() != Type::Data) return {};
    char* bytes = nullptr;
    uint64_t length = 0;
    plist_get_data_val(pl(mNode), &bytes, &length);
    std::vector<uint8_t> value(bytes, bytes + length);
    free(bytes);
    return value;
}

void PropertyList::set(const std::string& key, PropertyList value) {
    plist_dict_set_item(pl(mNode), key.c_str(), pl(std::exchange(value.mNode, nullptr)));
}

std::optional<PropertyList> PropertyList::get(const std::string& key) const {
    if (type() != Type::Dictionary) return std::nullopt;
    plist_t item = plist_dict_get_item(pl(mNode), key.c_str());
    if (!item) return std::nullopt;
    return PropertyList(plist_copy(item));
}

bool PropertyList::contains(const std::string& key) const {
    return type() == Type::Dictionary && plist_dict_get_item(pl(mNode), key.c_str()) != nullptr;
}

void PropertyList::remove(const std::string& key) {
    if (contains(key)) plist_dict_remove_item(pl(mNode), key.c_str());
}

std::vector<std::string> PropertyList::keys() const {
    std::vector<std::string> result;
    if (type() != Type::Dictionary) return result;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(pl(mNode), &it);
    while (true) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(pl(mNode), it, &key, &value);
        if (!key) break;
        result.emplace_back(key);
        free(key);
    }
    free(it);
    return result;
}

size_t PropertyList::size() const {
    if (type() == Type::Array) return plist_array_get_size(pl(mNode));
    if (type() == Type::Dictionary) return plist_dict_get_size(pl(mNode));
    return 0;
}

PropertyList PropertyList::at(size_t index) const {
    return PropertyList(plist_copy(plist_array_get_item(pl(mNode), static_cast<uint32_t>(index))));
}

void PropertyList::append(PropertyList value) {
    plist_array_append_item(pl(mNode), pl(std::exchange(value.mNode, nullptr)));
}

bool PropertyList::operator==(const PropertyList& other) const { return toXml() == other.toXml(); }

}  // namespace platform
