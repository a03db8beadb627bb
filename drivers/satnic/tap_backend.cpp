// "tap:IFNAME": the frames enter the network stack through an existing TAP interface.
#include "drivers/satnic/backend.h"

#include "platform/win32/debug.h"

#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <thread>

namespace satnic::detail {

namespace {

// How long one frame may wait for a momentarily full queue (EAGAIN/ENOBUFS) before it is
// dropped: a few polls of 1 ms. The kernel rarely refuses a TAP write this way (the stack
// drops over-full backlogs itself), so this bounds the rare case without blocking the
// streaming thread for long.
constexpr int kFullQueueRetries = 5;
constexpr int kFullQueuePollMs = 1;
// The reader thread refreshes the interface's own address this often, so that
// `ip link set IF address ...` while the receiver runs is followed.
constexpr int kAddressRefreshMs = 1000;
constexpr size_t kReadBufferSize = 65536 + 64;

std::string errnoText(int error)
{
    return std::strerror(error);
}

// Attaches a new descriptor of /dev/net/tun to the existing TAP interface `name`; -1 with
// *error set (an errno, ENODEV when there is no such interface).
int attach(const std::string& name, int* error)
{
    if (::if_nametoindex(name.c_str()) == 0) {
        *error = ENODEV;
        return -1;
    }
    const int fd = ::open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    ifreq ifr{};
    std::memcpy(ifr.ifr_name, name.c_str(), name.size());
    ifr.ifr_flags = IFF_TAP | IFF_NO_PI;
    if (::ioctl(fd, TUNSETIFF, &ifr) < 0) {
        *error = errno;
        ::close(fd);
        return -1;
    }
    return fd;
}

bool readAddress(int fd, Mac* own)
{
    ifreq hw{};
    if (::ioctl(fd, SIOCGIFHWADDR, &hw) < 0)
        return false;
    *own = macFromBytes(reinterpret_cast<const uint8_t*>(hw.ifr_hwaddr.sa_data));
    return true;
}

class TapBackend : public Backend {
public:
    // `fd` is attached to the interface, or (`attached` false) a descriptor of
    // /dev/net/tun not attached to any, which refuses every frame until the interface exists.
    TapBackend(std::string name, int fd, int stopFd, Mac own, bool attached)
        : name_(std::move(name)), fd_(fd), stopFd_(stopFd), own_(own), buffer_(new uint8_t[kReadBufferSize])
    {
        reader_ = std::thread([this, attached] { readLoop(attached); });
    }
    ~TapBackend() override { close(); }

    Result send(const ParsedBatch& batch, Mac station) override
    {
        Result result;
        uint8_t own[6];
        macToBytes(own_.load(std::memory_order_relaxed), own);
        for (uint32_t i = 0; i < batch.count; ++i) {
            const FrameView& frame = batch.frames[i];
            iovec iov[2];
            const int parts = interfaceFrame(frame, station, own, iov);
            const int error = writeFrame(iov, parts);
            if (error == 0) {
                result.bytesPassed += frame.length;
                ++result.framesPassed;
            } else {
                ++result.framesDropped;
                result.dropError = error;
            }
        }
        return result;
    }

    void close() override
    {
        if (closed_.exchange(true))
            return;
        const uint64_t one = 1;
        if (::write(stopFd_, &one, sizeof one) < 0) {
            // An eventfd write only fails on counter overflow; the reader also wakes on its timeout.
        }
        if (reader_.joinable())
            reader_.join();
        ::close(fd_);
        ::close(stopFd_);
        OutputDebugStringA(("SatNic: TAP interface " + name_ + " closed\n").c_str());
    }

    uint64_t kernelFramesDiscarded() const override { return discarded_.load(std::memory_order_relaxed); }

private:
    // One write per frame; a TAP write takes the whole frame or nothing. 0 when written,
    // else the errno that lost it.
    int writeFrame(const iovec* iov, int parts)
    {
        int fullRetries = 0;
        for (;;) {
            const ssize_t n = ::writev(fd_, iov, parts);
            if (n >= 0)
                return 0;
            const int error = errno;
            if (error == EINTR)
                continue;
            if ((error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS) && fullRetries < kFullQueueRetries) {
                ++fullRetries;
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, kFullQueuePollMs);
                continue;
            }
            // EIO while the interface is down, EBADFD once it was deleted, a full queue that
            // did not drain: this frame is lost, the next one is tried afresh.
            return error;
        }
    }

