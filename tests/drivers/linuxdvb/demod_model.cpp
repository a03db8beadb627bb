#include "tests/drivers/linuxdvb/demod_model.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace demodmodel {

namespace {

int64_t steadyMicroseconds()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string rollOffName(uint32_t r)
{
    switch (r) {
    case ROLLOFF_35: return "0.35";
    case ROLLOFF_25: return "0.25";
    case ROLLOFF_20: return "0.20";
    case ROLLOFF_AUTO: return "auto";
    default: return std::to_string(r);
    }
}

bool sameCarrier(const Transponder& a, const Transponder& b)
{
    return a.port == b.port && a.horizontal == b.horizontal && a.frequencyMhz == b.frequencyMhz;
}

std::string pilotName(uint32_t p)
{
    switch (p) {
    case PILOT_ON: return "on";
    case PILOT_OFF: return "off";
    case PILOT_AUTO: return "auto";
    default: return std::to_string(p);
    }
}

} // namespace

std::string modulationName(uint32_t modulation)
{
    switch (modulation) {
    case QPSK: return "QPSK";
    case PSK_8: return "8PSK";
    case APSK_16: return "16APSK";
    case APSK_32: return "32APSK";
    case QAM_AUTO: return "AUTO";
    default: return std::to_string(modulation);
    }
}

DemodModel::DemodModel() : clock(steadyMicroseconds), toneOffAt_(std::numeric_limits<int64_t>::min() / 2) {}

void DemodModel::busEvent(const char* what)
{
    if (!last_.pending)
        return;
    const int64_t t = now();
    if (last_.counts && t < last_.end + kQuietUs) {
        last_.counts = false;
        violations.push_back(std::string(what)
                             + (t < last_.end ? std::string(" during a DiSEqC message")
                                              : " " + std::to_string((t - last_.end) / 1000)
                                                    + " ms after the end of a DiSEqC message"));
    }
    settle();
}

void DemodModel::settle()
{
    if (!last_.pending || now() < last_.end + kQuietUs)
        return;
    last_.pending = false;
    const auto& b = last_.bytes;
    // A committed-switch command (E0/E1 10 38 Fx) selects input (x >> 2) & 3.
    if (last_.counts && b.size() >= 4 && (b[0] == 0xE0 || b[0] == 0xE1) && b[1] == 0x10 && b[2] == 0x38) {
        port_ = (b[3] >> 2) & 3;
        switchCommands.push_back(port_);
    }
}

void DemodModel::diseqc(const dvb_diseqc_master_cmd& command)
{
    busEvent("a DiSEqC message");
    const int64_t t = now();
    Message m;
    m.bytes.assign(command.msg, command.msg + std::min<size_t>(command.msg_len, sizeof command.msg));
    m.end = t + kDiseqcByteUs * static_cast<int64_t>(m.bytes.size());
    m.pending = true;
    m.counts = true;
    auto broke = [&](const std::string& why) {
        if (m.counts)
            violations.push_back("DiSEqC message ignored: " + why);
        m.counts = false;
    };
    if (voltage_ == SEC_VOLTAGE_OFF)
        broke("the LNB supply is off");
    else if (t - voltageAt_ < kQuietUs)
        broke("the supply changed " + std::to_string((t - voltageAt_) / 1000) + " ms before");
    if (tone_)
        broke("the 22 kHz tone is on");
    else if (t - toneOffAt_ < kQuietUs)
        broke("the tone went off " + std::to_string((t - toneOffAt_) / 1000) + " ms before");
    if (!last_.bytes.empty() && t < last_.end + kQuietUs)
        broke(t < last_.end ? std::string("during the previous message")
                            : "only " + std::to_string((t - last_.end) / 1000) + " ms after the previous message");
    last_ = m;
}

