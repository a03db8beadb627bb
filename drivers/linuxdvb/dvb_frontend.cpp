#include "drivers/linuxdvb/dvb_frontend.h"

#include "platform/win32/debug.h"

#include <sys/ioctl.h>

#include <linux/dvb/frontend.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace linuxdvb {

namespace {

int32_t clampPercent(long long value) { return static_cast<int32_t>(std::clamp<long long>(value, 0, 100)); }

void debug(const std::string& line) { OutputDebugStringA(("linuxdvb: " + line + "\n").c_str()); }

} // namespace

uint32_t linuxCodeRate(int32_t code)
{
    switch (code) {
    case 1: return FEC_1_2;
    case 2: return FEC_2_3;
    case 3: return FEC_3_4;
    case 4: return FEC_3_5;
    case 5: return FEC_4_5;
    case 6: return FEC_5_6;
    case 8: return FEC_9_10; // the panel's "9/10"
    case 11: return FEC_2_5;
    case 12: return FEC_6_7;
    case 13: return FEC_8_9;
    case 14: return FEC_9_10;
    default: return FEC_AUTO;
    }
}

DvbFrontend::DvbFrontend(DvbDevices& devices, int adapter, int frontend)
    : devices_(devices), adapter_(adapter), frontend_(frontend)
{
}

DvbFrontend::~DvbFrontend() { close(); }

bool DvbFrontend::open(std::string* error)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ >= 0)
        return true;
    const std::string path = devicePath(adapter_, "frontend", frontend_);
    fd_ = devices_.open(path, O_RDWR | O_NONBLOCK);
    if (fd_ < 0) {
        if (error != nullptr)
            *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    dvb_frontend_info info{};
    if (devices_.ioctl(fd_, FE_GET_INFO, &info) == 0)
        name_.assign(info.name, strnlen(info.name, sizeof info.name));
    return true;
}

void DvbFrontend::close()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ >= 0)
        devices_.close(fd_);
    fd_ = -1;
}

bool DvbFrontend::isOpen() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return fd_ >= 0;
}

std::string DvbFrontend::name() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return name_;
}

bool DvbFrontend::lnbPowered() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return powered_;
}

bool DvbFrontend::supportsSatellite()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ < 0)
        return false;
    dtv_property property{};
    property.cmd = DTV_ENUM_DELSYS;
    dtv_properties properties{1, &property};
    if (devices_.ioctl(fd_, FE_GET_PROPERTY, &properties) == 0) {
        for (uint32_t i = 0; i < property.u.buffer.len && i < sizeof property.u.buffer.data; ++i)
            if (property.u.buffer.data[i] == SYS_DVBS || property.u.buffer.data[i] == SYS_DVBS2)
                return true;
        return false;
    }
    dvb_frontend_info info{};
    if (devices_.ioctl(fd_, FE_GET_INFO, &info) != 0)
        return false;
    // Compared as plain bits: a type the enumeration does not name must not be loaded as one.
    uint32_t type = 0;
    static_assert(sizeof type == sizeof info.type, "fe_type is 32 bits");
    std::memcpy(&type, &info.type, sizeof type);
    return type == FE_QPSK;
}

bool DvbFrontend::setVoltage(const card::Tuning& tuning)
{
    const fe_sec_voltage voltage = !powered_ ? SEC_VOLTAGE_OFF
        : tuning.polarisation == card::kPolarisationVertical ? SEC_VOLTAGE_13
                                                             : SEC_VOLTAGE_18;
    return devices_.ioctl(fd_, FE_SET_VOLTAGE, reinterpret_cast<void*>(static_cast<uintptr_t>(voltage))) == 0;
}

bool DvbFrontend::sendMessage(const std::vector<uint8_t>& message)
{
    if (toneOn_) {
        // DiSEqC signalling is a burst of the 22 kHz tone: the continuous tone must be off.
        devices_.ioctl(fd_, FE_SET_TONE, reinterpret_cast<void*>(static_cast<uintptr_t>(SEC_TONE_OFF)));
        toneOn_ = false;
    }
    dvb_diseqc_master_cmd command{};
    std::memcpy(command.msg, message.data(), message.size());
    command.msg_len = static_cast<uint8_t>(message.size());
    if (devices_.ioctl(fd_, FE_DISEQC_SEND_MASTER_CMD, &command) != 0) {
        debug(std::string("DiSEqC message refused: ") + std::strerror(errno));
        return false;
    }
    return true;
}

bool DvbFrontend::sendDiseqc(const uint8_t* message, size_t length)
{
    if (message == nullptr || length < 3 || length > 6)
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<uint8_t> bytes(message, message + length);
    if (fd_ < 0) {
        waiting_.push_back(std::move(bytes));
        return true;
    }
    return sendMessage(bytes);
}

bool DvbFrontend::setLnbPower(bool on)
{
    std::lock_guard<std::mutex> lock(mutex_);
    powered_ = on;
    return fd_ < 0 || setVoltage(tuning_);
}

