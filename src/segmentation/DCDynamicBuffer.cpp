#include "segmentation/DCDynamicBuffer.h"

#include "platform/Log.h"

#include <cstdlib>
#include <cstring>

DCDynamicBuffer::DCDynamicBuffer(uint32_t size) { Resize(size); }

DCDynamicBuffer::~DCDynamicBuffer() { Free(); }

void DCDynamicBuffer::Free() {
    mSize = 0;
    free(mData);
    mData = nullptr;
}

void* DCDynamicBuffer::Resize(uint32_t size) {
    if (size == 0) {
        Free();
        return nullptr;
    }
    if (size == mSize) return mData;
    void* storage = realloc(mData, size);
    if (!storage) {
        // The old storage is still valid and still mSize bytes long.
        platform::Log::error("realloc failed\n");
        return mData;
    }
    mData = static_cast<uint8_t*>(storage);
    mSize = size;
    return mData;
}

bool DCDynamicBuffer::CopyInto(const void* source, uint32_t length) {
    if (length == 0) return true;
    uint32_t oldSize = mSize;
    if (length > UINT32_MAX - oldSize) return false;
    Resize(oldSize + length);
    if (mSize != oldSize + length) return false;
    memcpy(mData + oldSize, source, length);
    return true;
}

void DCDynamicBuffer::RemoveFrom(uint32_t count) {
    if (count >= mSize) {
        Free();
        return;
    }
    memmove(mData, mData + count, mSize - count);
    Resize(mSize - count);
}
