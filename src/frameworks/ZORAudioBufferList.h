#pragma once

#include <cstdint>
#include <memory>

#include "frameworks/CoreAudioTypes.h"

// Allocation of buffer lists. The agent always asks for one buffer; the list
// record holds exactly one, so any other count gives nullptr.
class ZORAudioBufferList {
public:
    // One buffer of `channelsPerBuffer` interleaved channels with `dataByteSize`
    // zeroed bytes; nullptr when the count is not 1 or memory is short.
    static AudioBufferList* allocateBuffers(uint32_t numberBuffers, uint32_t channelsPerBuffer,
                                            uint32_t dataByteSize);
    // Frees a list from `allocateBuffers` and its data; nullptr is ignored.
    static void destroyBuffers(AudioBufferList* list);

    // A list from `allocateBuffers` that frees itself.
    struct Deleter {
        void operator()(AudioBufferList* list) const { destroyBuffers(list); }
    };
    using Owned = std::unique_ptr<AudioBufferList, Deleter>;
};
