// Fake device nodes /dev/dvb/adapter9/{frontend0,demux0,dvr0}: every call
// written down, the frontend's answers and the dvr's stream set by the test.
#pragma once

#include "drivers/linuxdvb/dvb_device.h"

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

// Serves /dev/dvb/adapter9/{frontend0,demux0,dvr0} and writes down every call.
class FakeDevices : public DvbDevices {
public:
    bool refuseDvbS2 = false;
    bool refuseWholeMultiplex = false;
    bool v5Stats = true;
    fe_sec_voltage lastVoltage = SEC_VOLTAGE_OFF;
    int statScale = FE_SCALE_RELATIVE;
    int64_t strengthValue = 0;
    int64_t cnrValue = 0;
    uint16_t legacyStrength = 0, legacySnr = 0;
    bool locked = true;
    bool gone = false; // unplugged: every call fails with ENODEV (a read failing so unplugs it)
    std::vector<uint32_t> deliverySystems = {SYS_DVBS, SYS_DVBS2};
    // dvr0: chunks to read; an empty chunk with an errno fails one read.
    struct Chunk {
        std::vector<uint8_t> bytes;
        int error = 0;
    };
    std::deque<Chunk> dvr;
    std::vector<std::string> calls;
    // The streaming thread reads while the test thread looks; hold it to look.
    mutable std::recursive_mutex mutex;
    std::vector<std::string> callLog() const
    {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        return calls;
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
        for (const char* n : {"frontend0", "demux0", "dvr0"})
            if (path == std::string("/dev/dvb/adapter9/") + n)
                return true;
        return false;
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
        case FE_GET_INFO: {
            auto* info = static_cast<dvb_frontend_info*>(arg);
            std::strcpy(info->name, "Fake DVB-S2 frontend");
            info->type = FE_QPSK;
            return 0;
        }
        case FE_SET_VOLTAGE:
            lastVoltage = static_cast<fe_sec_voltage>(value);
            calls.push_back(std::string("voltage ") + (value == SEC_VOLTAGE_13 ? "13" : value == SEC_VOLTAGE_18 ? "18" : "off"));
            return 0;
        case FE_SET_TONE:
            calls.push_back(std::string("tone ") + (value == SEC_TONE_ON ? "on" : "off"));
            return 0;
        case FE_DISEQC_SEND_MASTER_CMD: {
            auto* cmd = static_cast<dvb_diseqc_master_cmd*>(arg);
            calls.push_back("diseqc " + hex(cmd->msg, cmd->msg_len));
            return 0;
        }
        case FE_SET_PROPERTY: return setProperty(static_cast<dtv_properties*>(arg));
        case FE_GET_PROPERTY: return getProperty(static_cast<dtv_properties*>(arg));
        case FE_READ_STATUS:
            *static_cast<fe_status_t*>(arg) = locked ? static_cast<fe_status_t>(FE_HAS_SIGNAL | FE_HAS_LOCK)
                                                     : static_cast<fe_status_t>(0);
            return 0;
        case FE_READ_SIGNAL_STRENGTH: *static_cast<uint16_t*>(arg) = legacyStrength; return 0;
        case FE_READ_SNR: *static_cast<uint16_t*>(arg) = legacySnr; return 0;
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
        (void)fd;
        errno = ENOTTY;
        return -1;
    }

private:
    int setProperty(dtv_properties* p)
    {
        std::string line = "tune";
        for (uint32_t i = 0; i < p->num; ++i) {
            const dtv_property& q = p->props[i];
            switch (q.cmd) {
            case DTV_CLEAR: line += " clear"; break;
            case DTV_DELIVERY_SYSTEM:
                line += q.u.data == SYS_DVBS2 ? " S2" : q.u.data == SYS_DVBS ? " S" : " ?";
                if (q.u.data == SYS_DVBS2 && refuseDvbS2) {
                    calls.push_back(line + " refused");
                    errno = EINVAL;
                    return -1;
                }
                break;
            case DTV_FREQUENCY: line += " if=" + std::to_string(q.u.data); break;
            case DTV_SYMBOL_RATE: line += " sr=" + std::to_string(q.u.data); break;
            case DTV_INNER_FEC: line += " fec=" + std::to_string(q.u.data); break;
            case DTV_ROLLOFF: line += q.u.data == ROLLOFF_AUTO ? " rolloff=auto" : " rolloff=?"; break;
            case DTV_PILOT: line += q.u.data == PILOT_AUTO ? " pilot=auto" : " pilot=?"; break;
            case DTV_TUNE: line += " go"; break;
            default: line += " ?" + std::to_string(q.cmd);
            }
        }
        calls.push_back(line);
        return 0;
    }
    int getProperty(dtv_properties* p)
    {
        for (uint32_t i = 0; i < p->num; ++i) {
            dtv_property& q = p->props[i];
            if (q.cmd == DTV_ENUM_DELSYS) {
                q.u.buffer.len = static_cast<uint32_t>(deliverySystems.size());
                for (size_t k = 0; k < deliverySystems.size(); ++k)
                    q.u.buffer.data[k] = static_cast<uint8_t>(deliverySystems[k]);
            } else if (q.cmd == DTV_STAT_SIGNAL_STRENGTH || q.cmd == DTV_STAT_CNR) {
                if (!v5Stats) {
                    q.u.st.len = 0;
                    continue;
                }
                q.u.st.len = 1;
                q.u.st.stat[0].scale = static_cast<uint8_t>(statScale);
                const int64_t v = q.cmd == DTV_STAT_CNR ? cnrValue : strengthValue;
                if (statScale == FE_SCALE_DECIBEL)
                    q.u.st.stat[0].svalue = v;
                else
                    q.u.st.stat[0].uvalue = static_cast<uint64_t>(v);
            } else {
                errno = EINVAL;
                return -1;
            }
        }
        return 0;
    }

    int next_ = 10;
    std::map<int, std::string> names_;
};

} // namespace linuxdvbtest
