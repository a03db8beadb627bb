// libFuzzer target: the TAP backend's rewrite of a frame before it enters the network
// stack (a unicast frame for the station address gets the interface's own address).
//
// Input layout: bytes 0..5 the station address, 6..11 the interface's own address, the
// rest one frame as a FrameBatch slot holds it (14 to 1520 bytes; others are refused
// before the rewrite and are skipped here too).
#include "drivers/satnic/satnic_internal.h"

#include <sys/uio.h>

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace satnic::detail;
    if (size < 12)
        return 0;
    const Mac station = macFromBytes(data);
    uint8_t own[6];
    std::memcpy(own, data + 6, 6);
    // A copy of exactly the frame's size, so a read past its end is caught.
    const std::vector<uint8_t> frame(data + 12, data + size);
    if (frame.size() < kMinFrameLength || frame.size() > kMaxFrameLength)
        return 0;

    iovec iov[2];
    const int parts = interfaceFrame(FrameView{frame.data(), static_cast<uint32_t>(frame.size())}, station, own, iov);
    if (parts < 1 || parts > 2)
        std::abort();
    std::vector<uint8_t> written;
    for (int i = 0; i < parts; ++i)
        written.insert(written.end(), static_cast<const uint8_t*>(iov[i].iov_base),
                       static_cast<const uint8_t*>(iov[i].iov_base) + iov[i].iov_len);

    // Same length; only the destination may change, and only for unicast to the station.
    if (written.size() != frame.size() || std::memcmp(written.data() + 6, frame.data() + 6, frame.size() - 6) != 0)
        std::abort();
    const bool rewrite = (frame[0] & 0x01) == 0 && macFromBytes(frame.data()) == station;
    if (rewrite != takesInterfaceAddress(frame.data(), station))
        std::abort();
    if (std::memcmp(written.data(), rewrite ? own : frame.data(), 6) != 0)
        std::abort();
    return 0;
}
