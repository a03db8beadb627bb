// The adapter device of the benchmarks: accepts every batch and counts the
// bytes of its frames.
#pragma once

#include "decoder/adapter.h"
#include "platform/win32.h"

#include <memory>

class CountingFile : public platform::DeviceFile {
public:
    bool control(DWORD code, const void* in, DWORD, void*, DWORD, DWORD* returned, DWORD*) override
    {
        *returned = 0;
        if (code == IOCTL_SEND_FRAMES)
            bytes += static_cast<const FrameBatch*>(in)->frameLengths[0];
        return true;
    }
    static inline uint64_t bytes = 0;
};

class CountingDriver : public platform::DeviceDriver {
public:
    std::unique_ptr<platform::DeviceFile> open(DWORD, DWORD*) override { return std::make_unique<CountingFile>(); }
};
