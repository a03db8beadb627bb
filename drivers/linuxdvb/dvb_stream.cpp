#include "drivers/linuxdvb/dvb_stream.h"

#include "platform/win32/debug.h"

#include <sys/ioctl.h>

#include <linux/dvb/dmx.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace linuxdvb {

DvbStream::DvbStream(DvbDevices& devices, int adapter, int demux)
    : devices_(devices), adapter_(adapter), demux_(demux)
{
}

DvbStream::~DvbStream() { stop(); }

bool DvbStream::addFilter(uint16_t pid)
{
    const int fd = devices_.open(devicePath(adapter_, "demux", demux_), O_RDWR | O_NONBLOCK);
    if (fd < 0)
        return false;
    dmx_pes_filter_params filter{};
    filter.pid = pid;
    filter.input = DMX_IN_FRONTEND;
    filter.output = DMX_OUT_TS_TAP;
    filter.pes_type = DMX_PES_OTHER;
    filter.flags = DMX_IMMEDIATE_START;
    if (devices_.ioctl(fd, DMX_SET_PES_FILTER, &filter) != 0) {
        devices_.close(fd);
        return false;
    }
    filters_.push_back({pid, fd});
    return true;
}

bool DvbStream::start(const std::vector<uint16_t>& fallbackPids, std::string* error)
{
    stop();
    const std::string dvr = devicePath(adapter_, "dvr", demux_);
    dvr_ = devices_.open(dvr, O_RDONLY | O_NONBLOCK);
    if (dvr_ < 0) {
        if (error != nullptr)
            *error = "cannot open " + dvr + ": " + std::strerror(errno);
        return false;
    }
    // A large kernel buffer rides out the moments the streaming thread is late.
    if (devices_.ioctl(dvr_, DMX_SET_BUFFER_SIZE, reinterpret_cast<void*>(kKernelBufferSize)) != 0)
        OutputDebugStringA("linuxdvb: the dvr buffer size could not be set\n");
    filters_.reserve(16);
    wholeMultiplex_ = addFilter(kWholeMultiplexPid);
    if (!wholeMultiplex_) {
        OutputDebugStringA("linuxdvb: the demultiplexer refuses the whole multiplex, filtering PIDs\n");
        for (uint16_t pid : fallbackPids)
            if (!addFilter(pid))
                OutputDebugStringA(("linuxdvb: no filter for PID " + std::to_string(pid) + "\n").c_str());
    }
    // With nothing to filter yet the stream waits for refilter().
    if (filters_.empty() && !fallbackPids.empty()) {
        const std::string demux = devicePath(adapter_, "demux", demux_);
        if (error != nullptr)
            *error = "cannot set a filter on " + demux;
        stop();
        return false;
    }
    return true;
}

void DvbStream::refilter(const uint16_t* pids, size_t count)
{
    if (wholeMultiplex_ || dvr_ < 0)
        return;
    const uint16_t* end = pids + count;
    for (size_t i = filters_.size(); i-- > 0;) {
        if (std::find(pids, end, filters_[i].pid) == end) {
            devices_.close(filters_[i].fd);
            filters_.erase(filters_.begin() + static_cast<long>(i));
        }
    }
    for (const uint16_t* pid = pids; pid != end; ++pid) {
        const bool have = std::any_of(filters_.begin(), filters_.end(), [pid](const Filter& f) { return f.pid == *pid; });
        if (!have && !addFilter(*pid))
            OutputDebugStringA(("linuxdvb: no filter for PID " + std::to_string(*pid) + "\n").c_str());
    }
}

void DvbStream::stop()
{
    for (const Filter& filter : filters_)
        devices_.close(filter.fd);
    filters_.clear();
    if (dvr_ >= 0)
        devices_.close(dvr_);
    dvr_ = -1;
}

DvbStream::ReadResult DvbStream::read(uint8_t* buffer, size_t size, size_t* count, int timeoutMs)
{
    *count = 0;
    if (dvr_ < 0)
        return ReadResult::Ended;
    const int ready = devices_.waitReadable(dvr_, timeoutMs);
    if (ready == 0)
        return ReadResult::Timeout;
    if (ready < 0)
        return errno == EINTR ? ReadResult::Timeout : ReadResult::Ended;
    const ssize_t n = devices_.read(dvr_, buffer, size);
    if (n > 0) {
        *count = static_cast<size_t>(n);
        return ReadResult::Data;
    }
    if (n < 0 && errno == EOVERFLOW) {
        // The kernel dropped what did not fit; the stream goes on after the gap.
        const uint64_t count = overflows_.fetch_add(1, std::memory_order_relaxed) + 1;
        char line[80];
        std::snprintf(line, sizeof line, "linuxdvb: dvr buffer overflow, data lost (%llu so far)\n",
                      static_cast<unsigned long long>(count));
        OutputDebugStringA(line);
        return ReadResult::Timeout;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return ReadResult::Timeout;
    OutputDebugStringA(("linuxdvb: the stream ended: " + std::string(n == 0 ? "end of file" : std::strerror(errno))
                        + "\n")
                           .c_str());
    return ReadResult::Ended;
}

} // namespace linuxdvb