bool DvbFrontend::tune(const card::Tuning& tuning, uint32_t deliverySystem)
{
    dtv_property p[8]{};
    p[0].cmd = DTV_CLEAR;
    p[1].cmd = DTV_DELIVERY_SYSTEM;
    p[1].u.data = deliverySystem;
    p[2].cmd = DTV_FREQUENCY;
    p[2].u.data = card::intermediateFrequencyKhz(tuning);
    p[3].cmd = DTV_SYMBOL_RATE;
    p[3].u.data = tuning.symbolRateKsps * 1000;
    p[4].cmd = DTV_INNER_FEC;
    p[4].u.data = linuxCodeRate(tuning.innerFec);
    p[5].cmd = DTV_ROLLOFF;
    p[5].u.data = ROLLOFF_AUTO;
    p[6].cmd = DTV_PILOT;
    p[6].u.data = PILOT_AUTO;
    p[7].cmd = DTV_TUNE;
    dtv_properties properties{8, p};
    return devices_.ioctl(fd_, FE_SET_PROPERTY, &properties) == 0;
}

bool DvbFrontend::commit(const card::Tuning& tuning)
{
    std::lock_guard<std::mutex> lock(mutex_);
    tuning_ = tuning;
    if (fd_ < 0)
        return false;
    bool ok = setVoltage(tuning);
    devices_.ioctl(fd_, FE_SET_TONE, reinterpret_cast<void*>(static_cast<uintptr_t>(SEC_TONE_OFF)));
    toneOn_ = false;
    for (const auto& message : waiting_)
        sendMessage(message);
    waiting_.clear();
    if (card::isHighBand(tuning)) {
        ok = devices_.ioctl(fd_, FE_SET_TONE, reinterpret_cast<void*>(static_cast<uintptr_t>(SEC_TONE_ON))) == 0 && ok;
        toneOn_ = true;
    }
    const uint32_t wanted = tuning.modulation == card::kModulationDvbS2 ? SYS_DVBS2 : SYS_DVBS;
    if (tune(tuning, wanted))
        return ok;
    const uint32_t other = wanted == SYS_DVBS2 ? SYS_DVBS : SYS_DVBS2;
    debug(std::string("tuning with ") + (wanted == SYS_DVBS2 ? "DVB-S2" : "DVB-S") + " refused ("
          + std::strerror(errno) + "), trying " + (other == SYS_DVBS2 ? "DVB-S2" : "DVB-S"));
    return tune(tuning, other) && ok;
}

int32_t DvbFrontend::statPercent(uint32_t command, long long decibelFloor, long long decibelSpan,
                                 unsigned long legacyRequest)
{
    dtv_property property{};
    property.cmd = command;
    dtv_properties properties{1, &property};
    if (devices_.ioctl(fd_, FE_GET_PROPERTY, &properties) == 0 && property.u.st.len > 0) {
        // dtv_stats is packed: its value is copied out, not referred to. Clamped into the
        // range before scaling: a driver's value may be anything.
        const dtv_stats& stat = property.u.st.stat[0];
        const uint64_t relative = stat.uvalue;
        const long long decibels = stat.svalue;
        if (stat.scale == FE_SCALE_RELATIVE)
            return clampPercent(static_cast<long long>(std::min<uint64_t>(relative, 65535)) * 100 / 65535);
        if (stat.scale == FE_SCALE_DECIBEL)
            return clampPercent(
                (std::clamp(decibels, decibelFloor, decibelFloor + decibelSpan) - decibelFloor) * 100 / decibelSpan);
    }
    // Frontends without the DVBv5 statistics: the old 16-bit reads.
    uint16_t legacy = 0;
    if (devices_.ioctl(fd_, legacyRequest, &legacy) == 0)
        return clampPercent(static_cast<long long>(legacy) * 100 / 65535);
    return 0;
}

SignalStatus DvbFrontend::status()
{
    std::lock_guard<std::mutex> lock(mutex_);
    SignalStatus s;
    if (fd_ < 0)
        return s;
    // Read as plain bits: a driver may set flags the enumeration does not name.
    uint32_t state = 0;
    static_assert(sizeof state == sizeof(fe_status_t), "FE_READ_STATUS writes an enum fe_status");
    s.locked = devices_.ioctl(fd_, FE_READ_STATUS, &state) == 0 && (state & FE_HAS_LOCK) != 0;
    // Strength in 0.001 dBm: -90 dBm no signal .. -30 dBm strong; carrier to
    // noise in 0.001 dB: 0 dB useless .. 15 dB excellent.
    s.strength = statPercent(DTV_STAT_SIGNAL_STRENGTH, -90000, 60000, FE_READ_SIGNAL_STRENGTH);
    s.quality = s.locked ? statPercent(DTV_STAT_CNR, 0, 15000, FE_READ_SNR) : 0;
    return s;
}

} // namespace linuxdvb
