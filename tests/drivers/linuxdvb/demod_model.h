// A DVB-S/S2 demodulator behind an LNB and a DiSEqC 1.0 switch, answering the
// frontend ioctls as real drivers do. It locks only when a tuning matches one
// of its transponders, and it counts a DiSEqC message only when the bus was
// quiet around it. Not thread-safe: its owner serialises the calls.
#pragma once

#include <linux/dvb/frontend.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace demodmodel {

struct Transponder {
    int port = 0; // DiSEqC 1.0 switch input, 0..3
    bool horizontal = true;
    uint32_t frequencyMhz = 11778;
    uint32_t symbolRateKsps = 27500;
    uint32_t system = SYS_DVBS;
    uint32_t modulation = QPSK;
    int32_t cnrMilliDb = 10500;
    int64_t strengthMilliDbm = -38000;
    // One input stream of a multistream carrier (-1: a single-stream carrier); the
    // transponders of one carrier are its streams, the first listed its first.
    int isi = -1;
    uint32_t plsGold = 0; // the stream's physical-layer scrambling, as a gold code
};

// How the frontend presents itself.
struct Variant {
    std::vector<uint32_t> systems = {SYS_DVBS, SYS_DVBS2};
    bool qamAuto = false;             // reports FE_CAN_QAM_AUTO and locks DVB-S2 with QAM_AUTO
    bool refusesAutoRollOff = false;  // DVB-S2 with ROLLOFF_AUTO or PILOT_AUTO: EINVAL
    bool v5Stats = true;              // DVBv5 statistics; without them only the legacy reads
    bool strengthInDbm = true;        // FE_SCALE_DECIBEL, else FE_SCALE_RELATIVE
    unsigned long refusedRequest = 0; // this ioctl always fails with EOPNOTSUPP
    bool noEnumDelsys = false;        // an old driver: FE_GET_INFO only
    std::vector<uint32_t> refusedModulations; // DVB-S2 modulations it has not: EINVAL
    bool multistream = false;         // FE_CAN_MULTISTREAM, and DTV_STREAM_ID selects the stream
    // A kernel older than DTV_SCRAMBLING_SEQUENCE_INDEX (EINVAL), whose drivers read the PLS
    // from DTV_STREAM_ID: gold or root code in bits 8-25, mode in bits 26-27 (0 root, 1 gold).
    bool plsInStreamId = false;
    // Mainline stv090x: a stream id above 255 switches stream filtering off; otherwise the
    // id is masked to its ISI (stv0910).
    bool filterOffAbove255 = false;
};

enum class Lnb { Universal, CBand };

class DemodModel {
public:
    // Microseconds on the model's clock.
    using Clock = std::function<int64_t()>;
    static constexpr int64_t kQuietUs = 15000;
    static constexpr int64_t kDiseqcByteUs = 13500; // 9 bits of 1.5 ms
    static constexpr uint32_t kToleranceKhz = 3000;

    DemodModel();

    Lnb lnb = Lnb::Universal;
    std::vector<Transponder> transponders;
    Variant variant;
    int64_t lockDelayUs = 0;
    Clock clock; // the steady clock unless replaced

    // A frontend ioctl: 0, or -1 with errno.
    int ioctl(unsigned long request, void* argument);

    // The transponder the demodulator is locked to now, or -1.
    int lockedTransponder();
    // Whether the last tuning asked for baseband frames (bit 31 of DTV_STREAM_ID).
    bool basebandFrames() const { return isTuned_ && (tuned_.streamId & 0x80000000u) != 0 && tuned_.streamId != NO_STREAM_ID_FILTER; }
    // In baseband-frame mode, the input streams whose frames the locked carrier delivers:
    // the one bits 0-7 of DTV_STREAM_ID name when the carrier has it, else every stream the
    // PLS descrambles (bit 31 alone does not tell ISI 0 from none); {-1} on a single-stream
    // carrier; none while unlocked or in transport-stream mode.
    std::vector<int> basebandStreams();
    int switchPort();
    int64_t now() const { return clock(); }
    // Bus rules a DiSEqC message broke (so it did not count), one line each.
    std::vector<std::string> violations;
    // One line per DTV_TUNE: "S2 8PSK if=1178000 sr=27500000 fec=9 rolloff=auto pilot=auto".
    std::vector<std::string> tunings;
    // Every committed-switch message that counted, as the port it selected.
    std::vector<int> switchCommands;

private:
    struct Message {
        std::vector<uint8_t> bytes;
        int64_t end = 0;
        bool counts = false;
        bool pending = false;
    };
    void busEvent(const char* what);
    void settle();
    void diseqc(const dvb_diseqc_master_cmd& command);
    int setProperties(dtv_properties* properties);
    int getProperties(dtv_properties* properties);
    int matchingTransponder(bool forLock);

    fe_sec_voltage voltage_ = SEC_VOLTAGE_OFF;
    int64_t voltageAt_ = 0;
    bool tone_ = false;
    int64_t toneOffAt_;
    Message last_;
    int port_ = 0;
    // The DVBv5 property cache and what the last DTV_TUNE took from it.
    struct Cache {
        uint32_t system = SYS_DVBS;
        uint32_t frequency = 0;
        uint32_t symbolRate = 0;
        uint32_t fec = FEC_AUTO;
        uint32_t modulation = QPSK;
        uint32_t rollOff = ROLLOFF_35;
        uint32_t pilot = PILOT_AUTO;
        uint32_t streamId = NO_STREAM_ID_FILTER;
        uint32_t scrambling = 0;
    };
    // Whether the tuned stream selection reaches transponder i.
    bool streamSelected(size_t i) const;
    Cache cache_;
    Cache tuned_;
    bool isTuned_ = false;
    int64_t lockAt_ = 0;
};

// "QPSK", "8PSK", "16APSK", "32APSK", "AUTO" or the number.
std::string modulationName(uint32_t modulation);

} // namespace demodmodel
