// The Linux DVB driver against fake device nodes: ioctl sequences and values
// for the LNB kinds, DiSEqC, the supply, statistics, and the stream.
#include "drivers/linuxdvb/dvb_card.h"
#include "drivers/linuxdvb/dvb_config.h"
#include "drivers/linuxdvb/dvb_frontend.h"
#include "drivers/linuxdvb/dvb_stream.h"

#include <gtest/gtest.h>

#include <linux/dvb/dmx.h>
#include <linux/dvb/frontend.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

using namespace linuxdvb;

namespace {

std::string hex(const uint8_t* p, size_t n)
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
    std::vector<uint32_t> deliverySystems = {SYS_DVBS, SYS_DVBS2};
    // dvr0: chunks to read; an empty chunk with an errno fails one read.
    struct Chunk {
        std::vector<uint8_t> bytes;
        int error = 0;
    };
    std::deque<Chunk> dvr;
    std::vector<std::string> calls;

    int open(const std::string& path, int) override
    {
        const std::string base = "/dev/dvb/adapter9/";
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
        for (const char* n : {"frontend0", "demux0", "dvr0"})
            if (path == std::string("/dev/dvb/adapter9/") + n)
                return true;
        return false;
    }
    int close(int fd) override
    {
        calls.push_back("close " + names_[fd]);
        names_.erase(fd);
        return 0;
    }
    int waitReadable(int, int) override { return dvr.empty() ? 0 : 1; }
    ssize_t read(int, void* buffer, size_t size) override
    {
        if (dvr.empty()) {
            errno = EAGAIN;
            return -1;
        }
        Chunk& c = dvr.front();
        if (c.error) {
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
        const uintptr_t value = reinterpret_cast<uintptr_t>(arg);
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

card::Tuning universal(uint32_t carrierMhz, int32_t polarisation, int32_t modulation = 20)
{
    card::Tuning t;
    t.carrierKhz = carrierMhz * 1000;
    t.polarisation = polarisation;
    t.symbolRateKsps = 27500;
    t.modulation = modulation;
    return t;
}

std::vector<std::string> after(const std::vector<std::string>& calls, size_t from)
{
    return std::vector<std::string>(calls.begin() + static_cast<long>(from), calls.end());
}

class DvbFrontendTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(frontend.open(nullptr)); }
    std::vector<std::string> commit(const card::Tuning& t)
    {
        const size_t from = devices.calls.size();
        EXPECT_TRUE(frontend.commit(t));
        return after(devices.calls, from);
    }
    FakeDevices devices;
    DvbFrontend frontend{devices, 9, 0};
};

} // namespace

TEST_F(DvbFrontendTest, UniversalLnbBandsAndPolarisations)
{
    EXPECT_EQ(frontend.name(), "Fake DVB-S2 frontend");
    EXPECT_EQ(commit(universal(11000, card::kPolarisationVertical)),
              (std::vector<std::string>{"voltage 13", "tone off",
                                        "tune clear S if=1250000 sr=27500000 fec=9 rolloff=auto pilot=auto go"}));
    EXPECT_EQ(commit(universal(12188, card::kPolarisationHorizontal, 21)),
              (std::vector<std::string>{"voltage 18", "tone off", "tone on",
                                        "tune clear S2 if=1588000 sr=27500000 fec=9 rolloff=auto pilot=auto go"}));
    card::Tuning undefined = universal(11700, card::kPolarisationHorizontal, 0);
    undefined.innerFec = 3;
    EXPECT_EQ(commit(undefined).back(), "tune clear S if=1100000 sr=27500000 fec=3 rolloff=auto pilot=auto go")
        << "the switch frequency itself is high band; modulation 0 is DVB-S";
}

