#include "drivers/linuxdvb/dvb_frontend.h"

#include "platform/win32/debug.h"
#include "tuner/pls.h"
#include "platform/win32/sync.h"

#include <sys/ioctl.h>

#include <linux/dvb/frontend.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace linuxdvb {

namespace {

// A DiSEqC byte is 9 bits of 1.5 ms; drivers may return before the bus is done.
constexpr int64_t kDiseqcByteUs = 13500;
constexpr auto kLockPoll = std::chrono::milliseconds(50);
// Once "Unlocked" is said for a single candidate, the lock is watched more calmly.
constexpr auto kIdlePoll = std::chrono::milliseconds(500);

int32_t clampPercent(long long value) { return static_cast<int32_t>(std::clamp<long long>(value, 0, 100)); }

void debug(const std::string& line) { OutputDebugStringA(("linuxdvb: " + line + "\n").c_str()); }

void* ioctlValue(uintptr_t value) { return reinterpret_cast<void*>(value); }

std::string transponderName(const SatelliteParams& t)
{
    return std::to_string(t.carrierFrequency / 1000) + " MHz "
        + (t.polarisation == card::kPolarisationVertical ? "V" : "H") + " " + std::to_string(t.symbolRate)
        + " kS/s" + streamSelectionName(t);
}

// The gold code the demodulator is given; an impossible code (the panel refuses them) as none.
uint32_t goldOf(const SatelliteParams& t) { return pls::goldCode(t.plsMode, t.plsCode).value_or(0); }

bool hasStream(const SatelliteParams& t) { return t.streamId >= 0 && t.streamId <= 255; }

class SystemBusClock final : public BusClock {
public:
    int64_t nowUs() override
    {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    void sleepUs(int64_t us) override
    {
        if (us > 0)
            Sleep(static_cast<DWORD>((us + 999) / 1000));
    }
};

// An enumeration field of a driver's reply as plain bits: a value the enumeration does not
// name must not be loaded as one.
template <typename Enum> uint32_t bitsOf(const Enum& field)
{
    static_assert(sizeof(Enum) == sizeof(uint32_t), "32-bit enumeration");
    uint32_t bits = 0;
    std::memcpy(&bits, &field, sizeof bits);
    return bits;
}

} // namespace

std::string streamSelectionName(const SatelliteParams& t)
{
    std::string name;
    if (hasStream(t))
        name += " ISI " + std::to_string(t.streamId);
    if (goldOf(t) != 0)
        name += std::string(" PLS ") + (t.plsMode == pls::Root ? "root " : "gold ") + std::to_string(t.plsCode);
    if (t.basebandFrames != 0)
        name += " baseband frames";
    return name;
}

BusClock& systemBusClock()
{
    static SystemBusClock clock;
    return clock;
}

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

DvbFrontend::DvbFrontend(DvbDevices& devices, int adapter, int frontend, BusClock& clock)
    : devices_(devices), clock_(clock), adapter_(adapter), frontend_(frontend)
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
    systems_ = readSystems();
    voltage_.reset();
    toneOn_.reset();
    return true;
}

void DvbFrontend::close()
{
    std::thread searcher;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        searching_ = false;
        searcher.swap(searcher_);
    }
    wake_.notify_all();
    if (searcher.joinable())
        searcher.join();
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = false;
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

void DvbFrontend::setLockWaitForTests(std::chrono::milliseconds wait)
{
    std::lock_guard<std::mutex> lock(mutex_);
    lockWaitForTests_ = wait;
}

void DvbFrontend::reportOnce(const std::string& key, const std::string& line)
{
    if (reported_.insert(key).second)
        debug(line);
}

FrontendSystems DvbFrontend::readSystems()
{
    FrontendSystems systems;
    dvb_frontend_info info{};
    const bool haveInfo = devices_.ioctl(fd_, FE_GET_INFO, &info) == 0;
    dtv_property property{};
    property.cmd = DTV_ENUM_DELSYS;
    dtv_properties properties{1, &property};
    if (devices_.ioctl(fd_, FE_GET_PROPERTY, &properties) == 0) {
        for (uint32_t i = 0; i < property.u.buffer.len && i < sizeof property.u.buffer.data; ++i) {
            systems.dvbs = systems.dvbs || property.u.buffer.data[i] == SYS_DVBS;
            systems.dvbs2 = systems.dvbs2 || property.u.buffer.data[i] == SYS_DVBS2;
        }
    } else if (haveInfo && bitsOf(info.type) == FE_QPSK) {
        // Drivers older than DTV_ENUM_DELSYS: the capabilities tell.
        systems.dvbs = true;
        systems.dvbs2 = (bitsOf(info.caps) & FE_CAN_2G_MODULATION) != 0;
    }
    systems.qamAuto = systems.dvbs2 && haveInfo && (bitsOf(info.caps) & FE_CAN_QAM_AUTO) != 0;
    systems.multistream = systems.dvbs2 && haveInfo && (bitsOf(info.caps) & FE_CAN_MULTISTREAM) != 0;
    return systems;
}

