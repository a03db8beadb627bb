// PDUs of GSE and ULE into Ethernet II frames for the adapter.
#include "decoder/pdu_frame.h"

#include "decoder/adapter.h"
#include "decoder/decoder.h"

#include <cstring>

namespace {

constexpr uint16_t kIpv4 = 0x0800;
constexpr uint16_t kIpv6 = 0x86DD;
constexpr uint32_t kMaxBridgedFrame = kFrameSlotSize;

inline uint16_t read16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

// The destination of a PDU that came without one.
void deriveDestination(uint16_t type, const uint8_t* pdu, uint32_t length, uint8_t* out)
{
    if (type == kIpv4 && length >= 20 && (pdu[16] & 0xF0) == 0xE0) {
        const uint8_t mapped[6] = {0x01, 0x00, 0x5E, static_cast<uint8_t>(pdu[17] & 0x7F), pdu[18], pdu[19]};
        std::memcpy(out, mapped, 6);
        return;
    }
    if (type == kIpv6 && length >= 40 && pdu[24] == 0xFF) {
        const uint8_t mapped[6] = {0x33, 0x33, pdu[36], pdu[37], pdu[38], pdu[39]};
        std::memcpy(out, mapped, 6);
        return;
    }
    std::memcpy(out, g_decoder.macFilter, 6);
}

// Sends frame slot 0 holding `frameLength` bytes, then clears what was written,
// so that the batch is all zeros again apart from what the MPE path keeps track of.
void sendSlot0(uint32_t frameLength)
{
    DecoderState& s = g_decoder;
    FrameBatch& batch = s.frameBatch;
    batch.frameLengths[0] = frameLength;
    batch.frameCount = 1;
    sendFrames(s.adapterHandle, &batch, static_cast<DWORD>(sizeof batch));
    batch.frameCount = 0;
    batch.frameLengths[0] = 0;
    std::memset(batch.frames[0], 0, frameLength);
}

} // namespace

NextHeader skipExtensionHeaders(uint16_t& type, const uint8_t*& data, uint32_t& length)
{
    // Each optional header takes at least two bytes, so the walk ends.
    while (type < kFirstEthertype) {
        const uint32_t headerLength = (type >> 8) & 0x07; // H-LEN, in 16-bit words with the next type
        if (headerLength == 0) {
            if (type == kBridgedFrameType)
                return NextHeader::Pdu;
            return type == kTestSnduType ? NextHeader::Discard : NextHeader::Bad;
        }
        if (headerLength > 5)
            return NextHeader::Bad;
        const uint32_t bytes = 2 * headerLength;
        if (length < bytes)
            return NextHeader::Bad;
        type = read16(data + bytes - 2);
        data += bytes;
        length -= bytes;
    }
    return NextHeader::Pdu;
}

bool stationAccepts(const uint8_t* a)
{
    if (std::memcmp(a, g_decoder.macFilter, 6) == 0)
        return true;
    if (a[0] == 0x01 && a[1] == 0x00 && a[2] == 0x5E)
        return true; // IPv4 multicast
    if (a[0] == 0x33 && a[1] == 0x33)
        return true; // IPv6 multicast
    return a[0] == 0xFF && a[1] == 0xFF && a[2] == 0xFF; // broadcast
}

PduResult sendPdu(uint16_t type, const uint8_t* destination, const uint8_t* pdu, uint32_t length)
{
    DecoderState& s = g_decoder;
    uint8_t* frame = s.frameBatch.frames[0];
    if (type == kBridgedFrameType) {
        // The inner frame goes out as it is, filtered on its own destination.
        if (length < kEthernetHeaderSize)
            return PduResult::Malformed;
        if (length > kMaxBridgedFrame) {
            countError(s.rxLengthErrors);
            return PduResult::TooLong;
        }
        if (!stationAccepts(pdu))
            return PduResult::NotForUs;
        std::memcpy(frame, pdu, length);
        sendSlot0(length);
        return PduResult::Sent;
    }
    if (destination != nullptr && !stationAccepts(destination))
        return PduResult::NotForUs;
    if (length > kMaxDatagramSize) {
        countError(s.rxLengthErrors);
        return PduResult::TooLong;
    }
    if (destination != nullptr)
        std::memcpy(frame, destination, 6);
    else
        deriveDestination(type, pdu, length, frame);
    std::memset(frame + 6, 0, 6);
    frame[12] = static_cast<uint8_t>(type >> 8);
    frame[13] = static_cast<uint8_t>(type);
    std::memcpy(frame + kEthernetHeaderSize, pdu, length);
    sendSlot0(length + static_cast<uint32_t>(kEthernetHeaderSize));
    return PduResult::Sent;
}
