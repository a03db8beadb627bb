// The packet aligner: cuts media samples of any size into aligned
// 188-byte transport packets, carrying a packet split across samples over to
// the next one, and hands each packet to a PacketCallback.
//
// Beyond a plain sync search: once synchronised,
// the aligner notices a byte slip and searches again by itself.
//   * A chunk that does not begin with 0x47 is skipped, as always; a single
//     corrupted sync byte costs only that packet.
//   * kSlipThreshold (2) consecutive such chunks mean the boundaries moved: the
//     aligner re-enters the search (searchingSync 1) at the first of the bad
//     chunks when it lies in the current sample, else at the sample's start, and
//     a candidate needs three syncs (k, k+188, k+376). That recovery search also
//     spans sample boundaries: it keeps the last 376 bytes that it could not yet
//     test, so it works with samples of any size, and a packet that straddles
//     the boundary at the new phase is delivered too.
//   * The tail of a sample (1..187 bytes) keeps its place as a carry even when
//     its first byte is not 0x47 (it is then never delivered and counts as a bad
//     chunk), so the packet phase survives a corrupted sync byte at a sample
//     boundary.
//   * A first search over a sample of 376 bytes or less (which cannot show
//     three syncs) becomes that same cross-sample search, so a stream cut into
//     small samples is decoded too.
// Otherwise the first search after construction or resync() is exactly the
// plain one: three syncs at k, k+188, k+376 within the sample.
#pragma once

#include "decoder/decoder.h"

#include <cstdint>

class PacketAligner {
public:
    static constexpr int kPacketSize = kTsPacketSize;
    static constexpr int kSlipThreshold = 2;

    explicit PacketAligner(PacketCallback callback = nullptr) : callback_(callback) {}

    // The callback used by the two-argument alignPackets.
    void setCallback(PacketCallback callback) { callback_ = callback; }
    PacketCallback callback() const { return callback_; }

    // Aligns one sample of `length` bytes and calls `callback` (may be null: the
    // state still advances) for each aligned packet, always whole and in one
    // piece: a packet that lies within the sample is passed where it lies, one
    // that spans samples from packetBuffer. Never reads outside data[0, length).
    void alignPackets(const uint8_t* data, long length, PacketCallback callback);
    void alignPackets(const uint8_t* data, long length) { alignPackets(data, length, callback_); }

    // carryLength -1, searchingSync 1: the next sample starts a new search.
    void resync();

    // The pin state.
    uint8_t carryBuffer[kPacketSize] = {};
    int32_t carryLength = 0; // > 0: bytes in carryBuffer; 0 or less: nothing carried
    uint8_t searchingSync = 1;
    uint8_t packetBuffer[kPacketSize] = {}; // the last packet that spanned samples

    // Diagnostics (not part of the pin state).
    uint64_t packetsDelivered() const { return delivered_; }
    uint64_t slipRecoveries() const { return recoveries_; } // recovery searches started
    bool recovering() const { return recovering_; }

private:
    static constexpr int kHistorySize = 2 * kPacketSize; // 376: the bytes a search keeps
    // Room for the kept bytes to move along before they are moved back to the
    // start: with small samples, moving them at every sample cost the most.
    static constexpr int kHistoryCapacity = 4096;

    // deliver copies the packet into packetBuffer first; deliverInPlace passes
    // it where it lies.
    void deliver(const uint8_t* packet, PacketCallback callback);
    void deliverInPlace(const uint8_t* packet, PacketCallback callback);
    // A chunk that does not begin with 0x47 at `offset` (-1: before this sample).
    // True when the slip threshold is reached.
    bool badChunk(long offset);
    // Within this sample alone: the first `start` from which every 188th byte
    // to the end is a sync, three at least.
    bool searchWithinSample(const uint8_t* data, long length, long& start);
    // The recovery search over history + data[from, length). On success returns
    // true with `start` the offset in data where slicing goes on (packets that
    // begin in the history have been delivered or carried); otherwise keeps the
    // untested tail in the history.
    bool recoverySearch(const uint8_t* data, long length, long from, long& start, PacketCallback callback);

    PacketCallback callback_;
    int badChunks_ = 0;     // consecutive chunks not beginning with 0x47
    long firstBad_ = -1;    // offset in the current sample of the first of them; -1 before it
    bool recovering_ = false;
    uint8_t history_[kHistoryCapacity] = {};
    long historyStart_ = 0; // the kept bytes are history_[historyStart_, + historyLength_)
    long historyLength_ = 0;
    uint64_t delivered_ = 0;
    uint64_t recoveries_ = 0;
};
