// Preloaded into an unchanged program: serves /dev/dvb/adapter9/{frontend0,
// demux0,dvr0} as a satellite adapter whose frontend is the demodulator model
// (demod_model.h), locking 100 ms after a tuning that matches a transponder.
// Locked to the first transponder, the dvr delivers, as a demodulator does, a
// little stuffing and then the transport stream of KEST_FAKEDVB_TS once (in
// baseband-frame mode: stuffing and KEST_FAKEDVB_BBFRAMES).
// Every other path and descriptor goes to the C library.
//
// KEST_FAKEDVB_TRANSPONDERS  PORT:POL:MHZ:KSPS:SYSTEM:MODULATION[:isiN][:goldN][,...], e.g.
//                            "3:H:11778:27500:S2:8PSK" (SYSTEM S or S2; H or V); isiN makes
//                            the entry input stream N of a multistream carrier, goldN
//                            scrambles it with PLS gold code N
// KEST_FAKEDVB_CARRYING      the transponder whose lock delivers the stream (default 0)
// KEST_FAKEDVB_BBFRAMES      what the dvr delivers instead in baseband-frame mode (bit 31 of
//                            DTV_STREAM_ID), once: a pseudo transport stream of baseband
//                            frames (PID 0x010E or 0x0118); on a multistream carrier once per
//                            stream delivered, each frame header carrying that stream's ISI
// KEST_FAKEDVB_LNB           universal (default) or cband
// KEST_FAKEDVB_VARIANT       qamauto: the demodulator reports FE_CAN_QAM_AUTO;
//                            nomultistream: it lacks FE_CAN_MULTISTREAM and ignores DTV_STREAM_ID;
//                            plsinstreamid: an older kernel, PLS read from DTV_STREAM_ID
// KEST_FAKEDVB_LOG           a file that gets a line per tuning ("tune S2 8PSK
//                            if=... sr=..."), per ignored DiSEqC message
//                            ("violation: ...") and per lock ("locked N").
#include "tests/drivers/linuxdvb/demod_model.h"

#include "drivers/tsgen/bbframe.h"
#include "drivers/tsgen/bbframe_ts.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/dvb/dmx.h>
#include <linux/dvb/frontend.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

enum Kind : unsigned char { None, Frontend, Demux, Dvr };
constexpr int kMaxFd = 4096;
constexpr size_t kReadChunk = 64 * 1024;

std::mutex lock;
Kind kinds[kMaxFd];
std::FILE* stream;
bool streamEnded;
bool stuffingSent;
size_t tuningsLogged;
size_t violationsLogged;
int lockLogged = -1;
std::vector<unsigned char> baseband;
size_t basebandSent;
bool basebandStarted;

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

// One "PORT:POL:MHZ:KSPS:SYSTEM:MODULATION" entry; false when malformed.
bool parseTransponder(const std::string& text, demodmodel::Transponder* t)
{
    char pol = 0;
    char system[8] = {}, modulation[8] = {};
    unsigned mhz = 0, rate = 0;
    int port = 0;
    char extra[2][16] = {};
    if (std::sscanf(text.c_str(), "%d:%c:%u:%u:%7[^:]:%7[^:]:%15[^:]:%15s", &port, &pol, &mhz, &rate, system,
                    modulation, extra[0], extra[1])
        < 6)
        return false;
    for (const char* option : extra) {
        if (std::strncmp(option, "isi", 3) == 0)
            t->isi = std::atoi(option + 3);
        else if (std::strncmp(option, "gold", 4) == 0)
            t->plsGold = static_cast<uint32_t>(std::strtoul(option + 4, nullptr, 10));
    }
    t->port = port;
    t->horizontal = pol == 'H' || pol == 'h';
    t->frequencyMhz = mhz;
    t->symbolRateKsps = rate;
    t->system = std::strcmp(system, "S2") == 0 ? SYS_DVBS2 : SYS_DVBS;
    for (uint32_t m : {QPSK, PSK_8, APSK_16, APSK_32})
        if (demodmodel::modulationName(m) == modulation)
            t->modulation = m;
    return true;
}

