// SatNic: the virtual adapter device "SatNicDv-1" and its installation.
#include "drivers/satnic/satnic.h"

#include "drivers/satnic/backend.h"
#include "drivers/satnic/satnic_internal.h"
#include "decoder/adapter_contract.h"
#include "platform/win32/debug.h"
#include "platform/win32/device.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include <climits>
#include <pwd.h>
#include <unistd.h>

namespace {

// The adapter device contract, in the names used here.
namespace contract {
constexpr const char* kDeviceName = kAdapterDeviceName;
constexpr DWORD kIoctlSendFrames = IOCTL_SEND_FRAMES;
constexpr DWORD kIoctlReadByteCount = IOCTL_READ_BYTE_COUNT;
constexpr DWORD kIoctlSetStationAddress = IOCTL_SET_STATION_ADDRESS;
constexpr DWORD kIoctlReadLostFrames = IOCTL_READ_LOST_FRAMES;
constexpr DWORD kFrameSlots = kFrameSlotCount;
constexpr DWORD kFrameSlotSize = ::kFrameSlotSize;
constexpr DWORD kFrameLengthsOffset = offsetof(FrameBatch, frameLengths);
constexpr DWORD kFrameCountOffset = offsetof(FrameBatch, frameCount);
constexpr DWORD kFrameBatchSize = ::kFrameBatchSize;
constexpr DWORD kStationAddressSize = ::kStationAddressSize;
constexpr DWORD kByteCountSize = ::kByteCountSize;
constexpr DWORD kLostFrameCountSize = ::kLostFrameCountSize;
} // namespace contract

constexpr DWORD kErrorDeviceNotExist = 55; // ERROR_DEV_NOT_EXIST: the driver was uninstalled
// A loss episode ends when frames have passed without a loss for this long.
constexpr int64_t kLossEpisodeQuietNs = 2'000'000'000;

using satnic::detail::Backend;
using satnic::detail::Mac;
using satnic::detail::ParsedBatch;

uint32_t readLe32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16
        | static_cast<uint32_t>(p[3]) << 24;
}

// "null": accepts and counts, passes nowhere.
class NullBackend : public Backend {
public:
    Result send(const ParsedBatch& batch, Mac) override
    {
        Result result;
        for (uint32_t i = 0; i < batch.count; ++i)
            result.bytesPassed += batch.frames[i].length;
        result.framesPassed = batch.count;
        return result;
    }
    void close() override {}
};

// The state of one installation, shared by the registered driver and every handle opened
// through it. Everything the request path touches is an atomic: the decoder sends from its
// streaming thread while the window thread reads the count and sets the station address.
class Core {
public:
    // `destination` names where the frames go ("pcap file out.pcap") in debug lines.
    Core(std::unique_ptr<Backend> backend, std::string destination)
        : backend_(std::move(backend)), destination_(std::move(destination))
    {
    }
    ~Core() { shutdown(); }

    bool control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned,
                 DWORD* error)
    {
        *returned = 0;
        switch (code) {
        case contract::kIoctlSendFrames:
            return sendFrames(in, inSize, error);
        case contract::kIoctlReadByteCount:
            // The byte count is the low 32 bits of the bytes passed.
            return readCounter(sendCounts().bytesPassed, contract::kByteCountSize, out, outSize, returned, error);
        case contract::kIoctlReadLostFrames:
            return readCounter(framesDropped_.load(std::memory_order_relaxed), contract::kLostFrameCountSize, out,
                               outSize, returned, error);
        case contract::kIoctlSetStationAddress:
            if (removed_.load()) {
                *error = kErrorDeviceNotExist;
                return false;
            }
            if (in == nullptr || inSize < contract::kStationAddressSize) {
                *error = ERROR_INVALID_PARAMETER;
                return false;
            }
            if (out == nullptr || outSize < contract::kStationAddressSize) {
                *error = ERROR_INSUFFICIENT_BUFFER;
                return false;
            }
            {
                // The decoder passes the same buffer for input and output: read before writing.
                const Mac station = satnic::detail::macFromBytes(static_cast<const uint8_t*>(in));
                station_.store(station, std::memory_order_relaxed);
                satnic::detail::macToBytes(station, static_cast<uint8_t*>(out));
            }
            *returned = contract::kStationAddressSize;
            return true;
        default:
            *error = ERROR_NOT_SUPPORTED;
            return false;
        }
    }

    // Stops the request path and closes the backend. After it returns no send() runs and
    // none will: a request either registered itself in inFlight_ before removed_ was set
    // (and is waited for) or sees removed_ (sequentially consistent on both sides).
    void shutdown()
    {
        if (removed_.exchange(true))
            return;
        while (inFlight_.load() != 0)
            std::this_thread::yield();
        backend_->close();
        if (losing_.load())
            tellLossEnded("closed");
    }

    satnic::detail::Statistics statistics() const
    {
        satnic::detail::Statistics s{};
        const SendTotals sent = sendCounts();
        s.batches = sent.batches;
        s.batchesRefused = batchesRefused_.load(std::memory_order_relaxed);
        s.framesPassed = sent.framesPassed;
        s.bytesPassed = sent.bytesPassed;
        s.framesSkipped = framesSkipped_.load(std::memory_order_relaxed);
        s.framesDropped = framesDropped_.load(std::memory_order_relaxed);
        s.lastDropError = lastDropError_.load(std::memory_order_relaxed);
        s.kernelFramesDiscarded = backend_->kernelFramesDiscarded();
        return s;
    }

