// The metrics endpoint: loopback only unless asked, and no client can hold it up.
#include "metrics/http_server.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

ListenAddress loopbackAnyPort()
{
    ListenAddress address;
    EXPECT_TRUE(parseListenAddress("127.0.0.1:0", false, &address, nullptr));
    return address;
}

int connectTo(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Everything the server sends until it closes, waiting at most `timeoutMs`.
std::string readUntilClosed(int fd, int timeoutMs)
{
    std::string text;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            return text + "<timeout>";
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return text;
        text.append(buffer, static_cast<size_t>(n));
    }
}

std::string get(uint16_t port, const std::string& request = "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n")
{
    const int fd = connectTo(port);
    if (fd < 0)
        return "<no connection>";
    ::write(fd, request.data(), request.size());
    std::string answer = readUntilClosed(fd, 3000);
    ::close(fd);
    return answer;
}

TEST(MetricsAddress, OnlyLoopbackUnlessRemoteIsAsked)
{
    ListenAddress address;
    for (const char* loopback : {"127.0.0.1:9101", "127.5.0.1:0", "[::1]:9101", "localhost:65535"}) {
        EXPECT_TRUE(parseListenAddress(loopback, false, &address, nullptr)) << loopback;
        EXPECT_TRUE(address.loopback) << loopback;
    }
    std::string error;
    for (const char* remote : {"0.0.0.0:9101", "192.168.1.20:9101", "[::]:9101", "[::ffff:10.0.0.1]:9101"}) {
        EXPECT_FALSE(parseListenAddress(remote, false, &address, &error)) << remote;
        EXPECT_NE(error.find("KEST_METRICS_REMOTE=1"), std::string::npos) << error;
        EXPECT_TRUE(parseListenAddress(remote, true, &address, nullptr)) << remote;
        EXPECT_FALSE(address.loopback) << remote;
    }
    for (const char* bad : {"9101", "127.0.0.1", "127.0.0.1:", ":9101", "127.0.0.1:65536", "127.0.0.1:+80",
                            "::1:9101", "example.org:9101", "127.0.0.1:123456"})
        EXPECT_FALSE(parseListenAddress(bad, true, &address, &error)) << bad;
}

TEST(MetricsServer, ServesTheLastTextPublished)
{
    MetricsServer server;
    std::string error;
    ASSERT_TRUE(server.start(loopbackAnyPort(), &error)) << error;
    ASSERT_NE(server.port(), 0);
    server.publish("first 1\n");
    server.publish("second 2\n");
    const std::string answer = get(server.port());
    EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer;
    EXPECT_EQ(answer.substr(answer.size() - 9), "second 2\n") << answer;
    EXPECT_EQ(get(server.port(), "GET /other HTTP/1.1\r\n\r\n").rfind("HTTP/1.1 404 ", 0), 0u);

    // A client that closes its side once it has asked (nc -N) still gets the answer.
    const int fd = connectTo(server.port());
    const std::string request = "GET /metrics HTTP/1.0\r\n\r\n";
    ::write(fd, request.data(), request.size());
    ::shutdown(fd, SHUT_WR);
    EXPECT_NE(readUntilClosed(fd, 3000).find("second 2\n"), std::string::npos);
    ::close(fd);
}

// Clients that never finish their request, or never read, nor a flood of
// connections keep another client from its answer or the server from stopping.
TEST(MetricsServer, SlowAndHostileClientsHoldUpNeitherOthersNorTheStop)
{
    MetricsServer server;
    ASSERT_TRUE(server.start(loopbackAnyPort(), nullptr));
    server.publish(std::string(4 << 20, 'x')); // larger than any socket buffer
    std::vector<int> idle;
    for (int i = 0; i < 4; ++i)
        idle.push_back(connectTo(server.port()));
    const int dribbling = connectTo(server.port());
    ::write(dribbling, "GET /metr", 9);
    const int notReading = connectTo(server.port());
    const std::string request = "GET /metrics HTTP/1.1\r\n\r\n";
    ::write(notReading, request.data(), request.size());
    const int endless = connectTo(server.port());
    const std::string header = "GET /metrics HTTP/1.1\r\nX: " + std::string(20000, 'a');
    ::write(endless, header.data(), header.size());

    const auto start = std::chrono::steady_clock::now();
    server.publish("small 1\n");
    const std::string answer = get(server.port());
    EXPECT_EQ(answer.substr(answer.size() < 8 ? 0 : answer.size() - 8), "small 1\n") << answer.substr(0, 200);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(readUntilClosed(endless, 3000).rfind("HTTP/1.1 431 ", 0), 0u) << "an oversized head is refused";

    // Past the limit of connections, more are closed at once.
    std::vector<int> flood;
    for (int i = 0; i < MetricsServer::kMaxClients + 4; ++i)
        flood.push_back(connectTo(server.port()));
    EXPECT_NE(readUntilClosed(flood.back(), 3000), "<timeout>");

    const auto stopping = std::chrono::steady_clock::now();
    server.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::seconds(2));
    EXPECT_EQ(connectTo(server.port() == 0 ? 1 : server.port()), -1);
    for (int fd : idle)
        ::close(fd);
    for (int fd : flood)
        ::close(fd);
    for (int fd : {dribbling, notReading, endless})
        ::close(fd);
}

TEST(MetricsServer, AnAddressInUseIsReportedAtStart)
{
    MetricsServer first;
    ASSERT_TRUE(first.start(loopbackAnyPort(), nullptr));
    ListenAddress same;
    ASSERT_TRUE(parseListenAddress("127.0.0.1:" + std::to_string(first.port()), false, &same, nullptr));
    MetricsServer second;
    std::string error;
    EXPECT_FALSE(second.start(same, &error));
    EXPECT_NE(error.find("bind"), std::string::npos) << error;
}

} // namespace
