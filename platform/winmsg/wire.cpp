#include "platform/winmsg/wire.h"

#include <cstring>

namespace platform::winmsg::wire {

namespace {

template <typename T>
void put(std::vector<uint8_t>& out, size_t offset, T value)
{
    std::memcpy(out.data() + offset, &value, sizeof value);
}

template <typename T>
T get(const uint8_t* in, size_t offset)
{
    T value;
    std::memcpy(&value, in + offset, sizeof value);
    return value;
}

} // namespace

// Layout: magic u32, msg u32, title length u32, payload length u32, wParam u64,
// lParam i64, reserved u64 (zero), title bytes, payload bytes.
std::vector<uint8_t> encodeRequest(const std::string& title, UINT msg, WPARAM wParam, LPARAM lParam,
                                   const void* data, DWORD dataSize)
{
    if (title.size() > kMaxTitle || dataSize > kMaxCopyData || (dataSize != 0 && data == nullptr))
        return {};
    std::vector<uint8_t> out(kRequestHeader + title.size() + dataSize, 0);
    put<uint32_t>(out, 0, kRequestMagic);
    put<uint32_t>(out, 4, msg);
    put<uint32_t>(out, 8, static_cast<uint32_t>(title.size()));
    put<uint32_t>(out, 12, dataSize);
    put<uint64_t>(out, 16, wParam);
    put<int64_t>(out, 24, lParam);
    std::memcpy(out.data() + kRequestHeader, title.data(), title.size());
    if (dataSize != 0)
        std::memcpy(out.data() + kRequestHeader + title.size(), data, dataSize);
    return out;
}

bool decodeRequest(const uint8_t* packet, size_t size, Request& out)
{
    if (packet == nullptr || size < kRequestHeader || size > kMaxRequest)
        return false;
    if (get<uint32_t>(packet, 0) != kRequestMagic || get<uint64_t>(packet, 32) != 0)
        return false;
    const uint32_t titleSize = get<uint32_t>(packet, 8);
    const uint32_t dataSize = get<uint32_t>(packet, 12);
    if (titleSize > kMaxTitle || dataSize > kMaxCopyData)
        return false;
    if (size != kRequestHeader + titleSize + dataSize)
        return false;
    out.msg = get<uint32_t>(packet, 4);
    // Only WM_COPYDATA has a payload; other messages carry values alone.
    if (dataSize != 0 && out.msg != WM_COPYDATA)
        return false;
    out.wParam = static_cast<WPARAM>(get<uint64_t>(packet, 16));
    out.lParam = static_cast<LPARAM>(get<int64_t>(packet, 24));
    out.title.assign(reinterpret_cast<const char*>(packet + kRequestHeader), titleSize);
    out.data = dataSize != 0 ? packet + kRequestHeader + titleSize : nullptr;
    out.dataSize = dataSize;
    return true;
}

std::vector<uint8_t> encodeReply(LRESULT result)
{
    std::vector<uint8_t> out(kReplySize, 0);
    put<uint32_t>(out, 0, kReplyMagic);
    put<int64_t>(out, 8, result);
    return out;
}

bool decodeReply(const uint8_t* packet, size_t size, LRESULT& out)
{
    if (packet == nullptr || size != kReplySize || get<uint32_t>(packet, 0) != kReplyMagic
        || get<uint32_t>(packet, 4) != 0)
        return false;
    out = static_cast<LRESULT>(get<int64_t>(packet, 8));
    return true;
}

} // namespace platform::winmsg::wire
