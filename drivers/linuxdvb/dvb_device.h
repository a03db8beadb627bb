// The system calls the Linux DVB driver makes, behind one seam so that tests
// can serve /dev/dvb/adapterN/* from memory.
#pragma once

#include <sys/types.h>

#include <string>

namespace linuxdvb {

class DvbDevices {
public:
    virtual ~DvbDevices() = default;
    // As open(2), ioctl(2), read(2), close(2): -1 with errno on failure.
    virtual int open(const std::string& path, int flags) = 0;
    virtual int ioctl(int fd, unsigned long request, void* argument) = 0;
    virtual ssize_t read(int fd, void* buffer, size_t size) = 0;
    // Waits up to timeoutMs for fd to become readable: 1 readable, 0 timeout, -1 error.
    virtual int waitReadable(int fd, int timeoutMs) = 0;
    virtual int close(int fd) = 0;
    // Whether a device node exists (for discovery).
    virtual bool exists(const std::string& path) = 0;
};

// The real devices.
DvbDevices& systemDevices();

// "/dev/dvb/adapterA/NAMEF".
std::string devicePath(int adapter, const char* name, int index);

} // namespace linuxdvb
