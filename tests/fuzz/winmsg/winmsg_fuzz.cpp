// The packets a window's socket accepts from other processes: whatever decodes
// must encode back to the same bytes.
#include "platform/winmsg/wire.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace platform::winmsg;
    wire::Request request;
    if (wire::decodeRequest(data, size, request)) {
        const std::vector<uint8_t> again = wire::encodeRequest(request.title, request.msg, request.wParam,
                                                               request.lParam, request.data, request.dataSize);
        if (again.size() != size || std::memcmp(again.data(), data, size) != 0)
            std::abort();
    }
    LRESULT result;
    if (wire::decodeReply(data, size, result) && wire::encodeReply(result) != std::vector<uint8_t>(data, data + size))
        std::abort();
    return 0;
}
