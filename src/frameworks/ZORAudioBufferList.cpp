#include "frameworks/ZORAudioBufferList.h"

#include <cstdlib>

namespace {
// The data follows the list record in the same block, so that a caller that
// points mData elsewhere cannot make destroyBuffers free the wrong memory.
constexpr size_t kHeaderSize = (sizeof(AudioBufferList) + 31) / 32 * 32;
}  // namespace

AudioBufferList* ZORAudioBufferList::allocateBuffers(uint32_t numberBuffers, uint32_t channelsPerBuffer,
                                                     uint32_t dataByteSize) {
    if (numberBuffers != 1) return nullptr;
    auto* block = static_cast<char*>(calloc(1, kHeaderSize + dataByteSize));
    if (!block) return nullptr;
    auto* list = reinterpret_cast<AudioBufferList*>(block);
    list->mNumberBuffers = 1;
    list->mBuffers[0] = AudioBuffer{channelsPerBuffer, dataByteSize, block + kHeaderSize};
    return list;
}

void ZORAudioBufferList::destroyBuffers(AudioBufferList* list) {
    free(list);
}
