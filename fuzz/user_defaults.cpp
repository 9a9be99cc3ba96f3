// A preference file of any content, as another process or the user may
// leave it: read through every typed lookup, then written over.

#include "fuzz/FuzzSupport.h"
#include "platform/UserDefaults.h"

namespace {

constexpr const char* kDomain = "org.trovario.Fuzz";
constexpr const char* kKeys[] = {"key", "SilenceThreshold", "Sensitivity", ""};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& directory = fuzz::scratchHome();
    platform::UserDefaults defaults(kDomain, directory);
    fuzz::writeFile(defaults.pathForDomain(kDomain), fuzz::bytesOf(data, size));
    for (const char* key : kKeys) {
        defaults.objectForKey(key);
        defaults.integerForKey(key);
        defaults.floatForKey(key);
        defaults.boolForKey(key);
        defaults.stringForKey(key);
    }
    // A write keeps every value it could read.
    const std::optional<platform::PropertyList> before = defaults.objectForKey("key");
    defaults.setObject("written", platform::PropertyList::integer(7));
    if (defaults.integerForKey("written") == 7 && defaults.objectForKey("key").has_value() != before.has_value())
        fuzz::violation("a write lost or invented a value");
    return 0;
}
