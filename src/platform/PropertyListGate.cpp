// The one way in for property lists from outside this process: wire messages,
// preference files, archives. Everything is checked on the text, or on the
// tree without recursion, before the rest of the code (or libplist's
// recursive parts) touches it.

#include "platform/PropertyList.h"
#include "platform/RegularFile.h"

#include <plist/plist.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace platform {
namespace {

constexpr size_t kNotFound = std::string_view::npos;

// One past the end of the markup that starts at `at`, delimited exactly as
// libplist's parser delimits it (a comment or CDATA ends at the first
// terminator after its opening, a processing instruction may end in "<?>", a
// DOCTYPE's internal subset ends at "]>"), so that the parser sees no tag the
// count below does not; kNotFound when it is never closed.
size_t markupEnd(std::string_view xml, size_t at) {
    const auto past = [xml](size_t from, std::string_view terminator) {
        const size_t found = xml.find(terminator, from);
        return found == kNotFound ? kNotFound : found + terminator.size();
    };
    const std::string_view rest = xml.substr(at);
    if (rest.starts_with("<!--")) return past(at + 4, "-->");
    if (rest.starts_with("<![CDATA[")) return past(at + 9, "]]>");
    if (rest.starts_with("<?")) return past(at + 1, "?>");
    if (rest.starts_with("<!")) {
        const size_t mark = xml.find_first_of("[>", at);
        if (mark != kNotFound && xml[mark] == '[') return past(mark, "]>");
        return mark == kNotFound ? kNotFound : mark + 1;
    }
    const size_t end = xml.find_first_of("<>", at + 1);
    return end == kNotFound || xml[end] == '<' ? kNotFound : end + 1;
}

// Counts nesting on the text, since a tree too deep for libplist must never
// be built: its free would overflow the stack even on refusal.
Status checkNesting(std::string_view xml, size_t maxDepth) {
    size_t depth = 0;
    for (size_t at = xml.find('<'); at != kNotFound; at = xml.find('<', at)) {
        const size_t end = markupEnd(xml, at);
        if (end == kNotFound)
            return Status::failure("its markup at byte " + std::to_string(at) + " is never closed");
        const std::string_view tag = xml.substr(at + 1, end - at - 2);
        const bool empty = tag.ends_with('/');
        std::string_view name = tag.substr(0, tag.find_first_of(" \t\r\n"));
        if (empty && name.ends_with('/')) name.remove_suffix(1);
        if (name == "array" || name == "dict") {
            if (++depth > maxDepth)
                return Status::failure("it nests arrays and dictionaries deeper than " + std::to_string(maxDepth) +
                                       " levels");
            // An empty root stays open: libplist adds everything after it to it.
            if (empty && depth > 1) --depth;
        }
        if ((name == "/array" || name == "/dict") && depth > 0) --depth;
        at = end;
    }
    return Status::success();
}

Status checkText(std::string_view xml, const PropertyList::Limits& limits) {
    if (xml.empty()) return Status::failure("it is empty");
    if (xml.size() > std::min<size_t>(limits.maxBytes, UINT32_MAX)) 
        return Status::failure("it is larger than " + std::to_string(limits.maxBytes) + " bytes");
    if (const size_t nul = xml.find('\0'); nul != kNotFound)
        return Status::failure("it holds a NUL byte at byte " + std::to_string(nul));
    return checkNesting(xml, limits.maxDepth);
}

// A NUL can still come from a character reference in libplist versions that
// decode one; lengths are compared without plist_get_string_val, which asserts.
Status checkStrings(plist_t root) {
    std::vector<plist_t> pending{root};
    while (!pending.empty()) {
        plist_t node = pending.back();
        pending.pop_back();
        uint64_t length = 0;
        const char* text = plist_get_string_ptr(node, &length);
        if (text && std::memchr(text, '\0', length)) return Status::failure("a string in it holds a NUL character");
        if (plist_get_node_type(node) == PLIST_ARRAY) {
            for (uint32_t i = 0; i < plist_array_get_size(node); ++i) pending.push_back(plist_array_get_item(node, i));
        } else if (plist_get_node_type(node) == PLIST_DICT) {
            plist_dict_iter it = nullptr;
            plist_dict_new_iter(node, &it);
            for (plist_t value = nullptr; plist_dict_next_item(node, it, nullptr, &value), value;)
                pending.push_back(value);
            free(it);
        }
    }
    return Status::success();
}

}  // namespace

Result<PropertyList> PropertyList::fromXml(std::string_view xml, const Limits& limits) {
    if (Status text = checkText(xml, limits); !text) return text;
    plist_t root = nullptr;
    plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &root);
    if (!root) return Status::failure("it is not an XML property list");
    PropertyList list(root);
    if (Status strings = checkStrings(root); !strings) return strings;
    if (limits.dictionaryRoot && list.type() != Type::Dictionary)
        return Status::failure("its root is not a dictionary");
    return list;
}

Result<PropertyList> PropertyList::fromFile(const std::string& path, const Limits& limits) {
    Result<std::string> text = readRegularFile(path, limits.maxBytes);
    if (!text) return text.status();
    return fromXml(*text, limits);
}

}  // namespace platform