bool DvbFrontend::supportsSatellite()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return fd_ >= 0 && (systems_.dvbs || systems_.dvbs2);
}

bool DvbFrontend::setVoltage(const SatelliteParams& tuning)
{
    const fe_sec_voltage voltage = !powered_ ? SEC_VOLTAGE_OFF
        : tuning.polarisation == card::kPolarisationVertical ? SEC_VOLTAGE_13
                                                             : SEC_VOLTAGE_18;
    if (devices_.ioctl(fd_, FE_SET_VOLTAGE, ioctlValue(voltage)) != 0) {
        reportOnce("voltage", std::string("the frontend refuses to set the LNB supply: ") + std::strerror(errno));
        voltage_.reset();
        return false;
    }
    if (voltage_ != static_cast<int>(voltage))
        voltageAt_ = clock_.nowUs();
    voltage_ = voltage;
    return true;
}

void DvbFrontend::setTone(bool on)
{
    if (devices_.ioctl(fd_, FE_SET_TONE, ioctlValue(on ? SEC_TONE_ON : SEC_TONE_OFF)) != 0) {
        reportOnce("tone", std::string("the frontend refuses to switch the 22 kHz tone: ") + std::strerror(errno));
        toneOn_.reset();
        return;
    }
    if (!on && toneOn_ != false)
        toneOffAt_ = clock_.nowUs();
    toneOn_ = on;
}

void DvbFrontend::waitForQuietBus(int64_t since)
{
    const int64_t remaining = since + kBusQuietUs - clock_.nowUs();
    if (remaining > 0)
        clock_.sleepUs(remaining);
}

