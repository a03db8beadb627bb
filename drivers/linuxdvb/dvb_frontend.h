// A Linux DVB satellite frontend driven the way the card is: tuning values
// collected and applied at commit, DiSEqC messages sent as they are issued,
// the LNB supply switched, and lock, strength and quality read back.
//
// The frontend stays open from open() to close(): closing it would switch the
// LNB supply off. Open choices of system and modulation are searched on a
// thread of the frontend's own, so the caller never waits for a lock.
#pragma once

#include "drivers/card/tuning.h"
#include "drivers/linuxdvb/dvb_device.h"
#include "drivers/linuxdvb/dvb_search.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace linuxdvb {

// BDA inner-FEC code as the tuning panel sends it, to the Linux code rate.
// 0 and the codes without a Linux rate (5/11, and 8/9 which is sent alike) give FEC_AUTO.
uint32_t linuxCodeRate(int32_t bdaCode);

// DTV_STREAM_ID's bit 31: the cards that document it deliver DVB-S2 baseband frames.
constexpr uint32_t kBasebandFramesBit = 0x80000000u;
// The stream selection as the debug output names it: " ISI 3 PLS gold 131070 baseband frames",
// empty for a tuning without one.
std::string streamSelectionName(const SatelliteParams& tuning);

struct SignalStatus {
    bool locked = false;
    int32_t strength = 0; // 0..100
    int32_t quality = 0;  // 0..100
};

// The time the DiSEqC bus is paced by, in microseconds; tests give their own.
class BusClock {
public:
    virtual ~BusClock() = default;
    virtual int64_t nowUs() = 0;
    virtual void sleepUs(int64_t us) = 0;
};
// The steady clock, sleeping through Sleep() (so tests that replace Sleep need not wait).
BusClock& systemBusClock();

class DvbFrontend {
public:
    // Quiet bus around every DiSEqC message, supply and tone change, as switches need it.
    static constexpr int64_t kBusQuietUs = 15000;

    DvbFrontend(DvbDevices& devices, int adapter, int frontend, BusClock& clock = systemBusClock());
    ~DvbFrontend();
    DvbFrontend(const DvbFrontend&) = delete;
    DvbFrontend& operator=(const DvbFrontend&) = delete;

    // Opens the frontend read-write. False with *error naming the device.
    bool open(std::string* error);
    // Ends a search and closes the frontend.
    void close();
    bool isOpen() const;
    // The frontend's name (FE_GET_INFO), empty before open().
    std::string name() const;
    // Whether the frontend offers DVB-S or DVB-S2.
    bool supportsSatellite();

    // Applies a tuning: supply voltage (13 V vertical, 18 V horizontal, off
    // without supply), tone off, waiting DiSEqC messages, tone on for the high
    // band, then the first candidate of the search (see dvb_search.h). The
    // frontend's refusals are said in the debug output and leave it unlocked:
    // false only when the frontend is closed.
    bool commit(const SatelliteParams& tuning);
    // Sends a DiSEqC message of 3 to 6 bytes once the bus has been quiet long
    // enough (supply on, tone off); other lengths are refused, and so is any
    // message while the supply is off. Messages issued while closed wait for the next commit.
    bool sendDiseqc(const uint8_t* message, size_t length);
    // Switches the LNB supply; on restores the polarisation's voltage.
    bool setLnbPower(bool on);
    bool lnbPowered() const;

    SignalStatus status();
    // Replaces lockWait() for the candidates of a search (tests).
    void setLockWaitForTests(std::chrono::milliseconds wait);

private:
    bool setVoltage(const SatelliteParams& tuning);
    void setTone(bool on);
    void waitForQuietBus(int64_t since);
    bool sendMessage(const std::vector<uint8_t>& message);
    bool tune(const SatelliteParams& tuning, const Candidate& candidate);
    // One FE_SET_PROPERTY of a tuning; the two flags pick the ways frontends differ in.
    bool tuneWith(const SatelliteParams& tuning, const Candidate& candidate, bool fixedRollOff, bool plsInStreamId);
    // Tunes the round's current candidate, or the next the frontend accepts.
    bool startAttempt();
    void searchLoop();
    bool lockedNow();
    int32_t statPercent(uint32_t command, long long decibelFloor, long long decibelSpan, unsigned long legacyRequest);
    FrontendSystems readSystems();
    // Says a fault of the frontend once per run.
    void reportOnce(const std::string& key, const std::string& line);

    DvbDevices& devices_;
    BusClock& clock_;
    int adapter_;
    int frontend_;
    int fd_ = -1;
    std::string name_;
    std::set<std::string> reported_;
    FrontendSystems systems_;
    bool powered_ = true;
    SatelliteParams tuning_;
    std::vector<std::vector<uint8_t>> waiting_;

    // What is on the bus, on the bus clock.
    std::optional<int> voltage_; // fe_sec_voltage
    int64_t voltageAt_ = 0;
    std::optional<bool> toneOn_;
    int64_t toneOffAt_ = 0;
    int64_t messageEnd_ = 0;

    // The search, run by searcher_ from one tuning to the next.
    SearchRound round_;
    bool searching_ = false; // a candidate is tuned and its lock not seen yet
    bool fixedRollOff_ = false; // the frontend refuses ROLLOFF_AUTO / PILOT_AUTO for DVB-S2
    bool plsInStreamId_ = false; // the kernel refuses DTV_SCRAMBLING_SEQUENCE_INDEX
    uint64_t attempt_ = 0;
    size_t expiredInRound_ = 0;
    std::chrono::steady_clock::time_point attemptAt_;
    std::optional<std::chrono::milliseconds> lockWaitForTests_;
    bool stopping_ = false;
    std::condition_variable wake_;
    std::thread searcher_;
    mutable std::mutex mutex_; // window thread, status poller and searcher
};

} // namespace linuxdvb
