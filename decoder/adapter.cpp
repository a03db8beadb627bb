#include "decoder/adapter.h"

#include "platform/win32/device.h"

#include <cstdio>

namespace {

HANDLE tryOpen(const char* format, DWORD access)
{
    char name[64];
    std::snprintf(name, sizeof name, format, kAdapterNumber);
    return CreateFileA(name, access, kAdapterShareMode, nullptr, OPEN_EXISTING, kAdapterFlags, nullptr);
}

} // namespace

HANDLE openAdapter()
{
    HANDLE handle = tryOpen(kAdapterDeviceNameFormat, kAdapterAccess);
    if (handle == INVALID_HANDLE_VALUE)
        handle = tryOpen(kAdapterGlobalDeviceNameFormat, kAdapterGlobalAccess);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    return handle;
}

void closeAdapter(HANDLE handle)
{
    if (handle != nullptr)
        CloseHandle(handle);
}

bool sendFrames(HANDLE handle, const FrameBatch* batch, DWORD size)
{
    if (handle == nullptr)
        return false;
    DWORD returned = 0;
    return DeviceIoControl(handle, IOCTL_SEND_FRAMES, const_cast<FrameBatch*>(batch), size, nullptr, 0, &returned,
                           nullptr)
        != FALSE;
}

uint32_t readAdapterByteCount(HANDLE handle)
{
    if (handle == nullptr)
        return 0;
    uint32_t count = 0;
    DWORD returned = 0;
    if (!DeviceIoControl(handle, IOCTL_READ_BYTE_COUNT, nullptr, 0, &count, kByteCountSize, &returned, nullptr))
        return 0;
    return count;
}

uint64_t readAdapterLostFrames(HANDLE handle)
{
    if (handle == nullptr)
        return 0;
    uint64_t count = 0;
    DWORD returned = 0;
    if (!DeviceIoControl(handle, IOCTL_READ_LOST_FRAMES, nullptr, 0, &count, kLostFrameCountSize, &returned,
                         nullptr)
        || returned != kLostFrameCountSize)
        return 0;
    return count;
}

bool setAdapterAddress(HANDLE handle, uint8_t* address)
{
    DWORD returned = 0;
    return DeviceIoControl(handle, IOCTL_SET_STATION_ADDRESS, address, kStationAddressSize, address,
                           kStationAddressSize, &returned, nullptr)
        != FALSE;
}