private:
    bool sendFrames(const void* in, DWORD inSize, DWORD* error)
    {
        ParsedBatch batch;
        if (!satnic::detail::parseFrameBatch(in, inSize, &batch)) {
            batchesRefused_.fetch_add(1, std::memory_order_relaxed);
            *error = ERROR_INVALID_PARAMETER;
            return false;
        }
        inFlight_.fetch_add(1);
        if (removed_.load()) {
            inFlight_.fetch_sub(1);
            batchesRefused_.fetch_add(1, std::memory_order_relaxed);
            *error = kErrorDeviceNotExist;
            return false;
        }
        Backend::Result result;
        if (batch.count > 0)
            result = backend_->send(batch, station_.load(std::memory_order_relaxed));
        inFlight_.fetch_sub(1);

        {
            SendCounts& counts = ownSendCounts();
            const bool exclusive = &counts != &sharedSendCounts_;
            add(counts.batches, 1, exclusive);
            if (result.bytesPassed)
                add(counts.bytesPassed, result.bytesPassed, exclusive);
            if (result.framesPassed)
                add(counts.framesPassed, result.framesPassed, exclusive);
        }
        if (result.framesDropped) {
            framesDropped_.fetch_add(result.framesDropped, std::memory_order_relaxed);
            lastDropError_.store(result.dropError, std::memory_order_relaxed);
            lastDropTime_.store(now(), std::memory_order_relaxed);
            if (!losing_.load(std::memory_order_relaxed) && !losing_.exchange(true))
                tellLossBegan(result.dropError, result.framesDropped);
        } else if (result.framesPassed && losing_.load(std::memory_order_relaxed)
                   && now() - lastDropTime_.load(std::memory_order_relaxed) >= kLossEpisodeQuietNs
                   && losing_.exchange(false)) {
            tellLossEnded("takes frames again");
        }
        if (batch.skipped)
            framesSkipped_.fetch_add(batch.skipped, std::memory_order_relaxed);
        // An accepted batch succeeds even when the backend dropped some of its frames: the
        // sender has nothing better to do with them (a lost frame is not retried).
        return true;
    }

    // A counter read: `size` bytes of `value`, least significant first.
    bool readCounter(uint64_t value, DWORD size, void* out, DWORD outSize, DWORD* returned, DWORD* error) const
    {
        if (removed_.load()) {
            *error = kErrorDeviceNotExist;
            return false;
        }
        if (out == nullptr || outSize < size) {
            *error = ERROR_INSUFFICIENT_BUFFER;
            return false;
        }
        auto* bytes = static_cast<uint8_t*>(out);
        for (DWORD i = 0; i < size; ++i)
            bytes[i] = static_cast<uint8_t>(value >> (8 * i));
        *returned = size;
        return true;
    }

    // Frames are lost in episodes (the disk fills up, the interface goes away, until it
    // comes back): the debug output tells the start and the end of each, not every frame.
    // A nearly full disk still takes a small frame now and then; the episode ends only when
    // nothing was lost for a while. Stack buffers: this runs on the streaming thread, which
    // allocates nothing.
    static int64_t now()
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    void tellLossBegan(int error, uint32_t dropped)
    {
        lossEpisodeStart_.store(framesDropped_.load() - dropped, std::memory_order_relaxed);
        char line[512];
        std::snprintf(line, sizeof line, "SatNic: %s refuses frames (%s); they are lost until it takes them again\n",
                      destination_.c_str(), std::strerror(error));
        OutputDebugStringA(line);
    }
    void tellLossEnded(const char* how)
    {
        const uint64_t lost = framesDropped_.load() - lossEpisodeStart_.load(std::memory_order_relaxed);
        char line[512];
        std::snprintf(line, sizeof line, "SatNic: %s %s; %llu frames were lost\n", destination_.c_str(), how,
                      static_cast<unsigned long long>(lost));
        OutputDebugStringA(line);
    }

    std::unique_ptr<Backend> backend_;
    const std::string destination_;
    std::atomic<bool> losing_{false};
    std::atomic<uint64_t> lossEpisodeStart_{0};
    std::atomic<int64_t> lastDropTime_{0};
    std::atomic<int> lastDropError_{0};
    std::atomic<Mac> station_{0};
    std::atomic<bool> removed_{false};
    std::atomic<uint32_t> inFlight_{0};
    std::atomic<uint64_t> batchesRefused_{0}, framesSkipped_{0}, framesDropped_{0};

    // The counts of every accepted request. A locked addition per counter and request cost
    // more than the rest of the request: each thread that sends gets counts of its own, which
    // it alone writes, with a plain load and store; threads beyond kSenderSlots share one set
    // with locked additions. Readers add them up.
    struct SendCounts {
        std::atomic<uint64_t> batches{0}, framesPassed{0}, bytesPassed{0};
    };
    struct alignas(64) SenderSlot {
        std::atomic<bool> taken{false};
        SendCounts counts;
    };
    struct SendTotals {
        uint64_t batches = 0, framesPassed = 0, bytesPassed = 0;
    };
    static constexpr int kSenderSlots = 8;

    static void add(std::atomic<uint64_t>& counter, uint64_t value, bool exclusive)
    {
        if (exclusive)
            counter.store(counter.load(std::memory_order_relaxed) + value, std::memory_order_relaxed);
        else
            counter.fetch_add(value, std::memory_order_relaxed);
    }

    // The calling thread's counts in this core, found once per thread and core: cores are
    // told apart by a number never used again, so a cached slot of a core gone is never used.
    SendCounts& ownSendCounts()
    {
        thread_local uint64_t cachedCore = 0;
        thread_local SendCounts* cachedCounts = nullptr;
        if (cachedCore == serial_)
            return *cachedCounts;
        SendCounts* counts = &sharedSendCounts_;
        for (SenderSlot& slot : senders_) {
            if (!slot.taken.load(std::memory_order_relaxed) && !slot.taken.exchange(true)) {
                counts = &slot.counts;
                break;
            }
        }
        cachedCore = serial_;
        cachedCounts = counts;
        return *counts;
    }

    SendTotals sendCounts() const
    {
        SendTotals t;
        auto addUp = [&t](const SendCounts& c) {
            t.batches += c.batches.load(std::memory_order_relaxed);
            t.framesPassed += c.framesPassed.load(std::memory_order_relaxed);
            t.bytesPassed += c.bytesPassed.load(std::memory_order_relaxed);
        };
        for (const SenderSlot& slot : senders_)
            addUp(slot.counts);
        addUp(sharedSendCounts_);
        return t;
    }

    static uint64_t nextSerial()
    {
        static std::atomic<uint64_t> last{0};
        return last.fetch_add(1) + 1;
    }

    const uint64_t serial_ = nextSerial();
    SenderSlot senders_[kSenderSlots];
    SendCounts sharedSendCounts_;
};

