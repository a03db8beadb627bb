// GSE packets to PDUs: labels, fragments, CRC-32, padding.
#include "decoder/gse.h"

#include "decoder/crc32.h"
#include "decoder/decoder.h"
#include "decoder/pdu_frame.h"

#include <cstring>

namespace {

enum LabelType : uint8_t { Label6 = 0, Label3 = 1, NoLabel = 2, LabelReuse = 3 };

enum class Assembly : uint8_t { Free, Collecting, Discarding };

struct Reassembly {
    Assembly state;
    uint8_t labelType; // Label6, Label3 or NoLabel once re-use is resolved
    uint8_t labelSent; // label bytes in the data (none when re-used)
    uint8_t label[6];
    uint32_t startFrame;
    uint32_t expected; // bytes from the total length field to the end of the CRC-32
    uint32_t held;
    uint8_t data[kGseReassemblyCapacity];
};

struct StreamContext {
    int key; // the input stream + 1; 0: free (as at program load)
    uint32_t frames;
    uint32_t lastUse;
    int open; // reassemblies collecting or discarding
    Reassembly reassemblies[kGseFragmentIds];
};

// Static storage, zero at program load (every context free, every
// reassembly free): set up with the program, and pages of contexts never used
// are never touched.
StreamContext g_streams[kGseStreamContexts];
uint32_t g_useClock = 0;

// The label of the last packet that started a PDU in the current data field.
struct FrameLabel {
    bool valid;
    uint8_t type;
    uint8_t label[6];
};

inline uint16_t read16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

void countGse() { countError(g_decoder.rxGseErrors); }

void release(StreamContext& c, Reassembly& r)
{
    r.state = Assembly::Free;
    r.held = 0;
    --c.open;
}

void abandon(StreamContext& c, Reassembly& r)
{
    if (r.state == Assembly::Collecting)
        countGse();
    release(c, r);
}

void abandonAll(StreamContext& c, bool count)
{
    for (Reassembly& r : c.reassemblies)
        if (r.state != Assembly::Free) {
            if (count)
                abandon(c, r);
            else
                release(c, r);
        }
    c.open = 0;
}

StreamContext& contextFor(int stream)
{
    const int key = stream + 1;
    StreamContext* oldest = &g_streams[0];
    for (StreamContext& c : g_streams) {
        if (c.key == key) {
            c.lastUse = ++g_useClock;
            return c;
        }
        if (c.key == 0 || (oldest->key != 0 && c.lastUse < oldest->lastUse))
            oldest = &c;
    }
    if (oldest->open > 0)
        abandonAll(*oldest, true);
    oldest->key = key;
    oldest->frames = 0;
    oldest->lastUse = ++g_useClock;
    return *oldest;
}

// Reassemblies that have waited too long cannot complete any more.
void expire(StreamContext& c)
{
    for (Reassembly& r : c.reassemblies)
        if (r.state != Assembly::Free && c.frames - r.startFrame >= kGseReassemblyFrames)
            abandon(c, r);
}

inline uint32_t labelLength(uint8_t type) { return type == Label6 ? 6 : type == Label3 ? 3 : 0; }

// Reads the label of a packet that starts a PDU; false for re-use without a
// label before it in the data field.
bool takeLabel(uint8_t type, const uint8_t* at, FrameLabel& frame, uint8_t& resolvedType, uint8_t* label)
{
    if (type == LabelReuse) {
        if (!frame.valid)
            return false;
        resolvedType = frame.type;
        std::memcpy(label, frame.label, 6);
        return true;
    }
    resolvedType = type;
    std::memset(label, 0, 6);
    std::memcpy(label, at, labelLength(type));
    frame.valid = true;
    frame.type = type;
    std::memcpy(frame.label, label, 6);
    return true;
}

// A whole PDU behind its protocol type (extension headers included).
void deliver(uint16_t type, uint8_t labelType, const uint8_t* label, const uint8_t* data, uint32_t length)
{
    switch (skipExtensionHeaders(type, data, length)) {
    case NextHeader::Discard:
        return;
    case NextHeader::Bad:
        countGse();
        return;
    case NextHeader::Pdu:
        break;
    }
    const uint8_t* destination = labelType == Label6 ? label : nullptr;
    if (sendPdu(type, destination, data, length) == PduResult::Malformed)
        countGse();
}

void firstFragment(StreamContext& c, uint8_t labelType, const uint8_t* body, uint32_t length, FrameLabel& frame)
{
    // Fragment ID, total length, protocol type, then the label.
    if (length < 5 || (labelType != LabelReuse && length < 5 + labelLength(labelType))) {
        countGse();
        return;
    }
    Reassembly& r = c.reassemblies[body[0]];
    if (r.state != Assembly::Free)
        abandon(c, r);
    uint8_t resolved = 0;
    uint8_t label[6];
    if (!takeLabel(labelType, body + 5, frame, resolved, label)) {
        countGse();
        return;
    }
    const uint32_t totalLength = read16(body + 1);
    const uint32_t labelSent = labelType == LabelReuse ? 0 : labelLength(labelType);
    ++c.open;
    r.startFrame = c.frames;
    r.expected = 2 + totalLength + 4;
    r.labelType = resolved;
    r.labelSent = static_cast<uint8_t>(labelSent);
    std::memcpy(r.label, label, 6);
    r.held = 0;
    const uint32_t carried = length - 1; // from the total length field on
    if (r.expected > kGseReassemblyCapacity) {
        countError(g_decoder.rxLengthErrors);
        r.state = Assembly::Discarding;
        return;
    }
    if (totalLength < 2 + labelSent || carried > r.expected) {
        r.state = Assembly::Collecting;
        abandon(c, r);
        return;
    }
    r.state = Assembly::Collecting;
    std::memcpy(r.data, body + 1, carried);
    r.held = carried;
}

void laterFragment(StreamContext& c, bool end, const uint8_t* body, uint32_t length)
{
    if (length < 1)
        return;
    Reassembly& r = c.reassemblies[body[0]];
    if (r.state == Assembly::Free)
        return; // its start was lost, or never for this receiver
    if (r.state == Assembly::Discarding) {
        if (end)
            release(c, r);
        return;
    }
    const uint32_t piece = length - 1;
    if (piece > r.expected - r.held || (end && r.held + piece != r.expected)) {
        abandon(c, r);
        return;
    }
    std::memcpy(r.data + r.held, body + 1, piece);
    r.held += piece;
    if (!end)
        return;
    // The CRC-32 runs from the total length field over everything sent.
    const bool intact = crc32Mpeg(r.data, r.held) == 0;
    const uint32_t held = r.held;
    release(c, r); // its bytes stay until the next start on this ID
    if (!intact) {
        countGse();
        return;
    }
    // Total length and protocol type, the label as sent; the CRC-32 behind.
    const uint32_t headerBytes = 4 + r.labelSent;
    deliver(read16(r.data + 2), r.labelType, r.label, r.data + headerBytes, held - headerBytes - 4);
}

} // namespace