int DemodModel::matchingTransponder(bool forLock)
{
    settle();
    const Cache& c = tuned_;
    if (!isTuned_ || voltage_ == SEC_VOLTAGE_OFF)
        return -1;
    const bool horizontal = voltage_ == SEC_VOLTAGE_18;
    int64_t rfKhz;
    if (lnb == Lnb::CBand)
        rfKhz = 5150000 - static_cast<int64_t>(c.frequency);
    else
        rfKhz = static_cast<int64_t>(c.frequency) + (tone_ ? 10600000 : 9750000);
    for (size_t i = 0; i < transponders.size(); ++i) {
        const Transponder& t = transponders[i];
        if (t.port != port_ || t.horizontal != horizontal
            || std::llabs(rfKhz - static_cast<int64_t>(t.frequencyMhz) * 1000) > kToleranceKhz)
            continue;
        if (lnb == Lnb::Universal && (t.frequencyMhz >= 11700) != tone_)
            continue;
        if (!forLock)
            return static_cast<int>(i);
        const int64_t wantedRate = static_cast<int64_t>(t.symbolRateKsps) * 1000;
        if (std::llabs(static_cast<int64_t>(c.symbolRate) - wantedRate) > wantedRate / 200 || c.system != t.system)
            continue;
        if (t.system == SYS_DVBS && (c.rollOff != ROLLOFF_35 || c.modulation != QPSK))
            continue;
        if (t.system == SYS_DVBS2 && c.modulation != t.modulation && !(c.modulation == QAM_AUTO && variant.qamAuto))
            continue;
        if (!streamSelected(i))
            continue;
        return static_cast<int>(i);
    }
    return -1;
}

bool DemodModel::streamSelected(size_t i) const
{
    const Transponder& t = transponders[i];
    const uint32_t id = tuned_.streamId;
    uint32_t gold = tuned_.scrambling;
    if (variant.plsInStreamId) {
        gold = 0;
        if (id != NO_STREAM_ID_FILTER && (id >> 8 & 0x3FFFF) != 0) {
            const uint32_t code = id >> 8 & 0x3FFFF;
            if ((id >> 26 & 3) == 1)
                gold = code;
            else // a root code: walk the sequence to it
                for (uint32_t x = 1, n = 0; n < 0x3FFFF; ++n, x = (((x ^ (x >> 7)) & 1) << 17) | (x >> 1))
                    if (x == code) {
                        gold = n;
                        break;
                    }
        }
    }
    if (t.plsGold != gold)
        return false;
    if (t.isi < 0)
        return true;
    const bool baseband = (id & 0x80000000u) != 0 && id != NO_STREAM_ID_FILTER;
    const bool filtered = variant.multistream && !baseband && id != NO_STREAM_ID_FILTER
        && !(variant.filterOffAbove255 && id > 255);
    if (filtered || baseband)
        return !filtered || static_cast<int>(id & 0xFF) == t.isi;
    // Without a filter the demodulator takes the carrier's first stream.
    for (size_t k = 0; k < i; ++k)
        if (sameCarrier(transponders[k], t))
            return false;
    return true;
}

int DemodModel::lockedTransponder() { return now() >= lockAt_ ? matchingTransponder(true) : -1; }

std::vector<int> DemodModel::basebandStreams()
{
    const int locked = lockedTransponder();
    if (!basebandFrames() || locked < 0)
        return {};
    const Transponder& carrier = transponders[static_cast<size_t>(locked)];
    if (carrier.isi < 0)
        return {-1};
    std::vector<int> all;
    for (size_t i = 0; i < transponders.size(); ++i) {
        const Transponder& t = transponders[i];
        if (!sameCarrier(t, carrier) || t.isi < 0 || !streamSelected(i))
            continue;
        if (t.isi == static_cast<int>(tuned_.streamId & 0xFF))
            return {t.isi};
        all.push_back(t.isi);
    }
    return all;
}

int DemodModel::switchPort()
{
    settle();
    return port_;
}