TEST_F(DvbFrontendTest, CBandAndSingleOscillatorLnbsNeverUseTheTone)
{
    card::Tuning c = universal(3800, card::kPolarisationHorizontal);
    c.lofLowKhz = 5150000;
    c.lofHighKhz = 5150000;
    c.switchKhz = 0;
    EXPECT_EQ(commit(c), (std::vector<std::string>{"voltage 18", "tone off",
                                                   "tune clear S if=1350000 sr=27500000 fec=9 rolloff=auto pilot=auto go"}));
    card::Tuning single = universal(11900, card::kPolarisationVertical);
    single.lofLowKhz = 10750000;
    single.lofHighKhz = 0;
    single.switchKhz = 0;
    EXPECT_EQ(commit(single).back(), "tune clear S if=1150000 sr=27500000 fec=9 rolloff=auto pilot=auto go");
}

TEST_F(DvbFrontendTest, DvbS2FallsBackToDvbSWhenRefused)
{
    devices.refuseDvbS2 = true;
    const auto calls = commit(universal(11000, card::kPolarisationVertical, 21));
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[2], "tune clear S2 refused");
    EXPECT_EQ(calls[3], "tune clear S if=1250000 sr=27500000 fec=9 rolloff=auto pilot=auto go");
}

TEST_F(DvbFrontendTest, DiseqcGoesOutAtOnceWithTheToneOffAndOnlyInLinuxLengths)
{
    commit(universal(12188, card::kPolarisationHorizontal)); // tone on now
    const size_t from = devices.calls.size();
    const uint8_t switchPort[] = {0xE0, 0x10, 0x38, 0xF3};
    const uint8_t gotoX[] = {0xE0, 0x31, 0x6B, 0x05};
    ASSERT_TRUE(frontend.sendDiseqc(switchPort, sizeof switchPort));
    ASSERT_TRUE(frontend.sendDiseqc(gotoX, sizeof gotoX));
    EXPECT_EQ(after(devices.calls, from),
              (std::vector<std::string>{"tone off", "diseqc e0 10 38 f3", "diseqc e0 31 6b 05"}));
    const uint8_t longMessage[7] = {0xE0, 0x10, 0x38, 0xF3, 0, 0, 0};
    EXPECT_FALSE(frontend.sendDiseqc(longMessage, 7));
    EXPECT_FALSE(frontend.sendDiseqc(longMessage, 2));
    EXPECT_EQ(devices.calls.size(), from + 3);
    // The next tuning sets the tone again for its band.
    const auto calls = commit(universal(12188, card::kPolarisationHorizontal));
    EXPECT_EQ(calls[2], "tone on");
}

TEST_F(DvbFrontendTest, MessagesIssuedWhileClosedWaitForTheCommit)
{
    frontend.close();
    const uint8_t message[] = {0xE0, 0x10, 0x38, 0xF0};
    ASSERT_TRUE(frontend.sendDiseqc(message, sizeof message));
    ASSERT_TRUE(frontend.open(nullptr));
    const auto calls = commit(universal(11000, card::kPolarisationVertical));
    EXPECT_EQ(calls[0], "voltage 13");
    EXPECT_EQ(calls[1], "tone off");
    EXPECT_EQ(calls[2], "diseqc e0 10 38 f0");
}

TEST_F(DvbFrontendTest, SupplyOffAndBackToThePolarisationsVoltage)
{
    commit(universal(11000, card::kPolarisationVertical));
    const size_t from = devices.calls.size();
    ASSERT_TRUE(frontend.setLnbPower(false));
    EXPECT_FALSE(frontend.lnbPowered());
    ASSERT_TRUE(frontend.setLnbPower(true));
    EXPECT_EQ(after(devices.calls, from), (std::vector<std::string>{"voltage off", "voltage 13"}));
    frontend.setLnbPower(false);
    EXPECT_EQ(commit(universal(11000, card::kPolarisationHorizontal))[0], "voltage off")
        << "a tuning does not switch the supply back on";
}