    // Reads and discards what the kernel transmits on the interface (IGMP and MLD reports,
    // neighbour solicitations, ARP, ...) so that nothing piles up in its queue. While the
    // interface is gone it looks for it once a period and attaches again when it is back.
    void readLoop(bool attached)
    {
        int lastAttachError = 0;
        for (;;) {
            pollfd p[2] = {{stopFd_, POLLIN, 0}, {fd_, POLLIN, 0}};
            const int ready = ::poll(p, attached ? 2 : 1, kAddressRefreshMs);
            if (ready < 0 && errno != EINTR)
                return;
            if (p[0].revents != 0)
                return;
            if (attached && (p[1].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                // Deleted under us: writes fail (and are counted lost) until it is back.
                attached = false;
                lastAttachError = 0;
                OutputDebugStringA(("SatNic: TAP interface " + name_
                                    + " went away; frames are lost until it exists again\n")
                                       .c_str());
            } else if (attached && (p[1].revents & POLLIN) != 0) {
                drain();
            }
            if (attached)
                refreshAddress();
            else
                attached = reattach(&lastAttachError);
        }
    }

    // Attaches a new descriptor and puts it in place of fd_ in one step (dup3), so that
    // the streaming thread's writes go to the old or the new interface, never to a
    // closed descriptor.
    bool reattach(int* lastError)
    {
        int error = 0;
        const int fd = attach(name_, &error);
        Mac own = 0;
        if (fd >= 0 && !readAddress(fd, &own))
            error = errno;
        if (fd < 0 || error != 0) {
            if (fd >= 0)
                ::close(fd);
            if (error != ENODEV && error != *lastError)
                OutputDebugStringA(("SatNic: TAP interface " + name_ + " exists again but cannot be opened: "
                                    + errnoText(error) + "\n")
                                       .c_str());
            *lastError = error;
            return false;
        }
        own_.store(own, std::memory_order_relaxed);
        const bool replaced = ::dup3(fd, fd_, O_CLOEXEC) >= 0;
        const int dupError = errno;
        ::close(fd);
        if (!replaced) {
            OutputDebugStringA(("SatNic: TAP interface " + name_ + " cannot be opened again: "
                                + errnoText(dupError) + "\n")
                                   .c_str());
            return false;
        }
        OutputDebugStringA(("SatNic: TAP interface " + name_ + " is back, opened again, address " + formatMac(own)
                            + "\n")
                               .c_str());
        return true;
    }

    void drain()
    {
        for (int i = 0; i < 256; ++i) {
            const ssize_t n = ::read(fd_, buffer_.get(), kReadBufferSize);
            if (n >= 0) {
                discarded_.fetch_add(1, std::memory_order_relaxed);
                continue;
            }
            if (errno == EINTR)
                continue;
            return; // EAGAIN: all read; anything else shows in the next poll
        }
    }

    void refreshAddress()
    {
        const auto now = std::chrono::steady_clock::now();
        if (now - lastRefresh_ < std::chrono::milliseconds(kAddressRefreshMs))
            return;
        lastRefresh_ = now;
        ifreq ifr{};
        if (::ioctl(fd_, SIOCGIFHWADDR, &ifr) == 0) {
            const Mac own = macFromBytes(reinterpret_cast<const uint8_t*>(ifr.ifr_hwaddr.sa_data));
            if (own_.exchange(own, std::memory_order_relaxed) != own)
                OutputDebugStringA(("SatNic: TAP interface " + name_ + " now has address " + formatMac(own) + "\n")
                                       .c_str());
        }
    }

    const std::string name_;
    const int fd_;
    const int stopFd_;
    std::atomic<Mac> own_;
    std::atomic<bool> closed_{false};
    std::atomic<uint64_t> discarded_{0};
    std::unique_ptr<uint8_t[]> buffer_; // the reader thread's
    std::chrono::steady_clock::time_point lastRefresh_ = std::chrono::steady_clock::now();
    std::thread reader_;
};

bool validInterfaceName(const std::string& name)
{
    if (name.empty() || name.size() >= IFNAMSIZ || name == "." || name == "..")
        return false;
    for (const char c : name)
        if (c == '/' || c == ':' || c <= ' ' || c == 0x7F)
            return false;
    return true;
}

} // namespace

bool tapBackendAvailable(const std::string& name, std::string* error)
{
    const std::string what = "TAP interface " + name + ": ";
    const char* problem = nullptr;
    if (!validInterfaceName(name) || ::if_nametoindex(name.c_str()) == 0)
        problem = "no such interface";
    else if (::access("/sys/class/net", F_OK) == 0
             && ::access(("/sys/class/net/" + name + "/tun_flags").c_str(), F_OK) != 0)
        problem = "not a TAP interface";
    if (problem != nullptr && error != nullptr)
        *error = what + problem;
    return problem == nullptr;
}

std::unique_ptr<Backend> openTapBackend(const std::string& name, const std::string& createHint,
                                        bool waitForInterface, std::string* error)
{
    const std::string what = "TAP interface " + name + ": ";
    auto fail = [&](const std::string& text) {
        if (error != nullptr)
            *error = what + text;
        return nullptr;
    };
    if (!validInterfaceName(name))
        return fail("not a valid interface name (1 to 15 characters, no '/', ':' or spaces)");
    // TUNSETIFF would create a transient interface of that name; this driver only attaches
    // to one that exists (install-satnic creates it, persistent and owned by the user).
    int attachError = 0;
    int fd = attach(name, &attachError);
    const bool missing = fd < 0 && attachError == ENODEV;
    if (missing && !waitForInterface)
        return fail("no such interface (create it with: " + createHint + ")");
    if (missing) {
        // Not attached to anything: every write fails until the reader attaches it.
        fd = ::open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return fail("cannot open /dev/net/tun: " + errnoText(errno));
    } else if (fd < 0) {
        if (attachError == EBUSY)
            return fail("in use by another program");
        if (attachError == EINVAL)
            return fail("not a TAP interface");
        if (attachError == EPERM || attachError == EACCES)
            return fail("permission denied (the interface must belong to this user: " + createHint + ")");
        return fail("cannot attach: " + errnoText(attachError));
    }
    Mac own = 0;
    if (!missing && !readAddress(fd, &own)) {
        const int e = errno;
        ::close(fd);
        return fail("cannot read its MAC address: " + errnoText(e));
    }
    const int stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd < 0) {
        const int e = errno;
        ::close(fd);
        return fail("cannot create an event: " + errnoText(e));
    }
    if (missing) {
        if (error != nullptr)
            *error = what + "no such interface yet; frames go to it once it exists (create it with: " + createHint
                + ")";
        OutputDebugStringA(("SatNic: TAP interface " + name + " does not exist; waiting for it\n").c_str());
    } else {
        OutputDebugStringA(("SatNic: TAP interface " + name + " opened, address " + formatMac(own) + "\n").c_str());
    }
    return std::make_unique<TapBackend>(name, fd, stopFd, own, !missing);
}

} // namespace satnic::detail
