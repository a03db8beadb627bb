#include "drivers/linuxdvb/dvb_card.h"

namespace linuxdvb {

int demuxOf(DvbDevices& devices, const DvbCard& card)
{
    if (devices.exists(devicePath(card.adapter, "demux", card.frontend))
        && devices.exists(devicePath(card.adapter, "dvr", card.frontend)))
        return card.frontend;
    return 0;
}

DvbCardDevice::DvbCardDevice(DvbDevices& devices, const DvbCard& card)
    : card_(card), frontend_(devices, card.adapter, card.frontend), stream_(devices, card.adapter, demuxOf(devices, card))
{
}

bool DvbCardDevice::open(std::string* error) { return frontend_.open(error); }

void DvbCardDevice::close()
{
    stream_.stop();
    frontend_.close();
}

bool DvbCardDevice::command(const uint8_t* block, size_t size)
{
    const card::CardCommand command = card::parseCommandBlock(block, size);
    switch (command.kind) {
    case card::CardCommand::Diseqc:
        return frontend_.sendDiseqc(command.message.data(), command.length);
    case card::CardCommand::LnbPower:
        return frontend_.setLnbPower(command.powerOn);
    case card::CardCommand::Invalid:
        break;
    }
    return false;
}

std::array<uint8_t, 6> DvbCardDevice::macAddress() const
{
    return cardMacAddress(card_.adapter, card_.frontend, frontend_.name());
}

} // namespace linuxdvb