int DemodModel::setProperties(dtv_properties* p)
{
    for (uint32_t i = 0; i < p->num; ++i) {
        const dtv_property& q = p->props[i];
        switch (q.cmd) {
        case DTV_CLEAR:
            // As the kernel clears its cache for a satellite system.
            cache_.modulation = QPSK;
            cache_.rollOff = ROLLOFF_35;
            cache_.pilot = PILOT_AUTO;
            cache_.fec = FEC_AUTO;
            cache_.streamId = NO_STREAM_ID_FILTER;
            cache_.scrambling = 0;
            break;
        case DTV_DELIVERY_SYSTEM: {
            bool known = false;
            for (uint32_t s : variant.systems)
                known = known || s == q.u.data;
            if (!known) {
                errno = EINVAL;
                return -1;
            }
            cache_.system = q.u.data;
            break;
        }
        case DTV_FREQUENCY: cache_.frequency = q.u.data; break;
        case DTV_SYMBOL_RATE: cache_.symbolRate = q.u.data; break;
        case DTV_INNER_FEC: cache_.fec = q.u.data; break;
        case DTV_MODULATION: cache_.modulation = q.u.data; break;
        case DTV_ROLLOFF: cache_.rollOff = q.u.data; break;
        case DTV_PILOT: cache_.pilot = q.u.data; break;
        case DTV_INVERSION: break;
        case DTV_STREAM_ID: cache_.streamId = q.u.data; break;
        case DTV_SCRAMBLING_SEQUENCE_INDEX:
            if (variant.plsInStreamId) {
                errno = EINVAL;
                return -1;
            }
            cache_.scrambling = q.u.data;
            break;
        case DTV_TUNE: {
            for (uint32_t m : variant.refusedModulations)
                if (cache_.system == SYS_DVBS2 && cache_.modulation == m) {
                    errno = EINVAL;
                    return -1;
                }
            if (variant.refusesAutoRollOff && cache_.system == SYS_DVBS2
                && (cache_.rollOff == ROLLOFF_AUTO || cache_.pilot == PILOT_AUTO)) {
                errno = EINVAL;
                return -1;
            }
            busEvent("a tuning");
            tuned_ = cache_;
            isTuned_ = true;
            lockAt_ = now() + lockDelayUs;
            tunings.push_back(std::string(cache_.system == SYS_DVBS2 ? "S2 " : cache_.system == SYS_DVBS ? "S " : "? ")
                              + modulationName(cache_.modulation) + " if=" + std::to_string(cache_.frequency)
                              + " sr=" + std::to_string(cache_.symbolRate) + " fec=" + std::to_string(cache_.fec)
                              + " rolloff=" + rollOffName(cache_.rollOff) + " pilot=" + pilotName(cache_.pilot)
                              + (cache_.streamId != NO_STREAM_ID_FILTER ? " stream=" + std::to_string(cache_.streamId) : "")
                              + (cache_.scrambling != 0 ? " gold=" + std::to_string(cache_.scrambling) : ""));
            break;
        }
        default: errno = EINVAL; return -1;
        }
    }
    return 0;
}

