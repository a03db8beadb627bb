// Preloaded into an unchanged program: serves /dev/dvb/adapter9/{frontend0,
// demux0,dvr0} as a satellite adapter that locks 100 ms after a tuning to
// KEST_FAKEDVB_IF (kHz) and then delivers, as a demodulator does, a little
// stuffing and the transport stream of KEST_FAKEDVB_TS once. Every other path
// and descriptor goes to the C library. KEST_FAKEDVB_LOG names a file that
// gets one line per tuning ("tune IF SR").
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/dvb/dmx.h>
#include <linux/dvb/frontend.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

enum Kind : unsigned char { None, Frontend, Demux, Dvr };
constexpr int kMaxFd = 4096;
constexpr size_t kReadChunk = 64 * 1024;

std::mutex lock;
Kind kinds[kMaxFd];
std::FILE* stream;
bool streamEnded;
uint32_t tunedKhz;
uint32_t symbolRate;
std::chrono::steady_clock::time_point lockAt;
bool tuned;
bool stuffingSent;

template <class F>
F next(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

Kind kindOfPath(const char* path)
{
    if (path == nullptr)
        return None;
    if (std::strcmp(path, "/dev/dvb/adapter9/frontend0") == 0)
        return Frontend;
    if (std::strcmp(path, "/dev/dvb/adapter9/demux0") == 0)
        return Demux;
    if (std::strcmp(path, "/dev/dvb/adapter9/dvr0") == 0)
        return Dvr;
    return None;
}

Kind kindOf(int fd)
{
    std::lock_guard<std::mutex> guard(lock);
    return fd >= 0 && fd < kMaxFd ? kinds[fd] : None;
}

uint32_t expectedKhz()
{
    const char* text = std::getenv("KEST_FAKEDVB_IF");
    return text ? static_cast<uint32_t>(std::strtoul(text, nullptr, 10)) : 0;
}

bool lockedNow()
{
    return tuned && tunedKhz == expectedKhz() && std::chrono::steady_clock::now() >= lockAt;
}

int openFake(Kind kind, int flags)
{
    using Open = int (*)(const char*, int, ...);
    const int fd = next<Open>("open")("/dev/null", O_RDWR | (flags & O_CLOEXEC));
    if (fd < 0 || fd >= kMaxFd)
        return fd;
    std::lock_guard<std::mutex> guard(lock);
    kinds[fd] = kind;
    if (kind == Dvr && stream == nullptr)
        if (const char* path = std::getenv("KEST_FAKEDVB_TS"))
            stream = std::fopen(path, "rb");
    return fd;
}

void logLine(const char* text)
{
    if (const char* path = std::getenv("KEST_FAKEDVB_LOG"))
        if (std::FILE* log = std::fopen(path, "a")) {
            std::fputs(text, log);
            std::fclose(log);
        }
}

int frontendIoctl(unsigned long request, void* argument)
{
    std::lock_guard<std::mutex> guard(lock);
    switch (request) {
    case FE_GET_INFO: {
        auto* info = static_cast<dvb_frontend_info*>(argument);
        std::memset(info, 0, sizeof *info);
        std::strcpy(info->name, "Fake adapter 9");
        info->type = FE_QPSK;
        return 0;
    }
    case FE_SET_PROPERTY: {
        auto* properties = static_cast<dtv_properties*>(argument);
        for (uint32_t i = 0; i < properties->num; ++i) {
            const dtv_property& p = properties->props[i];
            if (p.cmd == DTV_FREQUENCY)
                tunedKhz = p.u.data;
            else if (p.cmd == DTV_SYMBOL_RATE)
                symbolRate = p.u.data;
            else if (p.cmd == DTV_TUNE) {
                tuned = true;
                stuffingSent = false;
                lockAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
                char line[64];
                std::snprintf(line, sizeof line, "tune %u %u\n", tunedKhz, symbolRate);
                logLine(line);
            }
        }
        return 0;
    }
    case FE_GET_PROPERTY: {
        auto* properties = static_cast<dtv_properties*>(argument);
        for (uint32_t i = 0; i < properties->num; ++i) {
            dtv_property& p = properties->props[i];
            if (p.cmd == DTV_ENUM_DELSYS) {
                p.u.buffer.len = 2;
                p.u.buffer.data[0] = SYS_DVBS;
                p.u.buffer.data[1] = SYS_DVBS2;
            } else {
                p.u.st.len = 0; // no DVBv5 statistics: the legacy reads
            }
        }
        return 0;
    }
    case FE_READ_STATUS:
        *static_cast<fe_status_t*>(argument) = lockedNow() ? static_cast<fe_status_t>(FE_HAS_SIGNAL | FE_HAS_CARRIER
                                                                                      | FE_HAS_SYNC | FE_HAS_LOCK)
                                                          : static_cast<fe_status_t>(0);
        return 0;
    case FE_READ_SIGNAL_STRENGTH:
    case FE_READ_SNR:
        *static_cast<uint16_t*>(argument) = lockedNow() ? 0xC000 : 0;
        return 0;
    case FE_SET_VOLTAGE:
    case FE_SET_TONE:
    case FE_DISEQC_SEND_MASTER_CMD:
        return 0;
    }
    errno = ENOTTY;
    return -1;
}

bool dvrReadable() { return lockedNow() && (!stuffingSent || (stream != nullptr && !streamEnded)); }

ssize_t dvrRead(void* buffer, size_t size)
{
    std::lock_guard<std::mutex> guard(lock);
    if (!dvrReadable()) {
        errno = EAGAIN;
        return -1;
    }
    auto* bytes = static_cast<unsigned char*>(buffer);
    if (!stuffingSent) {
        stuffingSent = true;
        const size_t n = std::min<size_t>(size / 188, 8) * 188;
        for (size_t at = 0; at < n; at += 188) {
            std::memset(bytes + at, 0xFF, 188);
            bytes[at] = 0x47;
            bytes[at + 1] = 0x1F;
            bytes[at + 2] = 0xFF;
            bytes[at + 3] = 0x10;
        }
        return static_cast<ssize_t>(n);
    }
    const size_t n = std::fread(buffer, 1, std::min(size, kReadChunk), stream);
    if (n == 0) {
        streamEnded = true;
        errno = EAGAIN;
        return -1;
    }
    return static_cast<ssize_t>(n);
}

// `args` holds the mode when the flags create a file.
int openAny(const char* name, const char* path, int flags, va_list args)
{
    if (const Kind kind = kindOfPath(path))
        return openFake(kind, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? static_cast<mode_t>(va_arg(args, int)) : 0;
    using Open = int (*)(const char*, int, ...);
    return next<Open>(name)(path, flags, mode);
}

} // namespace

extern "C" {

int open(const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const int fd = openAny("open", path, flags, args);
    va_end(args);
    return fd;
}

int open64(const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const int fd = openAny("open64", path, flags, args);
    va_end(args);
    return fd;
}

int __open_2(const char* path, int flags)
{
    if (const Kind kind = kindOfPath(path))
        return openFake(kind, flags);
    return next<int (*)(const char*, int)>("__open_2")(path, flags);
}

int access(const char* path, int mode) noexcept
{
    if (kindOfPath(path) != None)
        return 0;
    return next<int (*)(const char*, int)>("access")(path, mode);
}

int close(int fd)
{
    if (kindOf(fd) != None) {
        std::lock_guard<std::mutex> guard(lock);
        kinds[fd] = None;
    }
    return next<int (*)(int)>("close")(fd);
}

int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    switch (kindOf(fd)) {
    case Frontend:
        return frontendIoctl(request, argument);
    case Demux:
    case Dvr:
        return 0; // filters, buffer size, start and stop all succeed
    case None:
        break;
    }
    return next<int (*)(int, unsigned long, void*)>("ioctl")(fd, request, argument);
}

ssize_t read(int fd, void* buffer, size_t size)
{
    if (kindOf(fd) == Dvr)
        return dvrRead(buffer, size);
    return next<ssize_t (*)(int, void*, size_t)>("read")(fd, buffer, size);
}

// glibc marks the array write-only, yet poll reads the descriptors from it.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
int poll(struct pollfd* fds, nfds_t count, int timeoutMs)
{
    if (count != 1 || kindOf(fds[0].fd) == None)
        return next<int (*)(struct pollfd*, nfds_t, int)>("poll")(fds, count, timeoutMs);
    {
        std::lock_guard<std::mutex> guard(lock);
        if (kinds[fds[0].fd] != Dvr)
            return 0;
        if (dvrReadable()) {
            fds[0].revents = POLLIN;
            return 1;
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeoutMs < 0 ? 20 : timeoutMs, 20)));
    fds[0].revents = 0;
    return 0;
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

} // extern "C"