void resetGse()
{
    for (StreamContext& c : g_streams) {
        if (c.open > 0)
            abandonAll(c, false);
        c.key = 0;
    }
}

void decodeGseDataField(int stream, const uint8_t* data, uint32_t length)
{
    StreamContext& c = contextFor(stream);
    ++c.frames;
    if (c.open > 0)
        expire(c);
    FrameLabel frame{};
    while (length >= 2) {
        const uint8_t first = data[0];
        const bool start = (first & 0x80) != 0;
        const bool end = (first & 0x40) != 0;
        const uint8_t labelType = (first >> 4) & 0x03;
        const uint32_t gseLength = (uint32_t(first & 0x0F) << 8) | data[1];
        if (!start && !end && labelType == Label6) {
            // Four zero bits: padding to the end of the data field, unless
            // this is a fragment in the middle of a PDU being reassembled.
            const bool continues = gseLength > 1 && 2 + gseLength <= length
                                   && c.reassemblies[data[2]].state != Assembly::Free;
            if (!continues)
                return;
        }
        if (2 + gseLength > length) {
            countGse();
            return;
        }
        const uint8_t* body = data + 2;
        if (start && end) {
            const uint32_t labelBytes = labelType == LabelReuse ? 0 : labelLength(labelType);
            if (gseLength < 2 + labelBytes) {
                countGse();
            } else {
                uint8_t resolved = 0;
                uint8_t label[6];
                if (!takeLabel(labelType, body + 2, frame, resolved, label))
                    countGse();
                else
                    deliver(read16(body), resolved, label, body + 2 + labelBytes, gseLength - 2 - labelBytes);
            }
        } else if (start) {
            firstFragment(c, labelType, body, gseLength, frame);
        } else {
            laterFragment(c, end, body, gseLength);
        }
        data += 2 + gseLength;
        length -= 2 + gseLength;
    }
}