int DemodModel::getProperties(dtv_properties* p)
{
    for (uint32_t i = 0; i < p->num; ++i) {
        dtv_property& q = p->props[i];
        if (q.cmd == DTV_ENUM_DELSYS && !variant.noEnumDelsys) {
            q.u.buffer.len = static_cast<uint32_t>(std::min(variant.systems.size(), sizeof q.u.buffer.data));
            for (uint32_t k = 0; k < q.u.buffer.len; ++k)
                q.u.buffer.data[k] = static_cast<uint8_t>(variant.systems[k]);
        } else if (q.cmd == DTV_STAT_SIGNAL_STRENGTH || q.cmd == DTV_STAT_CNR) {
            q.u.st.len = 0;
            if (!variant.v5Stats)
                continue;
            const int carrier = matchingTransponder(false);
            const int locked = lockedTransponder();
            q.u.st.len = 1;
            dtv_stats& s = q.u.st.stat[0];
            if (q.cmd == DTV_STAT_CNR) {
                s.scale = locked >= 0 ? FE_SCALE_DECIBEL : FE_SCALE_NOT_AVAILABLE;
                s.svalue = locked >= 0 ? transponders[static_cast<size_t>(locked)].cnrMilliDb : 0;
            } else if (variant.strengthInDbm) {
                s.scale = FE_SCALE_DECIBEL;
                s.svalue = carrier >= 0 ? transponders[static_cast<size_t>(carrier)].strengthMilliDbm : -85000;
            } else {
                s.scale = FE_SCALE_RELATIVE;
                s.uvalue = carrier >= 0 ? 0xC000 : 0x0800;
            }
        } else {
            errno = EINVAL;
            return -1;
        }
    }
    return 0;
}

int DemodModel::ioctl(unsigned long request, void* argument)
{
    const uintptr_t value = reinterpret_cast<uintptr_t>(argument);
    if (request == variant.refusedRequest) {
        errno = EOPNOTSUPP;
        return -1;
    }
    switch (request) {
    case FE_GET_INFO: {
        auto* info = static_cast<dvb_frontend_info*>(argument);
        std::memset(info, 0, sizeof *info);
        std::strcpy(info->name, "Model DVB-S2 demodulator");
        info->type = FE_QPSK;
        info->frequency_min = 950000;
        info->frequency_max = 2150000;
        info->symbol_rate_min = 1000000;
        info->symbol_rate_max = 45000000;
        uint32_t caps = FE_CAN_INVERSION_AUTO | FE_CAN_FEC_AUTO | FE_CAN_QPSK;
        for (uint32_t s : variant.systems)
            if (s == SYS_DVBS2)
                caps |= FE_CAN_2G_MODULATION;
        if (variant.qamAuto)
            caps |= FE_CAN_QAM_AUTO;
        if (variant.multistream)
            caps |= FE_CAN_MULTISTREAM;
        info->caps = static_cast<fe_caps>(caps);
        return 0;
    }
    case FE_SET_VOLTAGE:
        if (value != static_cast<uintptr_t>(voltage_)) {
            busEvent("a supply change");
            voltage_ = static_cast<fe_sec_voltage>(value);
            voltageAt_ = now();
        }
        return 0;
    case FE_SET_TONE:
        if ((value == SEC_TONE_ON) != tone_) {
            busEvent("a tone change");
            tone_ = value == SEC_TONE_ON;
            if (!tone_)
                toneOffAt_ = now();
        }
        return 0;
    case FE_DISEQC_SEND_MASTER_CMD: diseqc(*static_cast<dvb_diseqc_master_cmd*>(argument)); return 0;
    case FE_SET_PROPERTY: return setProperties(static_cast<dtv_properties*>(argument));
    case FE_GET_PROPERTY: return getProperties(static_cast<dtv_properties*>(argument));
    case FE_READ_STATUS: {
        unsigned status = 0;
        if (matchingTransponder(false) >= 0)
            status |= FE_HAS_SIGNAL | FE_HAS_CARRIER;
        if (lockedTransponder() >= 0)
            status |= FE_HAS_VITERBI | FE_HAS_SYNC | FE_HAS_LOCK;
        *static_cast<fe_status_t*>(argument) = static_cast<fe_status_t>(status);
        return 0;
    }
    case FE_READ_SIGNAL_STRENGTH: *static_cast<uint16_t*>(argument) = matchingTransponder(false) >= 0 ? 0xC000 : 0x0800; return 0;
    case FE_READ_SNR: *static_cast<uint16_t*>(argument) = lockedTransponder() >= 0 ? 0xA000 : 0; return 0;
    }
    errno = ENOTTY;
    return -1;
}

} // namespace demodmodel
