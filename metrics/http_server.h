// The metrics over HTTP: a thread of its own serves the last text published,
// so that no client, slow or hostile, ever holds up the thread that publishes.
// At most kMaxClients connections at once (more are closed at once), each
// given kClientTimeoutMs to send its request and take the answer.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

struct ListenAddress {
    sockaddr_storage address{};
    socklen_t length = 0;
    bool loopback = false;
};

// "127.0.0.1:9101", "[::1]:9101", "localhost:9101" (port 0: any free one). An
// address that is not a loopback one is refused unless `allowRemote`.
bool parseListenAddress(const std::string& text, bool allowRemote, ListenAddress* address, std::string* error);

class MetricsServer {
public:
    static constexpr int kMaxClients = 16;
    static constexpr int kClientTimeoutMs = 5000;

    MetricsServer();
    ~MetricsServer();
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    // Binds and listens here (errors come back at once), then serves on its thread.
    bool start(const ListenAddress& address, std::string* error);
    // The port listened on (0 before start).
    uint16_t port() const { return port_; }
    // The text served from now on; any thread.
    void publish(std::string text);
    // Ends the thread and closes every connection; also done by the destructor.
    void stop();

private:
    void serve();
    std::shared_ptr<const std::string> current();

    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    uint16_t port_ = 0;
    std::thread thread_;
    std::mutex mutex_; // guards text_: held for a pointer copy only
    std::shared_ptr<const std::string> text_;
};
