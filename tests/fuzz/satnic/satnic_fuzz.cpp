// libFuzzer target: arbitrary requests to the virtual adapter device, which
// parses every frame batch it is sent (counts, lengths, slots).
//
// Input layout:
//   byte 0      request: 0 send frames, 1 read byte count, 2 set station address,
//               3 an unknown control code
//   byte 1      output buffer size (0..255)
//   the rest    the input buffer, passed with its exact size
// The frames go to a pcap file on /dev/null, so that the writer sees them too.
#include "decoder/adapter_contract.h"
#include "drivers/satnic/satnic.h"
#include "platform/win32.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

HANDLE openDevice()
{
    std::string error;
    if (!satnic::install("pcap:/dev/null", &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::abort();
    }
    return CreateFileA("\\\\.\\SatNicDv-1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static HANDLE device = openDevice();
    if (size < 2)
        return 0;
    static const DWORD codes[] = {IOCTL_SEND_FRAMES, IOCTL_READ_BYTE_COUNT, IOCTL_SET_STATION_ADDRESS, 0x222000};
    const DWORD code = codes[data[0] & 3];
    std::vector<uint8_t> out(data[1]);
    // Copy so that an out-of-bounds read of the input is caught at its real end.
    std::vector<uint8_t> in(data + 2, data + size);
    DWORD returned = 0;
    DeviceIoControl(device, code, in.empty() ? nullptr : in.data(), static_cast<DWORD>(in.size()),
                    out.empty() ? nullptr : out.data(), static_cast<DWORD>(out.size()), &returned, nullptr);
    if (returned > out.size())
        std::abort();
    return 0;
}
