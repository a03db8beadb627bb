// GSE packets, baseband frames, the pseudo transport stream of cards in
// baseband-frame mode, and ULE SNDUs on a PID, built byte by byte from the
// field layouts of TS 102 606-1, EN 302 307 and RFC 4326, with reference
// CRCs computed bit by bit: independent of the decoder they test.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace encap {

using Bytes = std::vector<uint8_t>;

inline uint32_t crc32(const uint8_t* data, size_t length)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) {
        crc ^= uint32_t(data[i]) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

inline uint8_t crc8(const uint8_t* data, size_t length)
{
    uint8_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80) ? static_cast<uint8_t>((crc << 1) ^ 0xD5) : static_cast<uint8_t>(crc << 1);
    }
    return crc;
}

inline void put16(Bytes& b, uint32_t v)
{
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}
inline void put32(Bytes& b, uint32_t v)
{
    put16(b, v >> 16);
    put16(b, v & 0xFFFF);
}
inline void append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

// IPv4 datagram to `destination` (a.b.c.d as 32 bits), `total` bytes.
inline Bytes ipv4To(uint32_t destination, uint32_t total, uint8_t seed = 1)
{
    Bytes d(total);
    for (size_t i = 0; i < d.size(); ++i)
        d[i] = static_cast<uint8_t>(seed + 13 * i);
    d[0] = 0x45;
    d[2] = static_cast<uint8_t>(total >> 8);
    d[3] = static_cast<uint8_t>(total);
    for (int i = 0; i < 4; ++i)
        d[16 + i] = static_cast<uint8_t>(destination >> (24 - 8 * i));
    return d;
}

// IPv6 datagram whose destination address ends in `last4` behind `first`.
inline Bytes ipv6To(uint8_t first, uint32_t last4, uint32_t payload, uint8_t seed = 3)
{
    Bytes d(40 + payload);
    for (size_t i = 0; i < d.size(); ++i)
        d[i] = static_cast<uint8_t>(seed + 11 * i);
    d[0] = 0x60;
    d[4] = static_cast<uint8_t>(payload >> 8);
    d[5] = static_cast<uint8_t>(payload);
    d[24] = first;
    for (int i = 0; i < 4; ++i)
        d[36 + i] = static_cast<uint8_t>(last4 >> (24 - 8 * i));
    return d;
}

// ---- GSE ------------------------------------------------------------------

enum Lt : uint8_t { Label6 = 0, Label3 = 1, Broadcast = 2, Reuse = 3 };

inline Bytes gseHeader(bool start, bool end, uint8_t lt, size_t gseLength)
{
    return {static_cast<uint8_t>((start ? 0x80 : 0) | (end ? 0x40 : 0) | (lt << 4) | ((gseLength >> 8) & 0x0F)),
            static_cast<uint8_t>(gseLength)};
}

// A complete PDU: protocol type, label (6, 3 or no bytes by `lt`), `body`
// (extension headers and PDU).
inline Bytes gseComplete(uint8_t lt, uint16_t type, const Bytes& label, const Bytes& body)
{
    Bytes rest;
    put16(rest, type);
    append(rest, label);
    append(rest, body);
    Bytes p = gseHeader(true, true, lt, rest.size());
    append(p, rest);
    return p;
}

// A PDU in fragments of the given sizes (bytes of the sequence: protocol type,
// label, body, CRC-32); the sizes are trimmed to what there is.
inline std::vector<Bytes> gseFragments(uint8_t fragId, uint8_t lt, uint16_t type, const Bytes& label,
                                       const Bytes& body, std::vector<size_t> sizes, bool breakCrc = false)
{
    Bytes seq;
    put16(seq, type);
    append(seq, label);
    append(seq, body);
    Bytes covered;
    put16(covered, static_cast<uint32_t>(seq.size()));
    append(covered, seq);
    uint32_t crc = crc32(covered.data(), covered.size());
    if (breakCrc)
        crc ^= 1;
    put32(seq, crc);
    std::vector<Bytes> out;
    size_t at = 0;
    for (size_t i = 0; at < seq.size(); ++i) {
        const bool first = i == 0;
        size_t take = i < sizes.size() ? sizes[i] : seq.size() - at;
        take = std::min(take, seq.size() - at);
        const bool last = at + take == seq.size();
        Bytes body2{fragId};
        if (first)
            put16(body2, static_cast<uint32_t>(seq.size() - 4));
        body2.insert(body2.end(), seq.begin() + static_cast<long>(at), seq.begin() + static_cast<long>(at + take));
        Bytes p = gseHeader(first, last, first ? lt : 0, body2.size());
        append(p, body2);
        out.push_back(p);
        at += take;
    }
    return out;
}

