// A transport stream of known datagrams and what the adapter must receive from it, for the
// end-to-end tests: each test sends it through a different part of the receiver and compares
// the frames that reach a pcap capture with the frames expected here.
#pragma once

#include "drivers/tsgen/mpe_stream.h"

#include <cstdint>
#include <string>
#include <vector>

namespace teststream {

using Frame = std::vector<uint8_t>;

struct KnownStream {
    std::vector<uint8_t> transportStream;
    std::vector<uint16_t> selectedPids; // the PIDs a receiver must select
    std::vector<Frame> expectedFrames;  // in the order they were written
    size_t otherDatagrams = 0;          // for other stations or on unselected PIDs
};

// Datagrams of varying sizes on three PIDs (0x100..0x102), in turn to `station`, two multicast
// groups, broadcast and another station; more for `station` on PID 0x103, which is not to be
// selected; a PAT and null packets among them. Nothing follows the last datagram of a PID
// but stuffing to the end of its packet. Each payload starts with its 64-bit sequence number.
KnownStream makeKnownStream(const tsgen::MacAddress& station, int datagrams, unsigned seed = 7);

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes);

// The frames of a classic pcap file (link type Ethernet); false with *why when it is not one.
bool readPcapFrames(const std::string& path, std::vector<Frame>* frames, std::string* why);

// Empty when `got` holds exactly the frames of `expected`, each once (in any order across
// PIDs: the sections of different PIDs complete in the order of their last packets);
// otherwise what differs, for the test's failure message.
std::string differences(const std::vector<Frame>& expected, const std::vector<Frame>& got);

} // namespace teststream