bool DvbFrontend::sendMessage(const std::vector<uint8_t>& message)
{
    if (!powered_) {
        debug("DiSEqC message not sent: the LNB supply is off");
        return false;
    }
    if (!voltage_ || *voltage_ == SEC_VOLTAGE_OFF)
        setVoltage(tuning_);
    // DiSEqC signalling is a burst of the 22 kHz tone: the continuous tone must be off.
    if (toneOn_ != false)
        setTone(false);
    waitForQuietBus(std::max({voltageAt_, toneOffAt_, messageEnd_}));
    dvb_diseqc_master_cmd command{};
    std::memcpy(command.msg, message.data(), message.size());
    command.msg_len = static_cast<uint8_t>(message.size());
    const int64_t start = clock_.nowUs();
    const bool sent = devices_.ioctl(fd_, FE_DISEQC_SEND_MASTER_CMD, &command) == 0;
    const int error = errno;
    messageEnd_ = std::max(clock_.nowUs(), start + kDiseqcByteUs * static_cast<int64_t>(message.size()));
    if (!sent) {
        reportOnce("diseqc", std::string("the frontend refuses DiSEqC messages: ") + std::strerror(error));
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
    if (fd_ < 0)
        return true;
    waitForQuietBus(messageEnd_);
    return setVoltage(tuning_);
}

bool DvbFrontend::tuneWith(const SatelliteParams& tuning, const Candidate& candidate, bool fixedRollOff,
                           bool plsInStreamId)
{
    const bool s2 = candidate.system == SYS_DVBS2;
    dtv_property p[11]{};
    uint32_t n = 0;
    auto set = [&](uint32_t command, uint32_t value) {
        p[n].cmd = command;
        p[n++].u.data = value;
    };
    set(DTV_CLEAR, 0);
    set(DTV_DELIVERY_SYSTEM, candidate.system);
    set(DTV_FREQUENCY, card::intermediateFrequencyKhz(tuning));
    set(DTV_SYMBOL_RATE, tuning.symbolRate * 1000);
    set(DTV_INNER_FEC, linuxCodeRate(tuning.innerFecRate));
    set(DTV_MODULATION, candidate.modulation);
    // Several drivers take only 0.35 for DVB-S, and refuse anything else in
    // their own thread, after the call has succeeded.
    set(DTV_ROLLOFF, s2 && !fixedRollOff ? ROLLOFF_AUTO : ROLLOFF_35);
    if (s2)
        set(DTV_PILOT, fixedRollOff ? PILOT_ON : PILOT_AUTO);
    if (s2 && systems_.multistream) {
        // The ISI in bits 0-7, or no filter. The PLS goes as the kernel documents it; only a
        // kernel without DTV_SCRAMBLING_SEQUENCE_INDEX gets it in bits 8-25 (gold code) and
        // 26-27 (mode, 1 gold), as the drivers of its time read it: mainline stv090x drops
        // the stream filter for any value above 255, so no other frontend ever sees those bits.
        uint32_t streamId = hasStream(tuning) ? static_cast<uint32_t>(tuning.streamId) : NO_STREAM_ID_FILTER;
        const uint32_t gold = goldOf(tuning);
        if (plsInStreamId && gold != 0 && hasStream(tuning))
            streamId |= gold << 8 | uint32_t{pls::Gold} << 26;
        if (tuning.basebandFrames != 0) // without an ISI: bit 31 alone, every stream's frames
            streamId = kBasebandFramesBit | (hasStream(tuning) ? streamId : 0);
        set(DTV_STREAM_ID, streamId);
        if (!plsInStreamId && selectsStream(tuning))
            set(DTV_SCRAMBLING_SEQUENCE_INDEX, gold);
    }
    set(DTV_TUNE, 0);
    dtv_properties properties{n, p};
    return devices_.ioctl(fd_, FE_SET_PROPERTY, &properties) == 0;
}

bool DvbFrontend::tune(const SatelliteParams& tuning, const Candidate& candidate)
{
    const bool s2 = candidate.system == SYS_DVBS2;
    if (s2 && selectsStream(tuning) && !systems_.multistream)
        reportOnce("multistream", "the frontend cannot select a stream (no FE_CAN_MULTISTREAM):" + streamSelectionName(tuning)
                                      + " is not sent, it delivers the carrier's first stream");
    if (s2 && systems_.multistream && plsInStreamId_ && goldOf(tuning) != 0 && !hasStream(tuning))
        reportOnce("pls", "the kernel has no DTV_SCRAMBLING_SEQUENCE_INDEX: a PLS code needs a stream (ISI) to travel with");
    if (tuneWith(tuning, candidate, s2 && fixedRollOff_, plsInStreamId_))
        return true;
    if (!s2 || errno != EINVAL)
        return false;
    const int error = errno;
    // An older kernel refuses a property it does not know, some demodulators automatic
    // roll-off and pilots (the headers of the DVB-S2 frames tell them the rest).
    struct Way {
        bool fixedRollOff;
        bool plsInStreamId;
    };
    const bool tryPls = !plsInStreamId_ && systems_.multistream && selectsStream(tuning);
    const bool tryRollOff = !fixedRollOff_;
    Way ways[3]{};
    size_t count = 0;
    if (tryPls)
        ways[count++] = {fixedRollOff_, true};
    if (tryRollOff)
        ways[count++] = {true, plsInStreamId_};
    if (tryPls && tryRollOff)
        ways[count++] = {true, true};
    for (size_t i = 0; i < count; ++i) {
        const auto [fixedRollOff, plsInStreamId] = ways[i];
        if (!tuneWith(tuning, candidate, fixedRollOff, plsInStreamId))
            continue;
        if (plsInStreamId && !plsInStreamId_) {
            plsInStreamId_ = true;
            debug("the kernel refuses DTV_SCRAMBLING_SEQUENCE_INDEX: the PLS code goes in bits 8-27 of DTV_STREAM_ID");
        }
        if (fixedRollOff && !fixedRollOff_) {
            fixedRollOff_ = true;
            debug("the frontend refuses automatic roll-off and pilots: DVB-S2 is tuned with 0.35 and pilots on");
        }
        return true;
    }
    errno = error;
    return false;
}

bool DvbFrontend::startAttempt()
{
    for (size_t tries = 0; tries < round_.size(); ++tries) {
        const Candidate candidate = round_.current();
        const std::string name = candidateName(candidate);
        debug("searching " + name + " on " + transponderName(tuning_));
        if (tune(tuning_, candidate)) {
            searching_ = true;
            attemptAt_ = std::chrono::steady_clock::now();
            ++attempt_;
            return true;
        }
        const int error = errno;
        if (round_.refuseCurrent())
            debug("the frontend refuses " + name + ": " + std::strerror(error));
        if (!round_.advance())
            break;
    }
    searching_ = false;
    if (!round_.unlockedReported) {
        round_.unlockedReported = true;
        debug("the frontend refuses every tuning of " + transponderName(tuning_) + ": Unlocked");
    }
    return false;
}

bool DvbFrontend::commit(const SatelliteParams& tuning)
{
    std::unique_lock<std::mutex> lock(mutex_);
    tuning_ = tuning;
    if (fd_ < 0)
        return false;
    // Supply and tone changes, like messages, need the bus quiet after a message.
    waitForQuietBus(messageEnd_);
    setVoltage(tuning);
    setTone(false);
    for (const auto& message : waiting_)
        sendMessage(message);
    waiting_.clear();
    waitForQuietBus(messageEnd_);
    if (card::isHighBand(tuning))
        setTone(true);

    if (!round_.begin(tuning, searchCandidates(tuning.modulation, systems_)))
        expiredInRound_ = 0;
    if (round_.empty()) {
        searching_ = false;
        if (!round_.noneReported) {
            round_.noneReported = true;
            const char* wanted = tuning.modulation == card::kModulationDvbS2 ? "DVB-S2"
                : tuning.modulation == card::kModulationQpsk                 ? "DVB-S"
                                                                             : "satellite delivery system";
            debug(std::string("the frontend offers no ") + wanted + ": Unlocked");
        }
        return true;
    }
    startAttempt();
    if (!searcher_.joinable())
        searcher_ = std::thread([this] { searchLoop(); });
    lock.unlock();
    wake_.notify_all();
    return true;
}

bool DvbFrontend::lockedNow()
{
    // Read as plain bits: a driver may set flags the enumeration does not name.
    uint32_t state = 0;
    static_assert(sizeof state == sizeof(fe_status_t), "FE_READ_STATUS writes an enum fe_status");
    if (devices_.ioctl(fd_, FE_READ_STATUS, &state) != 0) {
        reportOnce("status", std::string("the frontend refuses to tell its lock: ") + std::strerror(errno));
        return false;
    }
    return (state & FE_HAS_LOCK) != 0;
}

void DvbFrontend::searchLoop()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (!searching_ || fd_ < 0) {
            wake_.wait(lock, [this] { return stopping_ || (searching_ && fd_ >= 0); });
            continue;
        }
        const uint64_t attempt = attempt_;
        const auto poll = round_.size() == 1 && round_.unlockedReported ? kIdlePoll : kLockPoll;
        if (wake_.wait_for(lock, poll, [&] { return stopping_ || attempt_ != attempt || !searching_; }))
            continue;
        if (lockedNow()) {
            debug("locked with " + candidateName(round_.current()) + " on " + transponderName(tuning_));
            round_.lockedOnCurrent();
            searching_ = false;
            continue;
        }
        const auto wait = lockWaitForTests_.value_or(lockWait(tuning_.symbolRate));
        if (std::chrono::steady_clock::now() - attemptAt_ < wait)
            continue;
        if (++expiredInRound_ >= round_.size() && !round_.unlockedReported) {
            round_.unlockedReported = true;
            std::string tried;
            for (const Candidate& candidate : round_.candidates())
                tried += (tried.empty() ? "" : ", ") + candidateName(candidate);
            debug("no lock on " + transponderName(tuning_) + " with " + tried + ": Unlocked"
                  + (round_.size() > 1 ? ", the search goes on" : ""));
        }
        if (round_.size() > 1) {
            if (round_.advance())
                startAttempt();
            else
                searching_ = false;
        } else {
            attemptAt_ = std::chrono::steady_clock::now();
        }
    }
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
    s.locked = lockedNow();
    // Strength in 0.001 dBm: -90 dBm no signal .. -30 dBm strong; carrier to
    // noise in 0.001 dB: 0 dB useless .. 15 dB excellent.
    s.strength = statPercent(DTV_STAT_SIGNAL_STRENGTH, -90000, 60000, FE_READ_SIGNAL_STRENGTH);
    s.quality = s.locked ? statPercent(DTV_STAT_CNR, 0, 15000, FE_READ_SNR) : 0;
    return s;
}

} // namespace linuxdvb
