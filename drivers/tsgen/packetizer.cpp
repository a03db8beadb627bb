#include "drivers/tsgen/packetizer.h"

#include <cstring>

namespace tsgen {

namespace {
constexpr size_t kPayload = kPacketSize - 4;
}

void Packetizer::openPacket(bool unitStart)
{
    packet_[0] = 0x47;
    packet_[1] = static_cast<uint8_t>((unitStart ? 0x40 : 0) | ((pid_ >> 8) & 0x1F));
    packet_[2] = static_cast<uint8_t>(pid_);
    packet_[3] = static_cast<uint8_t>(0x10 | continuity_);
    continuity_ = (continuity_ + 1) & 0x0F;
    startInPacket_ = unitStart;
    if (unitStart) {
        packet_[4] = 0; // the unit starts right behind the pointer
        fill_ = 1;
    }
}

void Packetizer::emit(const uint8_t* data, size_t length, bool unitStart, bool packed, std::vector<uint8_t>& out)
{
    if (unitStart && fill_ > 0) {
        if (!packed) {
            flush(out);
        } else if (startInPacket_) {
            if (kPayload - fill_ < minimumStart_)
                flush(out);
        } else if (kPayload - fill_ >= minimumStart_ + 1) {
            // A unit starts inside a continuation packet: it gains a pointer.
            std::memmove(packet_.data() + 5, packet_.data() + 4, fill_);
            packet_[4] = static_cast<uint8_t>(fill_);
            packet_[1] |= 0x40;
            ++fill_;
            startInPacket_ = true;
        } else {
            flush(out);
        }
    }
    if (unitStart && fill_ == 0)
        openPacket(true);
    while (length > 0) {
        if (fill_ == 0)
            openPacket(false);
        const size_t room = kPayload - fill_;
        const size_t n = length < room ? length : room;
        std::memcpy(packet_.data() + 4 + fill_, data, n);
        fill_ += n;
        data += n;
        length -= n;
        if (fill_ == kPayload)
            flush(out);
    }
}

void Packetizer::flush(std::vector<uint8_t>& out)
{
    if (fill_ == 0)
        return;
    std::memset(packet_.data() + 4 + fill_, 0xFF, kPayload - fill_);
    out.insert(out.end(), packet_.begin(), packet_.end());
    fill_ = 0;
    startInPacket_ = false;
}

} // namespace tsgen
