#include "frameworks/identification/Fingerprinter.h"

#include <chromaprint.h>

#include <algorithm>
#include <memory>

namespace {

struct ContextDeleter {
    void operator()(ChromaprintContext* context) const { chromaprint_free(context); }
};

}  // namespace

std::vector<uint32_t> Fingerprinter::fingerprint(const int16_t* samples, size_t count) {
    std::unique_ptr<ChromaprintContext, ContextDeleter> context(chromaprint_new(CHROMAPRINT_ALGORITHM_DEFAULT));
    if (!context || !chromaprint_start(context.get(), kSampleRate, 1)) return {};
    // chromaprint_feed takes an int count; long inputs go in slices.
    constexpr size_t kSlice = size_t(1) << 24;
    for (size_t done = 0; done < count; done += kSlice) {
        size_t slice = std::min(kSlice, count - done);
        if (!chromaprint_feed(context.get(), samples + done, int(slice))) return {};
    }
    if (!chromaprint_finish(context.get())) return {};
    uint32_t* items = nullptr;
    int size = 0;
    if (!chromaprint_get_raw_fingerprint(context.get(), &items, &size) || !items) return {};
    std::vector<uint32_t> result(items, items + size);
    chromaprint_dealloc(items);
    return result;
}