// ---- Baseband frames -----------------------------------------------------

constexpr uint8_t kGsSingle = 0x40 | 0x20 | 0x10; // generic continuous, single stream, CCM
constexpr uint8_t kGsMulti = 0x40 | 0x10;         // generic continuous, multistream

// Header and data field, then `padding` bytes of zeros.
inline Bytes bbFrame(uint8_t matype1, uint8_t isi, const Bytes& dataField, size_t padding = 0)
{
    Bytes f{matype1, isi, 0, 0};
    put16(f, static_cast<uint32_t>(dataField.size() * 8));
    f.push_back(0);
    put16(f, 0);
    f.push_back(crc8(f.data(), 9));
    append(f, dataField);
    f.insert(f.end(), padding, 0);
    return f;
}

// The pseudo transport stream of one frame on `pid`: a header packet
// "00 80 00 B4 B8" with 179 bytes, then "00 80 00 L N" packets, the last short.
inline std::vector<Bytes> pseudoTs(int pid, const Bytes& frame, int& continuity)
{
    std::vector<Bytes> packets;
    size_t at = 0;
    for (int n = 0; at < frame.size(); ++n) {
        const size_t take = std::min<size_t>(179, frame.size() - at);
        Bytes p(188, 0xFF);
        p[0] = 0x47;
        p[1] = static_cast<uint8_t>(0x40 | (pid >> 8));
        p[2] = static_cast<uint8_t>(pid);
        p[3] = static_cast<uint8_t>(0x10 | continuity);
        p[4] = 0x00;
        p[5] = 0x80;
        p[6] = 0x00;
        p[7] = static_cast<uint8_t>(take + 1);
        p[8] = n == 0 ? 0xB8 : static_cast<uint8_t>(n);
        std::copy(frame.begin() + static_cast<long>(at), frame.begin() + static_cast<long>(at + take), p.begin() + 9);
        packets.push_back(p);
        at += take;
        continuity = (continuity + 1) & 0x0F;
    }
    return packets;
}

// ---- ULE -----------------------------------------------------------------

// An SNDU: D bit (no destination when `destination` is empty), length, type,
// destination, `body`, CRC-32.
inline Bytes sndu(uint16_t type, const Bytes& destination, const Bytes& body, bool breakCrc = false)
{
    Bytes s;
    const uint32_t length = static_cast<uint32_t>(destination.size() + body.size() + 4);
    put16(s, (destination.empty() ? 0x8000 : 0) | length);
    put16(s, type);
    append(s, destination);
    append(s, body);
    uint32_t crc = crc32(s.data(), s.size());
    if (breakCrc)
        crc ^= 0x100;
    put32(s, crc);
    return s;
}

// SNDUs back to back on `pid`: a packet in which an SNDU starts carries the
// payload_unit_start_indicator and a payload pointer to it; the last packet
// ends with the end indicator 0xFFFF and padding.
inline std::vector<Bytes> uleStream(int pid, const std::vector<Bytes>& sndus, int& continuity)
{
    Bytes stream;
    std::vector<size_t> starts;
    for (const Bytes& s : sndus) {
        starts.push_back(stream.size());
        append(stream, s);
    }
    std::vector<Bytes> packets;
    size_t at = 0, next = 0;
    while (at < stream.size()) {
        while (next < starts.size() && starts[next] < at)
            ++next;
        const bool hasStart = next < starts.size() && starts[next] < at + 183;
        Bytes p(188, 0xFF);
        p[0] = 0x47;
        p[1] = static_cast<uint8_t>((hasStart ? 0x40 : 0) | (pid >> 8));
        p[2] = static_cast<uint8_t>(pid);
        p[3] = static_cast<uint8_t>(0x10 | continuity);
        size_t o = 4;
        if (hasStart)
            p[o++] = static_cast<uint8_t>(starts[next] - at);
        const size_t take = std::min(188 - o, stream.size() - at);
        std::copy(stream.begin() + static_cast<long>(at), stream.begin() + static_cast<long>(at + take), p.begin() + static_cast<long>(o));
        at += take;
        packets.push_back(p);
        continuity = (continuity + 1) & 0x0F;
    }
    return packets;
}

// The Ethernet II frame expected for a PDU.
inline Bytes ethernet(const Bytes& destination, uint16_t type, const Bytes& pdu)
{
    Bytes f(destination);
    f.insert(f.end(), 6, 0);
    put16(f, type);
    append(f, pdu);
    return f;
}

inline Bytes flatten(const std::vector<Bytes>& packets)
{
    Bytes out;
    for (const Bytes& p : packets)
        append(out, p);
    return out;
}

} // namespace encap
