#include "metrics/http_request.h"

namespace {

bool tokenChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
        || std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool visible(char c) { return c > 0x20 && c < 0x7F; }

// The end of the head: the index past its empty line, 0 when there is none yet.
size_t headEnd(std::string_view text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n')
            continue;
        if (i + 1 < text.size() && text[i + 1] == '\n')
            return i + 2;
        if (i + 2 < text.size() && text[i + 1] == '\r' && text[i + 2] == '\n')
            return i + 3;
    }
    return 0;
}

std::string_view nextLine(std::string_view& text)
{
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

bool parseRequestLine(std::string_view line, HttpRequest& request)
{
    const size_t first = line.find(' ');
    if (first == 0 || first == std::string_view::npos)
        return false;
    const size_t second = line.find(' ', first + 1);
    if (second == std::string_view::npos)
        return false;
    const std::string_view method = line.substr(0, first);
    const std::string_view target = line.substr(first + 1, second - first - 1);
    const std::string_view version = line.substr(second + 1);
    for (char c : method)
        if (!tokenChar(c))
            return false;
    if (target.empty() || target[0] != '/')
        return false;
    for (char c : target)
        if (!visible(c))
            return false;
    if (version != "HTTP/1.1" && version != "HTTP/1.0")
        return false;
    request.method.assign(method);
    request.path.assign(target.substr(0, target.find('?')));
    return true;
}

bool validHeader(std::string_view line)
{
    const size_t colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos)
        return false;
    for (char c : line.substr(0, colon))
        if (!tokenChar(c))
            return false;
    for (char c : line.substr(colon + 1))
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F)
            return false;
    return true;
}

std::string response(const char* status, const std::string& type, const std::string& body, bool withBody,
                     const char* extra = "")
{
    std::string text = std::string("HTTP/1.1 ") + status + "\r\nContent-Type: " + type
        + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra + "Connection: close\r\n\r\n";
    if (withBody)
        text += body;
    return text;
}

} // namespace

HttpRequest parseHttpRequest(std::string_view received)
{
    HttpRequest request;
    const size_t end = headEnd(received.substr(0, kMaxRequestHead));
    if (end == 0) {
        request.state = received.size() >= kMaxRequestHead ? HttpRequest::State::TooLarge
                                                            : HttpRequest::State::Incomplete;
        return request;
    }
    std::string_view head = received.substr(0, end);
    // Empty lines before the request line are allowed (RFC 9112, 2.2).
    std::string_view line;
    while (!head.empty() && (line = nextLine(head)).empty()) {
    }
    request.state = HttpRequest::State::Bad;
    if (line.empty() || !parseRequestLine(line, request))
        return request;
    while (!head.empty()) {
        line = nextLine(head);
        if (line.empty())
            break;
        if (!validHeader(line))
            return request;
    }
    request.state = HttpRequest::State::Complete;
    return request;
}

std::string httpResponse(const HttpRequest& request, const std::string& metrics)
{
    const std::string plain = "text/plain; charset=utf-8";
    switch (request.state) {
    case HttpRequest::State::Complete: break;
    case HttpRequest::State::TooLarge:
        return response("431 Request Header Fields Too Large", plain, "request head too large\n", true);
    default: return response("400 Bad Request", plain, "bad request\n", true);
    }
    const bool head = request.method == "HEAD";
    if (request.method != "GET" && !head)
        return response("405 Method Not Allowed", plain, "only GET and HEAD\n", true, "Allow: GET, HEAD\r\n");
    if (request.path != "/metrics")
        return response("404 Not Found", plain, "the metrics are at /metrics\n", !head);
    return response("200 OK", "text/plain; version=0.0.4; charset=utf-8", metrics, !head);
}
