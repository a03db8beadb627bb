// A Linux DVB satellite frontend driven the way the card is: tuning values
// collected and applied at commit, DiSEqC messages sent as they are issued,
// the LNB supply switched, and lock, strength and quality read back.
//
// The frontend stays open from open() to close(): closing it would switch the
// LNB supply off.
#pragma once

#include "drivers/card/tuning.h"
#include "drivers/linuxdvb/dvb_device.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace linuxdvb {

// BDA inner-FEC code as the tuning panel sends it, to the Linux code rate.
// 0 and the codes without a Linux rate (5/11, and 8/9 which is sent alike) give FEC_AUTO.
uint32_t linuxCodeRate(int32_t bdaCode);

struct SignalStatus {
    bool locked = false;
    int32_t strength = 0; // 0..100
    int32_t quality = 0;  // 0..100
};

class DvbFrontend {
public:
    DvbFrontend(DvbDevices& devices, int adapter, int frontend);
    ~DvbFrontend();
    DvbFrontend(const DvbFrontend&) = delete;
    DvbFrontend& operator=(const DvbFrontend&) = delete;

    // Opens the frontend read-write. False with *error naming the device.
    bool open(std::string* error);
    void close();
    bool isOpen() const;
    // The frontend's name (FE_GET_INFO), empty before open().
    std::string name() const;
    // Whether the frontend offers DVB-S or DVB-S2.
    bool supportsSatellite();

    // Applies a tuning: voltage (13 V vertical, 18 V horizontal, off without
    // supply), tone off, waiting DiSEqC messages, tone on for the high band,
    // then delivery system, frequency, symbol rate, FEC, roll-off and pilot,
    // and DTV_TUNE. DVB-S2 falls back to DVB-S when refused (and back).
    bool commit(const card::Tuning& tuning);
    // Sends a DiSEqC message of 3 to 6 bytes at once (tone off first); other
    // lengths are refused. Messages issued while closed wait for the next commit.
    bool sendDiseqc(const uint8_t* message, size_t length);
    // Switches the LNB supply; on restores the polarisation's voltage.
    bool setLnbPower(bool on);
    bool lnbPowered() const;

    SignalStatus status();

private:
    bool setVoltage(const card::Tuning& tuning);
    bool sendMessage(const std::vector<uint8_t>& message);
    bool tune(const card::Tuning& tuning, uint32_t deliverySystem);
    int32_t statPercent(uint32_t command, long long decibelFloor, long long decibelSpan, unsigned long legacyRequest);

    DvbDevices& devices_;
    int adapter_;
    int frontend_;
    int fd_ = -1;
    std::string name_;
    bool powered_ = true;
    bool toneOn_ = false;
    card::Tuning tuning_;
    std::vector<std::vector<uint8_t>> waiting_;
    mutable std::mutex mutex_; // window thread against the status poller
};

} // namespace linuxdvb
