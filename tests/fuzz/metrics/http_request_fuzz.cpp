// The metrics endpoint's request parser on any bytes a client sends, arriving
// in any pieces: never out of bounds, and a head once complete stays complete.
#include "metrics/http_request.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const HttpRequest whole = parseHttpRequest(text);
    const std::string answer = httpResponse(whole, "kestipdata_locked 1\n");
    if (answer.rfind("HTTP/1.1 ", 0) != 0)
        std::abort();
    // As the server sees it: the bytes received so far, piece by piece.
    for (size_t end = 0; end <= size; end += 1 + end / 3) {
        const HttpRequest part = parseHttpRequest(std::string_view(text).substr(0, end));
        if (part.state == HttpRequest::State::Complete && whole.state != HttpRequest::State::Complete)
            std::abort();
    }
    return 0;
}
