// The transport stream of a Linux DVB adapter: the whole multiplex routed to
// its dvr (PID 0x2000), or one filter per wanted PID where the demultiplexer
// refuses that, read in large chunks.
#pragma once

#include "drivers/linuxdvb/dvb_device.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace linuxdvb {

constexpr uint16_t kWholeMultiplexPid = 0x2000;
constexpr unsigned long kKernelBufferSize = 16u << 20;

class DvbStream {
public:
    DvbStream(DvbDevices& devices, int adapter, int demux = 0);
    ~DvbStream();
    DvbStream(const DvbStream&) = delete;
    DvbStream& operator=(const DvbStream&) = delete;

    // Opens the dvr and sets the filters on the demux of the same number. `fallbackPids` are used only when the
    // whole multiplex cannot be had. False with *error naming the device.
    bool start(const std::vector<uint16_t>& fallbackPids, std::string* error);
    void stop();
    bool wholeMultiplex() const { return wholeMultiplex_; }
    // With one filter per PID: filters the PIDs given from now on (the
    // receiver's choice changes while it runs). Nothing with the whole multiplex.
    void refilter(const uint16_t* pids, size_t count);

    enum class ReadResult { Data, Timeout, Ended };
    // Waits up to timeoutMs and reads what is there into buffer (at most size
    // bytes); *count gets the bytes read. A buffer overflow in the kernel is
    // counted and reading goes on; a vanished device or an error ends it.
    ReadResult read(uint8_t* buffer, size_t size, size_t* count, int timeoutMs);
    uint64_t overflows() const { return overflows_.load(std::memory_order_relaxed); }

private:
    bool addFilter(uint16_t pid);
    struct Filter {
        uint16_t pid;
        int fd;
    };

    DvbDevices& devices_;
    int adapter_;
    int demux_;
    int dvr_ = -1;
    std::vector<Filter> filters_;
    bool wholeMultiplex_ = false;
    std::atomic<uint64_t> overflows_{0};
};

} // namespace linuxdvb
