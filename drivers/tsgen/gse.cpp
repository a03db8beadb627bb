#include "drivers/tsgen/gse.h"

#include "drivers/tsgen/mpe_stream.h"

#include <algorithm>

namespace tsgen {

namespace {

// GSE_Length has 12 bits.
constexpr size_t kMaxGseLength = 4095;
constexpr size_t kFixedHeader = 2;

void put16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

} // namespace

size_t gseLabelSize(GseLabelType type)
{
    return type == GseLabelType::SixByte ? 6 : type == GseLabelType::ThreeByte ? 3 : 0;
}

void appendGsePacket(const GsePacket& p, std::vector<uint8_t>& out)
{
    const bool fragment = !(p.start && p.end);
    const size_t labelSize = p.start ? gseLabelSize(p.labelType) : 0;
    const size_t gseLength = (fragment ? 1 : 0) + (p.start && !p.end ? 2 : 0) + (p.start ? 2 + labelSize : 0)
        + p.length + (p.end && !p.start ? 4 : 0);
    const uint16_t first = static_cast<uint16_t>((p.start ? 0x8000 : 0) | (p.end ? 0x4000 : 0)
                                                 | static_cast<unsigned>(p.labelType) << 12 | (gseLength & 0x0FFF));
    put16(out, first);
    if (fragment)
        out.push_back(p.fragId);
    if (p.start && !p.end)
        put16(out, p.totalLength);
    if (p.start) {
        put16(out, p.protocolType);
        out.insert(out.end(), p.label.begin(), p.label.begin() + static_cast<std::ptrdiff_t>(labelSize));
    }
    if (p.length > 0)
        out.insert(out.end(), p.data, p.data + p.length);
    if (p.end && !p.start) {
        put16(out, static_cast<uint16_t>(p.crc >> 16));
        put16(out, static_cast<uint16_t>(p.crc));
    }
}

uint32_t gsePduCrc(uint16_t totalLength, uint16_t protocolType, const uint8_t* label, size_t labelSize,
                   const uint8_t* rest, size_t restLength)
{
    const uint8_t head[4] = {static_cast<uint8_t>(totalLength >> 8), static_cast<uint8_t>(totalLength),
                             static_cast<uint8_t>(protocolType >> 8), static_cast<uint8_t>(protocolType)};
    uint32_t crc = crc32Mpeg(head, sizeof head);
    crc = crc32Mpeg(label, labelSize, crc);
    return crc32Mpeg(rest, restLength, crc);
}

size_t GseFramer::room() const { return capacity_ > field_.size() ? capacity_ - field_.size() : 0; }

void GseFramer::closeField(std::vector<std::vector<uint8_t>>& fields)
{
    if (field_.empty())
        return;
    if (pad_)
        field_.resize(capacity_, 0);
    fields.push_back(std::move(field_));
    field_.clear();
    haveLabel_ = false;
}

void GseFramer::flush(std::vector<std::vector<uint8_t>>& fields) { closeField(fields); }

void GseFramer::add(const GsePdu& pdu, std::vector<std::vector<uint8_t>>& fields)
{
    std::vector<uint8_t> body = pdu.type.headers;
    body.insert(body.end(), pdu.data.begin(), pdu.data.end());

    GsePacket p;
    p.labelType = pdu.labelType;
    p.label = pdu.label;
    p.protocolType = pdu.type.firstType;
    const bool labelled = pdu.labelType == GseLabelType::SixByte || pdu.labelType == GseLabelType::ThreeByte;
    auto reusable = [&] {
        return reuse_ && labelled && haveLabel_ && lastLabelType_ == pdu.labelType
            && std::equal(pdu.label.begin(), pdu.label.begin() + static_cast<std::ptrdiff_t>(gseLabelSize(pdu.labelType)),
                          lastLabel_.begin());
    };
    auto noteLabel = [&] {
        haveLabel_ = labelled;
        lastLabelType_ = pdu.labelType;
        lastLabel_ = pdu.label;
    };

    // Whole, in this field or the next.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const size_t labelSize = reusable() ? 0 : gseLabelSize(pdu.labelType);
        const size_t whole = kFixedHeader + 2 + labelSize + body.size();
        if (whole - kFixedHeader <= kMaxGseLength && whole <= room()) {
            p.labelType = reusable() ? GseLabelType::ReUse : pdu.labelType;
            p.data = body.data();
            p.length = body.size();
            appendGsePacket(p, field_);
            noteLabel();
            return;
        }
        // The first fragment needs its headers and a byte of the PDU.
        if (kFixedHeader + 5 + labelSize + pdu.type.headers.size() + 1 <= std::min(room(), kMaxGseLength + 2))
            break;
        if (attempt == 0)
            closeField(fields);
    }

    // In fragments; the headers stay in the first one.
    const size_t labelSize = reusable() ? 0 : gseLabelSize(pdu.labelType);
    p.labelType = labelSize == 0 && labelled ? GseLabelType::ReUse : pdu.labelType;
    const uint16_t totalLength = static_cast<uint16_t>(2 + labelSize + body.size());
    const uint32_t crc = gsePduCrc(totalLength, pdu.type.firstType, pdu.label.data(), labelSize, body.data(),
                                   body.size());
    p.start = true;
    p.end = false;
    p.fragId = nextFragId_++;
    p.totalLength = totalLength;
    const size_t firstHeader = kFixedHeader + 5 + labelSize;
    size_t sent = std::min(std::min(room(), kMaxGseLength + 2) - firstHeader, body.size() - 1);
    p.data = body.data();
    p.length = sent;
    appendGsePacket(p, field_);
    noteLabel();

    GsePacket next;
    next.start = false;
    next.labelType = GseLabelType::ReUse; // zero bits here would read as padding
    next.fragId = p.fragId;
    next.crc = crc;
    while (sent < body.size()) {
        const size_t left = body.size() - sent;
        const size_t space = std::min(room(), kMaxGseLength + 2);
        next.data = body.data() + sent;
        if (space >= kFixedHeader + 1 + left + 4) {
            next.end = true;
            next.length = left;
        } else if (space >= kFixedHeader + 1 + 1) {
            next.end = false;
            next.length = std::min(space - kFixedHeader - 1, left - 1);
        } else {
            closeField(fields);
            continue;
        }
        appendGsePacket(next, field_);
        sent += next.length;
        if (!next.end)
            closeField(fields);
    }
}

} // namespace tsgen
