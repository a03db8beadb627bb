// Helpers shared by the SatNic tests: FrameBatch building, the device requests, pcap reading.
#pragma once

#include "platform/win32.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace satnic_test {

// The device contract, written out independently of the driver's own constants.
constexpr DWORD kSendFrames = 0x222098;
constexpr DWORD kReadByteCount = 0x2220BC;
constexpr DWORD kSetStationAddress = 0x2220D8;
constexpr size_t kBatchSize = 24388;
constexpr size_t kSlotSize = 1520;
constexpr size_t kLengthsOffset = 24320;
constexpr size_t kCountOffset = 24384;
constexpr DWORD kErrorDeviceNotExist = 55;

using Bytes = std::vector<uint8_t>;

inline void putLe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// A FrameBatch as the decoder fills it (little-endian).
struct Batch {
    Bytes bytes = Bytes(kBatchSize, 0);
    void put(size_t slot, const Bytes& frame)
    {
        std::memcpy(bytes.data() + kSlotSize * slot, frame.data(), frame.size());
        setLength(slot, static_cast<uint32_t>(frame.size()));
    }
    void setLength(size_t slot, uint32_t length) { putLe32(bytes.data() + kLengthsOffset + 4 * slot, length); }
    void setCount(uint32_t count) { putLe32(bytes.data() + kCountOffset, count); }
};

// An Ethernet II frame of `length` bytes: destination, zero source, IPv4 ethertype, then
// bytes derived from `seed`.
inline Bytes makeFrame(const uint8_t* destination, size_t length, uint32_t seed)
{
    Bytes frame(length, 0);
    std::memcpy(frame.data(), destination, 6);
    frame[12] = 0x08;
    frame[13] = 0x00;
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 14; i < length; ++i) {
        x = x * 1103515245u + 12345u;
        frame[i] = static_cast<uint8_t>(x >> 16);
    }
    return frame;
}

inline HANDLE openAdapter(bool global = false)
{
    return global ? CreateFileA("\\\\.\\Global\\SatNicDv-1", MAXIMUM_ALLOWED, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr)
                  : CreateFileA("\\\\.\\SatNicDv-1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
}

inline bool send(HANDLE h, Batch& batch)
{
    DWORD returned = 0;
    return DeviceIoControl(h, kSendFrames, batch.bytes.data(), static_cast<DWORD>(batch.bytes.size()), nullptr, 0,
                           &returned, nullptr) != FALSE;
}

inline bool sendOne(HANDLE h, const Bytes& frame)
{
    Batch batch;
    batch.put(0, frame);
    batch.setCount(1);
    return send(h, batch);
}

inline uint32_t byteCount(HANDLE h)
{
    uint8_t out[4] = {};
    DWORD returned = 0;
    if (!DeviceIoControl(h, kReadByteCount, nullptr, 0, out, 4, &returned, nullptr) || returned != 4)
        return 0xDEADBEEF;
    return le32(out);
}

// The decoder's way: the same six bytes in and out.
inline bool setStation(HANDLE h, uint8_t* address)
{
    DWORD returned = 0;
    return DeviceIoControl(h, kSetStationAddress, address, 6, address, 6, &returned, nullptr) && returned == 6;
}

inline Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct PcapRecord {
    uint32_t seconds, microseconds, capturedLength, originalLength;
    Bytes data;
};

// Parses a whole classic pcap file as written by the driver; false when it is not one or a
// record is incomplete.
inline bool parsePcap(const Bytes& file, std::vector<PcapRecord>* records, std::string* why)
{
    static const uint8_t header[24] = {0xD4, 0xC3, 0xB2, 0xA1, 2, 0, 4, 0, 0, 0, 0, 0,
                                       0,    0,    0,    0,    0xFF, 0xFF, 0, 0, 1, 0, 0, 0};
    if (file.size() < 24 || std::memcmp(file.data(), header, 24) != 0) {
        *why = "bad file header";
        return false;
    }
    records->clear();
    size_t at = 24;
    while (at < file.size()) {
        if (file.size() - at < 16) {
            *why = "incomplete record header at " + std::to_string(at);
            return false;
        }
        PcapRecord r;
        r.seconds = le32(&file[at]);
        r.microseconds = le32(&file[at + 4]);
        r.capturedLength = le32(&file[at + 8]);
        r.originalLength = le32(&file[at + 12]);
        at += 16;
        if (file.size() - at < r.capturedLength) {
            *why = "incomplete record data at " + std::to_string(at);
            return false;
        }
        r.data.assign(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at + r.capturedLength));
        at += r.capturedLength;
        records->push_back(std::move(r));
    }
    return true;
}

} // namespace satnic_test