class SatNicFile : public platform::DeviceFile {
public:
    explicit SatNicFile(std::shared_ptr<Core> core) : core_(std::move(core)) {}
    bool control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned,
                 DWORD* error) override
    {
        return core_->control(code, in, inSize, out, outSize, returned, error);
    }

private:
    std::shared_ptr<Core> core_;
};

class SatNicDriver : public platform::DeviceDriver {
public:
    explicit SatNicDriver(std::shared_ptr<Core> core) : core_(std::move(core)) {}
    // Both device names open the same device, with either access of the contract.
    std::unique_ptr<platform::DeviceFile> open(DWORD, DWORD*) override
    {
        return std::make_unique<SatNicFile>(core_);
    }

private:
    std::shared_ptr<Core> core_;
};

std::mutex installMutex;
std::shared_ptr<Core> installed; // guarded by installMutex

void uninstallLocked()
{
    if (!installed)
        return;
    platform::unregisterDevice(contract::kDeviceName);
    installed->shutdown();
    installed.reset();
}

void setError(std::string* error, const std::string& text)
{
    if (error != nullptr)
        *error = text;
}

} // namespace

namespace satnic {

namespace detail {

bool parseFrameBatch(const void* in, DWORD inSize, ParsedBatch* out)
{
    out->count = 0;
    out->skipped = 0;
    if (in == nullptr || inSize < contract::kFrameBatchSize)
        return false;
    const auto* bytes = static_cast<const uint8_t*>(in);
    uint32_t count = readLe32(bytes + contract::kFrameCountOffset);
    if (count > contract::kFrameSlots)
        count = contract::kFrameSlots;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t length = readLe32(bytes + contract::kFrameLengthsOffset + 4 * i);
        if (length < kMinFrameLength || length > kMaxFrameLength) {
            ++out->skipped;
            continue;
        }
        out->frames[out->count++] = FrameView{bytes + contract::kFrameSlotSize * i, length};
    }
    return true;
}

Statistics statistics()
{
    std::lock_guard<std::mutex> lock(installMutex);
    return installed ? installed->statistics() : Statistics{};
}

} // namespace detail

