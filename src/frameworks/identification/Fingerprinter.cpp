#include "frameworks/identification/Fingerprinter.h"

#include "platform/Log.h"

#include <chromaprint.h>
#include <dlfcn.h>

#include <algorithm>
#include <memory>

namespace {

// Debian's Chromaprint computes its FFT with libavcodec, which brings every
// codec library with it (linked, the idle agent's resident memory was 22 MB
// instead of 12): the library is loaded at the first fingerprint instead.
struct Chromaprint {
    decltype(&chromaprint_new) mNew;
    decltype(&chromaprint_free) mFree;
    decltype(&chromaprint_start) mStart;
    decltype(&chromaprint_feed) mFeed;
    decltype(&chromaprint_finish) mFinish;
    decltype(&chromaprint_get_raw_fingerprint) mGetRawFingerprint;
    decltype(&chromaprint_dealloc) mDealloc;
};

template <typename Function>
bool bind(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

// Nothing (said once in the log) when the library cannot be loaded.
const Chromaprint* chromaprint() {
    static const Chromaprint* loaded = []() -> const Chromaprint* {
        static Chromaprint table;
        void* library = dlopen("libchromaprint.so.1", RTLD_NOW | RTLD_LOCAL);
        if (library && bind(library, "chromaprint_new", table.mNew) && bind(library, "chromaprint_free", table.mFree) &&
            bind(library, "chromaprint_start", table.mStart) && bind(library, "chromaprint_feed", table.mFeed) &&
            bind(library, "chromaprint_finish", table.mFinish) &&
            bind(library, "chromaprint_get_raw_fingerprint", table.mGetRawFingerprint) &&
            bind(library, "chromaprint_dealloc", table.mDealloc))
            return &table;
        platform::Log::error("no track can be identified: Chromaprint (libchromaprint.so.1) cannot be loaded: %s; "
                             "install the package libchromaprint1", dlerror());
        return nullptr;
    }();
    return loaded;
}

}  // namespace

std::vector<uint32_t> Fingerprinter::fingerprint(const int16_t* samples, size_t count) {
    const Chromaprint* library = chromaprint();
    if (!library) return {};
    const auto release = [library](ChromaprintContext* context) { library->mFree(context); };
    std::unique_ptr<ChromaprintContext, decltype(release)> context(library->mNew(CHROMAPRINT_ALGORITHM_DEFAULT),
                                                                    release);
    if (!context || !library->mStart(context.get(), kSampleRate, 1)) return {};
    // chromaprint_feed takes an int count; long inputs go in slices.
    constexpr size_t kSlice = size_t(1) << 24;
    for (size_t done = 0; done < count; done += kSlice) {
        size_t slice = std::min(kSlice, count - done);
        if (!library->mFeed(context.get(), samples + done, int(slice))) return {};
    }
    if (!library->mFinish(context.get())) return {};
    uint32_t* items = nullptr;
    int size = 0;
    if (!library->mGetRawFingerprint(context.get(), &items, &size) || !items) return {};
    std::vector<uint32_t> result(items, items + size);
    library->mDealloc(items);
    return result;
}