TEST_F(DvbFrontendTest, StatisticsMapToPercentages)
{
    devices.statScale = FE_SCALE_RELATIVE;
    devices.strengthValue = 65535;
    devices.cnrValue = 32768;
    SignalStatus s = frontend.status();
    EXPECT_TRUE(s.locked);
    EXPECT_EQ(s.strength, 100);
    EXPECT_EQ(s.quality, 50);

    devices.statScale = FE_SCALE_DECIBEL;
    devices.strengthValue = -60000; // -60 dBm
    devices.cnrValue = 9000;        // 9 dB
    s = frontend.status();
    EXPECT_EQ(s.strength, 50);
    EXPECT_EQ(s.quality, 60);
    devices.strengthValue = -120000;
    devices.cnrValue = 40000;
    s = frontend.status();
    EXPECT_EQ(s.strength, 0);
    EXPECT_EQ(s.quality, 100);

    devices.v5Stats = false;
    devices.legacyStrength = 0x8000;
    devices.legacySnr = 0xFFFF;
    s = frontend.status();
    EXPECT_EQ(s.strength, 50);
    EXPECT_EQ(s.quality, 100);

    devices.locked = false;
    s = frontend.status();
    EXPECT_FALSE(s.locked);
    EXPECT_EQ(s.quality, 0) << "no quality without lock";
}

TEST(DvbStreamTest, WholeMultiplexOrOneFilterPerPid)
{
    FakeDevices devices;
    DvbStream stream(devices, 9);
    ASSERT_TRUE(stream.start({0x100, 0x101}, nullptr));
    EXPECT_TRUE(stream.wholeMultiplex());
    EXPECT_EQ(devices.calls, (std::vector<std::string>{"open dvr0", "buffer 16777216", "open demux0",
                                                       "filter 8192 tap start"}));
    stream.stop();

    FakeDevices refusing;
    refusing.refuseWholeMultiplex = true;
    DvbStream fallback(refusing, 9);
    ASSERT_TRUE(fallback.start({0x100, 0x101}, nullptr));
    EXPECT_FALSE(fallback.wholeMultiplex());
    EXPECT_EQ(refusing.calls, (std::vector<std::string>{"open dvr0", "buffer 16777216", "open demux0",
                                                        "filter 8192 tap start", "close demux0", "open demux0",
                                                        "filter 256 tap start", "open demux0", "filter 257 tap start"}));
}

TEST(DvbStreamTest, OverflowLosesOnlyItsBytesAndAVanishedDeviceEndsTheStream)
{
    FakeDevices devices;
    devices.dvr = {{std::vector<uint8_t>(1000, 0x47)}, {{}, EOVERFLOW}, {std::vector<uint8_t>(500, 0x11)}, {{}, ENODEV}};
    DvbStream stream(devices, 9);
    ASSERT_TRUE(stream.start({}, nullptr));
    std::vector<uint8_t> buffer(65536);
    size_t n = 0, total = 0;
    std::vector<DvbStream::ReadResult> results;
    for (int i = 0; i < 10; ++i) {
        const auto r = stream.read(buffer.data(), buffer.size(), &n, 10);
        total += n;
        results.push_back(r);
        if (r == DvbStream::ReadResult::Ended)
            break;
    }
    EXPECT_EQ(total, 1500u);
    EXPECT_EQ(stream.overflows(), 1u);
    EXPECT_EQ(results.back(), DvbStream::ReadResult::Ended);
    EXPECT_EQ(results.front(), DvbStream::ReadResult::Data);
}

TEST(DvbStreamTest, MissingDeviceNamesIt)
{
    FakeDevices devices;
    DvbStream stream(devices, 3);
    std::string error;
    EXPECT_FALSE(stream.start({}, &error));
    EXPECT_NE(error.find("/dev/dvb/adapter3/dvr0"), std::string::npos) << error;
}

