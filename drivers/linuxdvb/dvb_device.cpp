#include "drivers/linuxdvb/dvb_device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace linuxdvb {

namespace {

class SystemDevices : public DvbDevices {
public:
    int open(const std::string& path, int flags) override { return ::open(path.c_str(), flags | O_CLOEXEC); }
    int ioctl(int fd, unsigned long request, void* argument) override
    {
        int result;
        do
            result = ::ioctl(fd, request, argument);
        while (result < 0 && errno == EINTR);
        return result;
    }
    ssize_t read(int fd, void* buffer, size_t size) override
    {
        ssize_t result;
        do
            result = ::read(fd, buffer, size);
        while (result < 0 && errno == EINTR);
        return result;
    }
    int waitReadable(int fd, int timeoutMs) override
    {
        pollfd p{fd, POLLIN, 0};
        const int result = ::poll(&p, 1, timeoutMs);
        if (result > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(p.revents & POLLIN))
            return 1; // let the read report what happened
        return result;
    }
    int close(int fd) override { return ::close(fd); }
    bool exists(const std::string& path) override { return ::access(path.c_str(), F_OK) == 0; }
};

} // namespace

DvbDevices& systemDevices()
{
    static SystemDevices devices;
    return devices;
}

std::string devicePath(int adapter, const char* name, int index)
{
    return "/dev/dvb/adapter" + std::to_string(adapter) + "/" + name + std::to_string(index);
}

} // namespace linuxdvb