Statistics statistics()
{
    const detail::Statistics s = detail::statistics();
    return Statistics{s.framesPassed, s.bytesPassed, s.framesDropped, s.lastDropError};
}

std::string createInterfaceHint(const std::string& name)
{
    const passwd* account = ::getpwuid(::geteuid());
    const std::string user = account != nullptr && account->pw_name != nullptr ? account->pw_name : "USER";
    char exe[4096];
    const ssize_t size = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (size > 0) {
        exe[size] = '\0';
        std::string dir(exe);
        dir.erase(dir.find_last_of('/') + 1);
        char resolved[PATH_MAX];
        const std::string script = dir + KEST_LIBEXEC_FROM_BIN "/kestipdata/install-satnic";
        if (::realpath(script.c_str(), resolved) != nullptr && ::access(resolved, X_OK) == 0) {
            std::string hint = std::string("sudo ") + resolved + " " + name + " " + user;
            if (name == "satnic1")
                hint += ", or at every boot: sudo systemctl enable --now kestipdata-satnic@" + user;
            return hint;
        }
    }
    return "sudo scripts/install-satnic " + name + " " + user;
}

bool install(const std::string& config, std::string* error, InstallFor use)
{
    std::lock_guard<std::mutex> lock(installMutex);
    uninstallLocked();

    std::unique_ptr<detail::Backend> backend;
    std::string what;
    if (config == "none") {
        OutputDebugStringA("SatNic: not installed (KEST_SATNIC=none)\n");
        return true;
    } else if (config == "null") {
        backend = std::make_unique<NullBackend>();
        what = "null (frames counted, passed nowhere)";
    } else if (config == "tap" || config.rfind("tap:", 0) == 0) {
        const std::string name = config == "tap" ? std::string("satnic1") : config.substr(4);
        if (name.empty()) {
            setError(error, "virtual adapter \"tap:\": no interface name given (expected tap[:IFNAME])");
            return false;
        }
        if (use == InstallFor::Question) {
            if (detail::tapBackendAvailable(name, error))
                backend = std::make_unique<NullBackend>();
        } else {
            backend = detail::openTapBackend(name, createInterfaceHint(name),
                                             use == InstallFor::FramesWhenTheInterfaceExists, error);
        }
        what = "TAP interface " + name;
    } else if (config.rfind("pcap:", 0) == 0) {
        const std::string path = config.substr(5);
        if (path.empty()) {
            setError(error, "virtual adapter \"pcap:\": no file name given (expected pcap:PATH)");
            return false;
        }
        if (use != InstallFor::Question)
            backend = detail::openPcapBackend(path, error);
        else if (detail::pcapBackendAvailable(path, error))
            backend = std::make_unique<NullBackend>();
        what = "pcap file " + path;
    } else {
        setError(error, "virtual adapter \"" + config
                            + "\": unknown (expected tap[:IFNAME], pcap:PATH, null or none)");
        return false;
    }
    if (!backend)
        return false;

    if (use == InstallFor::Question)
        what += " (not opened)";
    installed = std::make_shared<Core>(std::move(backend), what);
    platform::registerDevice(contract::kDeviceName, std::make_shared<SatNicDriver>(installed));
    OutputDebugStringA(("SatNic: device SatNicDv-1 on " + what + "\n").c_str());
    return true;
}

bool installFromEnvironment(std::string* error, InstallFor use)
{
    const char* value = std::getenv("KEST_SATNIC");
    return install(value != nullptr && *value != '\0' ? std::string(value) : std::string("tap:satnic1"), error,
                   use);
}

void uninstall()
{
    std::lock_guard<std::mutex> lock(installMutex);
    uninstallLocked();
}

} // namespace satnic
