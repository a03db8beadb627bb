// The section buffer pool
#include "decoder/decoder.h"

#include <cstdlib>
#include <cstring>

int SectionBufferPool::allocBuffer(uint32_t capacity)
{
    for (int handle = 0; handle < kEntryCount; ++handle) {
        SectionBufferEntry& entry = entries[handle];
        if (entry.data != nullptr)
            continue;
        // At least one byte, so that a used entry never has a null pointer.
        auto* bytes = static_cast<uint8_t*>(std::malloc(capacity > 0 ? capacity : 1));
        if (bytes == nullptr)
            return -1;
        entry.data = bytes;
        entry.capacity = capacity;
        entry.length = 0;
        return handle;
    }
    return -1;
}

void SectionBufferPool::freeBuffer(int handle)
{
    if (!validHandle(handle) || entries[handle].data == nullptr)
        return;
    std::free(entries[handle].data);
    entries[handle] = SectionBufferEntry{nullptr, 0, 0};
}

bool SectionBufferPool::appendBuffer(int handle, const uint8_t* bytes, uint32_t count)
{
    if (!validHandle(handle))
        return false;
    SectionBufferEntry& entry = entries[handle];
    if (entry.data == nullptr || bytes == nullptr || count == 0)
        return false;
    // 64-bit sum: no wrap-around for any count.
    if (uint64_t(entry.length) + count >= entry.capacity)
        return false;
    std::memcpy(entry.data + entry.length, bytes, count);
    entry.length += count;
    return true;
}
