// Fake device nodes /dev/dvb/adapter9/*: every call written down, the
// frontend a demodulator model, the dvr's stream set by the test.
#pragma once

#include "drivers/linuxdvb/dvb_device.h"
#include "tests/drivers/linuxdvb/demod_model.h"

#include <linux/dvb/dmx.h>
#include <linux/dvb/frontend.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace linuxdvbtest {

using linuxdvb::DvbDevices;

inline std::string hex(const uint8_t* p, size_t n)
{
    std::string s;
    char b[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, i ? " %02x" : "%02x", p[i]);
        s += b;
    }
    return s;
}

// Serves /dev/dvb/adapter9/{frontend0,demux0,dvr0} (and whatever else `nodes`
// names) and writes down every call; the frontend is a demodulator model.
class FakeDevices : public DvbDevices {
public:
    demodmodel::DemodModel model;
    std::set<std::string> nodes = {"frontend0", "demux0", "dvr0"};
    bool refuseWholeMultiplex = false;
    bool gone = false; // unplugged: every call fails with ENODEV (a read failing so unplugs it)
    // dvr: chunks to read; an empty chunk with an errno fails one read.
    struct Chunk {
        std::vector<uint8_t> bytes;
        int error = 0;
    };
    std::deque<Chunk> dvr;
    std::vector<std::string> calls;
    // The streaming thread and the frontend's search run while the test thread
    // looks; hold it to look.
    mutable std::recursive_mutex mutex;
    std::vector<std::string> callLog() const
    {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        return calls;
    }
    // Runs f on the model under the lock.
    template <class F>
    auto withModel(F f) -> decltype(f(model))
    {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        return f(model);
    }

    int open(const std::string& path, int) override
    {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        const std::string base = "/dev/dvb/adapter9/";
        if (gone) {
            errno = ENODEV;
            return -1;
        }
        if (path.rfind(base, 0) != 0 || !exists(path)) {
            errno = ENOENT;
            return -1;
        }
        const int fd = next_++;
        names_[fd] = path.substr(base.size());
        calls.push_back("open " + names_[fd]);
        return fd;
    }
    bool exists(const std::string& path) override
    {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        const std::string base = "/dev/dvb/adapter9/";
        return path.rfind(base, 0) == 0 && nodes.count(path.substr(base.size())) != 0;
    }
    int close(int fd) override
    {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        calls.push_back("close " + names_[fd]);
        names_.erase(fd);
        return 0;
    }
    int waitReadable(int, int timeoutMs) override
    {
        {
            std::lock_guard<std::recursive_mutex> lock(mutex);
            if (!dvr.empty())
                return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeoutMs, 5)));
        return 0;
    }
    ssize_t read(int, void* buffer, size_t size) override
    {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        if (dvr.empty()) {
            errno = EAGAIN;
            return -1;
        }
        Chunk& c = dvr.front();
        if (c.error) {
            gone = gone || c.error == ENODEV;
            errno = c.error;
            dvr.pop_front();
            return -1;
        }
        const size_t n = std::min(size, c.bytes.size());
        std::memcpy(buffer, c.bytes.data(), n);
        c.bytes.erase(c.bytes.begin(), c.bytes.begin() + static_cast<long>(n));
        if (c.bytes.empty())
            dvr.pop_front();
        return static_cast<ssize_t>(n);
    }
    int ioctl(int fd, unsigned long request, void* arg) override
    {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        const uintptr_t value = reinterpret_cast<uintptr_t>(arg);
        if (gone) {
            errno = ENODEV;
            return -1;
        }
        switch (request) {
        case FE_SET_VOLTAGE:
            calls.push_back(std::string("voltage ") + (value == SEC_VOLTAGE_13 ? "13" : value == SEC_VOLTAGE_18 ? "18" : "off"));
            break;
        case FE_SET_TONE: calls.push_back(std::string("tone ") + (value == SEC_TONE_ON ? "on" : "off")); break;
        case FE_DISEQC_SEND_MASTER_CMD: {
            auto* cmd = static_cast<dvb_diseqc_master_cmd*>(arg);
            calls.push_back("diseqc " + hex(cmd->msg, cmd->msg_len));
            break;
        }
        case FE_SET_PROPERTY: calls.push_back(tuneLine(static_cast<dtv_properties*>(arg))); break;
        }
        if (names_[fd].rfind("frontend", 0) == 0) {
            const int result = model.ioctl(request, arg);
            if (result != 0 && request == FE_SET_PROPERTY)
                calls.back() += " refused";
            return result;
        }
        switch (request) {
        case DMX_SET_BUFFER_SIZE: calls.push_back("buffer " + std::to_string(value)); return 0;
        case DMX_SET_PES_FILTER: {
            auto* f = static_cast<dmx_pes_filter_params*>(arg);
            calls.push_back("filter " + std::to_string(f->pid) + (f->output == DMX_OUT_TS_TAP ? " tap" : " ?")
                            + (f->flags & DMX_IMMEDIATE_START ? " start" : ""));
            if (f->pid == 0x2000 && refuseWholeMultiplex) {
                errno = EINVAL;
                return -1;
            }
            return 0;
        }
        }
        errno = ENOTTY;
        return -1;
    }

private:
    // "tune clear S2 if=1588000 sr=27500000 fec=9 mod=8PSK rolloff=auto pilot=auto go"
    static std::string tuneLine(const dtv_properties* p)
    {
        std::string line = "tune";
        for (uint32_t i = 0; i < p->num; ++i) {
            const dtv_property& q = p->props[i];
            switch (q.cmd) {
            case DTV_CLEAR: line += " clear"; break;
            case DTV_DELIVERY_SYSTEM: line += q.u.data == SYS_DVBS2 ? " S2" : q.u.data == SYS_DVBS ? " S" : " ?"; break;
            case DTV_FREQUENCY: line += " if=" + std::to_string(q.u.data); break;
            case DTV_SYMBOL_RATE: line += " sr=" + std::to_string(q.u.data); break;
            case DTV_INNER_FEC: line += " fec=" + std::to_string(q.u.data); break;
            case DTV_MODULATION: line += " mod=" + demodmodel::modulationName(q.u.data); break;
            case DTV_ROLLOFF:
                line += q.u.data == ROLLOFF_AUTO ? " rolloff=auto" : q.u.data == ROLLOFF_35 ? " rolloff=0.35" : " rolloff=?";
                break;
            case DTV_PILOT:
                line += q.u.data == PILOT_AUTO ? " pilot=auto" : q.u.data == PILOT_ON ? " pilot=on" : " pilot=off";
                break;
            case DTV_STREAM_ID:
                line += q.u.data == NO_STREAM_ID_FILTER ? std::string(" stream=none") : " stream=0x" + hexWord(q.u.data);
                break;
            case DTV_SCRAMBLING_SEQUENCE_INDEX: line += " gold=" + std::to_string(q.u.data); break;
            case DTV_TUNE: line += " go"; break;
            default: line += " ?" + std::to_string(q.cmd);
            }
        }
        return line;
    }

    static std::string hexWord(uint32_t value)
    {
        char b[12];
        std::snprintf(b, sizeof b, "%x", value);
        return b;
    }

    int next_ = 10;
    std::map<int, std::string> names_;
};

} // namespace linuxdvbtest