demodmodel::DemodModel& model()
{
    static demodmodel::DemodModel m = [] {
        demodmodel::DemodModel made;
        made.lockDelayUs = 100000;
        const char* table = std::getenv("KEST_FAKEDVB_TRANSPONDERS");
        std::string entries = table != nullptr ? table : "0:H:12562:24000:S:QPSK";
        size_t start = 0;
        while (start <= entries.size()) {
            const size_t comma = entries.find(',', start);
            demodmodel::Transponder t;
            if (parseTransponder(entries.substr(start, comma - start), &t))
                made.transponders.push_back(t);
            if (comma == std::string::npos)
                break;
            start = comma + 1;
        }
        if (const char* lnb = std::getenv("KEST_FAKEDVB_LNB"))
            made.lnb = std::strcmp(lnb, "cband") == 0 ? demodmodel::Lnb::CBand : demodmodel::Lnb::Universal;
        const char* variant = std::getenv("KEST_FAKEDVB_VARIANT");
        const std::string options = variant != nullptr ? variant : "";
        made.variant.qamAuto = options.find("qamauto") != std::string::npos;
        made.variant.multistream = options.find("nomultistream") == std::string::npos;
        made.variant.plsInStreamId = options.find("plsinstreamid") != std::string::npos;
        return made;
    }();
    return m;
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

void logLine(const std::string& text)
{
    if (const char* path = std::getenv("KEST_FAKEDVB_LOG"))
        if (std::FILE* log = std::fopen(path, "a")) {
            std::fputs((text + "\n").c_str(), log);
            std::fclose(log);
        }
}

// What the model saw since the last look, to the log.
void logNews()
{
    demodmodel::DemodModel& m = model();
    for (; tuningsLogged < m.tunings.size(); ++tuningsLogged) {
        logLine("tune " + m.tunings[tuningsLogged]);
        stuffingSent = false;
        lockLogged = -1;
    }
    for (; violationsLogged < m.violations.size(); ++violationsLogged)
        logLine("violation: " + m.violations[violationsLogged]);
    const int locked = m.lockedTransponder();
    if (locked >= 0 && locked != lockLogged)
        logLine("locked " + std::to_string(locked));
    lockLogged = locked;
}

int frontendIoctl(unsigned long request, void* argument)
{
    std::lock_guard<std::mutex> guard(lock);
    const int result = model().ioctl(request, argument);
    const int error = errno;
    logNews();
    errno = error;
    return result;
}

int carryingTransponder()
{
    static const int carrying = [] {
        const char* index = std::getenv("KEST_FAKEDVB_CARRYING");
        return index != nullptr ? std::atoi(index) : 0;
    }();
    return carrying;
}

// A pseudo transport stream packet that opens a baseband frame gets input stream `isi` in
// its header (MATYPE-2, and MIS in MATYPE-1); a header CRC-8 that was wrong stays wrong.
void stampInputStream(unsigned char* packet, int isi)
{
    const unsigned pid = (packet[1] & 0x1Fu) << 8 | packet[2];
    if (packet[0] != 0x47 || (packet[1] & 0x40) == 0 || (pid != tsgen::kBbFramePid && pid != tsgen::kBbFramePidOther)
        || packet[5] != 0x80 || packet[8] != 0xB8)
        return;
    unsigned char* header = packet + 9;
    const bool intact = tsgen::crc8Dvb(header, 9) == header[9];
    header[0] &= static_cast<unsigned char>(~tsgen::kMatypeSingleStream);
    header[1] = static_cast<unsigned char>(isi);
    header[9] = static_cast<unsigned char>(tsgen::crc8Dvb(header, 9) ^ (intact ? 0 : 0xFF));
}

// Baseband-frame mode: KEST_FAKEDVB_BBFRAMES once, from the first lock in that mode; on a
// multistream carrier once for each stream the demodulator delivers, with its ISI.
void startBasebandStream()
{
    basebandStarted = true;
    const char* path = std::getenv("KEST_FAKEDVB_BBFRAMES");
    std::FILE* file = path != nullptr ? std::fopen(path, "rb") : nullptr;
    if (file == nullptr)
        return;
    std::vector<unsigned char> frames;
    unsigned char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        frames.insert(frames.end(), chunk, chunk + n);
    std::fclose(file);
    for (const int isi : model().basebandStreams()) {
        const size_t start = baseband.size();
        baseband.insert(baseband.end(), frames.begin(), frames.end());
        for (size_t at = start; isi >= 0 && at + 188 <= baseband.size(); at += 188)
            stampInputStream(&baseband[at], isi);
    }
}

// Whether some of the pseudo transport stream is waiting, and up to `size` bytes of it
// into `buffer` (0: none).
bool basebandPseudoStreamWaiting()
{
    if (!basebandStarted)
        startBasebandStream();
    return basebandSent < baseband.size();
}

size_t basebandPseudoStream(void* buffer, size_t size)
{
    const size_t n = std::min({size, kReadChunk, baseband.size() - basebandSent});
    std::memcpy(buffer, baseband.data() + basebandSent, n);
    basebandSent += n;
    return n;
}

bool dvrReadable()
{
    if (model().basebandFrames())
        return model().lockedTransponder() >= 0 && (!stuffingSent || basebandPseudoStreamWaiting());
    return model().lockedTransponder() == carryingTransponder() && (!stuffingSent || (stream != nullptr && !streamEnded));
}

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
    if (model().basebandFrames()) {
        const size_t n = basebandPseudoStream(buffer, size);
        if (n == 0)
            errno = EAGAIN;
        return n == 0 ? -1 : static_cast<ssize_t>(n);
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