TEST(DvbConfig, CardEntriesDiscoveryAndMac)
{
    auto c = parseCardEntry("dvb:9:0:cedar");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->adapter, 9);
    EXPECT_EQ(c->frontend, 0);
    EXPECT_EQ(c->model, "cedar");
    c = parseCardEntry("dvb:2:maple");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->adapter, 2);
    EXPECT_EQ(c->frontend, 0);
    for (const char* bad : {"dvb:", "dvb:x:cedar", "dvb:1:oak", "sim:cedar", "dvb:1:2:3:cedar", "dvb:1000:cedar"})
        EXPECT_FALSE(parseCardEntry(bad)) << bad;

    FakeDevices devices;
    const auto found = findSatelliteAdapter(devices);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->adapter, 9);
    EXPECT_EQ(found->model, "cedar");
    FakeDevices terrestrial;
    terrestrial.deliverySystems = {SYS_DVBT, SYS_DVBT2};
    EXPECT_FALSE(findSatelliteAdapter(terrestrial));

    unsetenv("KEST_DVB_MAC");
    const auto mac = cardMacAddress(9, 0, "Fake DVB-S2 frontend");
    EXPECT_EQ(mac, cardMacAddress(9, 0, "Fake DVB-S2 frontend")) << "stable";
    EXPECT_NE(mac, cardMacAddress(8, 0, "Fake DVB-S2 frontend"));
    EXPECT_EQ(mac[0], 0x02) << "locally administered unicast";
    setenv("KEST_DVB_MAC", "02:11:22:33:44:55", 1);
    EXPECT_EQ(cardMacAddress(9, 0, "x"), (std::array<uint8_t, 6>{0x02, 0x11, 0x22, 0x33, 0x44, 0x55}));
    unsetenv("KEST_DVB_MAC");
}

TEST(DvbFec, PanelCodesToLinuxRates)
{
    EXPECT_EQ(linuxCodeRate(0), static_cast<uint32_t>(FEC_AUTO));
    EXPECT_EQ(linuxCodeRate(1), static_cast<uint32_t>(FEC_1_2));
    EXPECT_EQ(linuxCodeRate(4), static_cast<uint32_t>(FEC_3_5));
    EXPECT_EQ(linuxCodeRate(7), static_cast<uint32_t>(FEC_AUTO)) << "5/11 and 8/9 are sent alike";
    EXPECT_EQ(linuxCodeRate(8), static_cast<uint32_t>(FEC_9_10));
    EXPECT_EQ(linuxCodeRate(-1), static_cast<uint32_t>(FEC_AUTO));
}

TEST(DvbCardDeviceTest, CommandBlocksAndTheCollectedTuning)
{
    FakeDevices devices;
    DvbCardDevice card(devices, DvbCard{9, 0, "cedar"});
    ASSERT_TRUE(card.open(nullptr));
    card.setPending(universal(11000, card::kPolarisationVertical));
    EXPECT_EQ(devices.calls.size(), 1u) << "nothing reaches the frontend before the commit";
    ASSERT_TRUE(card.commit());
    EXPECT_EQ(devices.calls.back(), "tune clear S if=1250000 sr=27500000 fec=9 rolloff=auto pilot=auto go");

    std::vector<uint8_t> block(card::kCommandBlockSize, 0);
    const uint8_t message[] = {0xE0, 0x31, 0x6E, 0x00};
    std::memcpy(block.data(), message, sizeof message);
    block[card::kDiseqcLengthOffset] = sizeof message;
    block[card::kDiseqcFlagOffset1] = 1;
    block[card::kDiseqcFlagOffset2] = 1;
    ASSERT_TRUE(card.command(block.data(), block.size()));
    EXPECT_EQ(devices.calls.back(), "diseqc e0 31 6e 00");
    block[card::kDiseqcLengthOffset] = 7;
    EXPECT_FALSE(card.command(block.data(), block.size())) << "longer than a Linux DiSEqC message";

    std::vector<uint8_t> power(card::kCommandBlockSize, 0);
    ASSERT_TRUE(card.command(power.data(), power.size()));
    EXPECT_EQ(devices.calls.back(), "voltage off");
    EXPECT_FALSE(card.command(power.data(), 100));
    EXPECT_EQ(card.macAddress()[0], 0x02);
}
