#pragma once

#include <cstdint>

// A growable byte buffer on the C heap: exactly mSize bytes, or null when empty.
// A failed reallocation writes "realloc failed\n" to standard error and keeps
// the old storage and size.
struct DCDynamicBuffer {
    explicit DCDynamicBuffer(uint32_t size = 0);
    ~DCDynamicBuffer();
    DCDynamicBuffer(const DCDynamicBuffer&) = delete;
    DCDynamicBuffer& operator=(const DCDynamicBuffer&) = delete;

    void Free();
    void* Resize(uint32_t size);
    // Appends `length` bytes; returns false when the buffer could not grow.
    bool CopyInto(const void* source, uint32_t length);
    // Removes the first `count` bytes (at most mSize).
    void RemoveFrom(uint32_t count);

    uint32_t mSize = 0;
    uint8_t* mData = nullptr;
};
