#pragma once

#include <cstdint>

#include "frameworks/CoreAudioTypes.h"

// An object that hears every block the capture thread dequeues (the audio
// toolkit's device callback). Called on the capture thread, with the recorder
// as `device`, the captured block as input data and null for the rest.
class AudioIOSubscriber {
public:
    virtual ~AudioIOSubscriber() = default;
    virtual int32_t audioIOHandler(void* device, const void* inNow, const AudioBufferList* inInputData,
                                   const void* inInputTime, AudioBufferList* outOutputData,
                                   const void* inOutputTime, void* inClientData) = 0;
};
