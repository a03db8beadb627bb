// Internals of the SatNic driver: the pure parts of the request handling, exposed for tests.
#pragma once

#include "platform/win32/types.h"

#include <cstddef>
#include <cstdint>
#include <string>

struct iovec;

namespace satnic::detail {

constexpr size_t kMaxFramesPerBatch = 16;
constexpr uint32_t kMinFrameLength = 14;   // an Ethernet II header
constexpr uint32_t kMaxFrameLength = 1520; // one FrameBatch slot

struct FrameView {
    const uint8_t* data;
    uint32_t length;
};

struct ParsedBatch {
    FrameView frames[kMaxFramesPerBatch];
    uint32_t count;   // frames usable in frames[], in slot order
    uint32_t skipped; // slots below the batch's (clamped) count whose length is out of range
};

// Parses the input of IOCTL_SEND_FRAMES, which is untrusted: false for a null input or one
// shorter than a FrameBatch (24388 bytes; longer inputs are parsed up to that size). The
// frame count is clamped to 16; a slot whose length is below 14 or above 1520 is skipped.
// The views point into `in`.
bool parseFrameBatch(const void* in, DWORD inSize, ParsedBatch* out);

// A MAC address as 48 bits, the first byte most significant.
using Mac = uint64_t;
Mac macFromBytes(const uint8_t* bytes);
void macToBytes(Mac mac, uint8_t* bytes);
std::string formatMac(Mac mac); // "02:11:22:33:44:55"

// True when a frame with this destination must be given the interface's own address before
// it enters the network stack: the destination is unicast and equals the station address.
// Multicast and broadcast destinations never are.
bool takesInterfaceAddress(const uint8_t* destination, Mac station);

// Describes `frame` as written to a TAP interface whose own address is `ownAddress` (six
// bytes that must outlive the iovecs): either the frame unchanged (one iovec) or, when
// takesInterfaceAddress(), the own address followed by the rest of the frame (two iovecs).
// Returns the number of iovecs used. Requires frame.length >= 6.
int interfaceFrame(const FrameView& frame, Mac station, const uint8_t* ownAddress, iovec* iov);

// Classic pcap: magic a1b2c3d4, version 2.4, snaplen 65535, link type 1 (Ethernet), all
// fields little-endian.
constexpr size_t kPcapFileHeaderSize = 24;
constexpr size_t kPcapRecordHeaderSize = 16;
constexpr uint32_t kPcapSnapLength = 65535;
void encodePcapFileHeader(uint8_t* out);
void encodePcapRecordHeader(uint8_t* out, uint32_t seconds, uint32_t microseconds, uint32_t length);

// Counters of the installed driver (all zero when none is installed).
struct Statistics {
    uint64_t batches;               // IOCTL_SEND_FRAMES requests accepted
    uint64_t batchesRefused;        // refused: short input, or the driver uninstalled
    uint64_t framesPassed;          // frames passed on by the backend
    uint64_t bytesPassed;           // their bytes, not wrapping
    uint64_t framesSkipped;         // slots with a bad length
    uint64_t framesDropped;         // frames the backend could not pass on (interface down, ...)
    int lastDropError;              // errno of the last of them
    uint64_t kernelFramesDiscarded; // frames the kernel sent to the TAP interface, read and dropped
};
Statistics statistics();

} // namespace satnic::detail
