// A Localizable.strings table of any content in a bundle's language folder,
// read through the bundle's lookup.

#include <sys/stat.h>

#include "fuzz/FuzzSupport.h"
#include "platform/Bundle.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("LANGUAGE", "en", 1);
    mkdir((fuzz::scratchHome() + "/Fuzz.bundle").c_str(), 0700);
    mkdir((fuzz::scratchHome() + "/Fuzz.bundle/en.lproj").c_str(), 0700);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::scratchHome() + "/Fuzz.bundle";
    fuzz::writeFile(path + "/en.lproj/Localizable.strings", fuzz::bytesOf(data, size));
    auto bundle = platform::Bundle::bundleWithPath(path);
    if (!bundle) fuzz::violation("the bundle folder reads as a bundle");
    for (const char* key : {"Start Capture", "key", "a", ""}) bundle->localizedString(key, "default");
    return 0;
}
