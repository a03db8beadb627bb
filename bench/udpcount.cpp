// udpcount: counts UDP datagrams arriving on a port until none came for a while.
//   udpcount PORT IDLE_MS
// Prints "datagrams: N" and "bytes: N". Used by the TAP throughput script.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: udpcount PORT IDLE_MS\n");
        return 2;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int buffer = 64 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("udpcount");
        return 1;
    }
    std::printf("listening\n");
    std::fflush(stdout);
    const int idle = std::atoi(argv[2]);
    unsigned long long datagrams = 0, bytes = 0;
    static char data[65536];
    pollfd p{fd, POLLIN, 0};
    // Wait as long as it takes for the first datagram, then stop after `idle` ms of silence.
    while (poll(&p, 1, datagrams == 0 ? 60000 : idle) > 0) {
        const ssize_t n = recv(fd, data, sizeof data, 0);
        if (n < 0)
            break;
        ++datagrams;
        bytes += static_cast<unsigned long long>(n);
    }
    std::printf("datagrams: %llu\nbytes: %llu\n", datagrams, bytes);
    return 0;
}
