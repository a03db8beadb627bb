// The little HTTP/1.x the metrics endpoint speaks: the head of a request as it
// arrives from a client (any bytes), and the one response to it. The connection
// closes after every response.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

constexpr size_t kMaxRequestHead = 8192;

struct HttpRequest {
    enum class State { Incomplete, Complete, Bad, TooLarge };
    State state = State::Incomplete;
    std::string method;
    std::string path; // the target without its query
};

// What the bytes received so far make: a complete head (up to the empty line),
// not yet one, a malformed one, or one longer than kMaxRequestHead.
HttpRequest parseHttpRequest(std::string_view received);

// GET or HEAD of /metrics: 200 with `metrics`; another path 404, another method
// 405, a malformed head 400, an oversized one 431.
std::string httpResponse(const HttpRequest& request, const std::string& metrics);
