#include "metrics/http_server.h"

#include "metrics/http_request.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace {

bool isLoopback(const sockaddr_storage& address)
{
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        return (ntohl(v4.sin_addr.s_addr) >> 24) == 127;
    }
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    if (IN6_IS_ADDR_LOOPBACK(&v6.sin6_addr))
        return true;
    return IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr) && v6.sin6_addr.s6_addr[12] == 127;
}

struct Client {
    int fd;
    std::string received;
    std::string answer;
    size_t sent = 0;
    bool answering = false;
    std::chrono::steady_clock::time_point deadline;
};

void closeClient(Client& client)
{
    ::close(client.fd);
    client.fd = -1;
}

// Reads what the client sent; prepares the answer once the head is complete
// (also when the client has closed its side after sending it).
void readFrom(Client& client, const std::string& metrics)
{
    char buffer[2048];
    bool ended = false;
    while (client.received.size() <= kMaxRequestHead) {
        const ssize_t n = ::recv(client.fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            client.received.append(buffer, std::min(static_cast<size_t>(n), kMaxRequestHead + 1 - client.received.size()));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        ended = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        break;
    }
    const HttpRequest request = parseHttpRequest(client.received);
    if (request.state == HttpRequest::State::Incomplete) {
        if (ended)
            closeClient(client); // gone before asking
        return;
    }
    client.answer = httpResponse(request, metrics);
    client.answering = true;
    client.received.clear();
}

void writeTo(Client& client)
{
    while (client.sent < client.answer.size()) {
        const ssize_t n = ::send(client.fd, client.answer.data() + client.sent, client.answer.size() - client.sent,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            client.sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        break;
    }
    ::shutdown(client.fd, SHUT_RDWR);
    closeClient(client);
}

} // namespace

bool parseListenAddress(const std::string& text, bool allowRemote, ListenAddress* address, std::string* error)
{
    const auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size())
        return fail("\"" + text + "\" is not HOST:PORT");
    std::string host = text.substr(0, colon);
    const std::string port = text.substr(colon + 1);
    if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos || std::stoul(port) > 65535)
        return fail("\"" + text + "\" has no port number from 0 to 65535");
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    else if (host.find(':') != std::string::npos)
        return fail("\"" + text + "\": an IPv6 address goes in brackets, as [::1]:PORT");
    if (host == "localhost")
        host = "127.0.0.1";
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || found == nullptr)
        return fail("\"" + text + "\" has no numeric address (or localhost)");
    ListenAddress parsed;
    std::memcpy(&parsed.address, found->ai_addr, found->ai_addrlen);
    parsed.length = found->ai_addrlen;
    ::freeaddrinfo(found);
    parsed.loopback = isLoopback(parsed.address);
    if (!parsed.loopback && !allowRemote)
        return fail("\"" + text + "\" is not a loopback address; set KEST_METRICS_REMOTE=1 to serve the metrics on it");
    *address = parsed;
    return true;
}

MetricsServer::MetricsServer() : text_(std::make_shared<const std::string>()) {}

MetricsServer::~MetricsServer() { stop(); }

bool MetricsServer::start(const ListenAddress& address, std::string* error)
{
    stop();
    const auto fail = [&](const char* what) {
        if (error)
            *error = std::string(what) + ": " + std::strerror(errno);
        if (listenFd_ >= 0)
            ::close(listenFd_);
        listenFd_ = -1;
        return false;
    };
    listenFd_ = ::socket(address.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0)
        return fail("socket");
    const int on = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address.address), address.length) != 0)
        return fail("bind");
    if (::listen(listenFd_, 16) != 0)
        return fail("listen");
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&bound), &length);
    port_ = ntohs(bound.ss_family == AF_INET ? reinterpret_cast<sockaddr_in&>(bound).sin_port
                                             : reinterpret_cast<sockaddr_in6&>(bound).sin6_port);
    if (::pipe2(wakeFds_, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail("pipe");
    thread_ = std::thread([this] { serve(); });
    return true;
}

void MetricsServer::publish(std::string text)
{
    auto shared = std::make_shared<const std::string>(std::move(text));
    std::lock_guard<std::mutex> lock(mutex_);
    text_.swap(shared);
}

std::shared_ptr<const std::string> MetricsServer::current()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
}

void MetricsServer::stop()
{
    if (thread_.joinable()) {
        const char byte = 1;
        while (::write(wakeFds_[1], &byte, 1) < 0 && errno == EINTR) {
        }
        thread_.join();
    }
    for (int* fd : {&listenFd_, &wakeFds_[0], &wakeFds_[1]}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    port_ = 0;
}

void MetricsServer::serve()
{
    using Clock = std::chrono::steady_clock;
    std::vector<Client> clients;
    std::vector<pollfd> fds;
    for (;;) {
        fds.clear();
        fds.push_back({wakeFds_[0], POLLIN, 0});
        fds.push_back({listenFd_, POLLIN, 0});
        for (const Client& client : clients)
            fds.push_back({client.fd, static_cast<short>(client.answering ? POLLOUT : POLLIN), 0});
        if (::poll(fds.data(), fds.size(), 500) < 0 && errno != EINTR)
            break;
        if (fds[0].revents != 0)
            break; // stop()
        const Clock::time_point now = Clock::now();
        for (size_t i = 0; i < clients.size(); ++i) {
            Client& client = clients[i];
            const short events = fds[i + 2].revents;
            if (events & (POLLERR | POLLNVAL))
                closeClient(client);
            else if (!client.answering && (events & (POLLIN | POLLHUP)))
                readFrom(client, *current());
            if (client.fd >= 0 && client.answering && (events & (POLLOUT | POLLHUP)))
                writeTo(client);
            if (client.fd >= 0 && now > client.deadline)
                closeClient(client);
        }
        for (size_t i = clients.size(); i-- > 0;)
            if (clients[i].fd < 0)
                clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
        if (fds[1].revents & POLLIN) {
            for (;;) {
                const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0)
                    break;
                if (static_cast<int>(clients.size()) >= kMaxClients) {
                    ::close(fd);
                    continue;
                }
                Client client;
                client.fd = fd;
                client.deadline = now + std::chrono::milliseconds(kClientTimeoutMs);
                clients.push_back(std::move(client));
            }
        }
    }
    for (Client& client : clients)
        closeClient(client);
}
