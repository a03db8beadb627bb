// The adapter of the encapsulation fuzz targets: checks each batch it is sent
// and reads every frame byte, so that the sanitizers see the frame read.
#pragma once

#include "decoder/adapter.h"
#include "decoder/decoder.h"
#include "platform/win32.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace fuzzsink {

inline void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

class SinkFile : public platform::DeviceFile {
public:
    bool control(DWORD code, const void* in, DWORD inSize, void*, DWORD, DWORD* returned, DWORD* error) override
    {
        *returned = 0;
        if (code != IOCTL_SEND_FRAMES) {
            *error = ERROR_NOT_SUPPORTED;
            return false;
        }
        check(in != nullptr && inSize == sizeof(FrameBatch), "batch size");
        const auto* batch = static_cast<const FrameBatch*>(in);
        check(batch->frameCount == 1, "one frame per request");
        check(batch->frameLengths[0] >= kEthernetHeaderSize && batch->frameLengths[0] <= kFrameSlotSize,
              "frame length within the slot");
        volatile uint32_t sum = 0;
        for (uint32_t i = 0; i < batch->frameLengths[0]; ++i)
            sum = sum + batch->frames[0][i];
        return true;
    }
};

class SinkDriver : public platform::DeviceDriver {
public:
    std::unique_ptr<platform::DeviceFile> open(DWORD, DWORD*) override { return std::make_unique<SinkFile>(); }
};

// Tables, slots and an adapter once per process; counters and slots reset per input.
inline void setUp(bool filter)
{
    static bool ready = false;
    if (!ready) {
        platform::registerDevice(kAdapterDeviceName, std::make_shared<SinkDriver>());
        allocatePidTables();
        g_decoder.adapterHandle = openAdapter();
        ready = true;
    }
    clearSlots();
    resetErrorCounters();
    static const uint8_t station[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    std::memcpy(g_decoder.macFilter, station, 6);
    if (!filter)
        std::memset(g_decoder.macFilter, 0, 6);
}

// Every specific counter adds to the total.
inline void checkCounters()
{
    const DecoderState& s = g_decoder;
    const uint64_t sum = s.rxContinuityErrors + s.rxMemErrors + s.rxScrambledErrors + s.rxPointerErrors
                         + s.rxLengthErrors + s.rxCrcErrors + s.rxDropped + s.rxBbFrameErrors + s.rxGseErrors
                         + s.rxUleErrors;
    check(sum == s.rxErrors, "rxErrors is the sum of the specific counters");
}

} // namespace fuzzsink
