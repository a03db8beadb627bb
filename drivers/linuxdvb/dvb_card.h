// A Linux DVB adapter as the card's filters see it: the frontend the tuning is
// committed to, the command set (DiSEqC, LNB supply), signal status, the MAC
// address and the transport stream.
#pragma once

#include "drivers/card/command_block.h"
#include "drivers/linuxdvb/dvb_config.h"
#include "drivers/linuxdvb/dvb_frontend.h"
#include "drivers/linuxdvb/dvb_stream.h"

#include <array>

namespace linuxdvb {

// The demux and dvr of a frontend: those numbered like it where the adapter
// has them (one per frontend), the first otherwise.
int demuxOf(DvbDevices& devices, const DvbCard& card);

class DvbCardDevice {
public:
    DvbCardDevice(DvbDevices& devices, const DvbCard& card);

    // Opens the frontend for the whole run. False with *error naming the device.
    bool open(std::string* error);
    void close();

    // A command block: a DiSEqC message or the LNB supply switch. False for
    // anything else and for messages the frontend cannot send.
    bool command(const uint8_t* block, size_t size);

    SignalStatus status() { return frontend_.status(); }
    std::array<uint8_t, 6> macAddress() const;

    DvbStream& stream() { return stream_; }
    DvbFrontend& frontend() { return frontend_; }
    const DvbCard& card() const { return card_; }

private:
    DvbCard card_;
    DvbFrontend frontend_;
    DvbStream stream_;
};

} // namespace linuxdvb
