// The packet aligner, with the byte-slip recovery described in
// packet_aligner.h.
#include "decoder/packet_aligner.h"

#include <cstring>

namespace {

constexpr long P = kTsPacketSize;
constexpr uint8_t kSync = kTsSyncByte;

// The three syncs at k (k, k + 188, k + 376), where positions beyond the
// sample count as confirming: a sample too short to show them does not refute
// the phase that the carry gave.
inline bool syncsConfirm(const uint8_t* data, long length, long k)
{
    for (long i = k; i < length && i <= k + 2 * P; i += P)
        if (data[i] != kSync)
            return false;
    return true;
}

} // namespace

void PacketAligner::resync()
{
    carryLength = -1;
    searchingSync = 1;
    recovering_ = false;
    historyStart_ = 0;
    historyLength_ = 0;
    badChunks_ = 0;
    firstBad_ = -1;
}

void PacketAligner::deliver(const uint8_t* packet, PacketCallback callback)
{
    std::memcpy(packetBuffer, packet, P);
    deliverInPlace(packetBuffer, callback);
}

void PacketAligner::deliverInPlace(const uint8_t* packet, PacketCallback callback)
{
    badChunks_ = 0;
    ++delivered_;
    if (callback != nullptr)
        callback(packet);
}

bool PacketAligner::badChunk(long offset)
{
    if (badChunks_ == 0)
        firstBad_ = offset;
    ++badChunks_;
    return badChunks_ >= kSlipThreshold;
}

bool PacketAligner::searchWithinSample(const uint8_t* data, long length, long& start)
{
    // Candidates are k < length - 376, so that k, k + 188 and k + 376 lie in the
    // sample. Within one phase (k modulo 188) the candidates that hold are
    // exactly those behind the phase's last byte other than 0x47, so each
    // phase is walked back from the sample's end until such a byte: every
    // byte is read once at most, instead of every candidate being followed to
    // the end. The phases are walked together a block at a time, so that a
    // long walk stays within the cache.
    constexpr long kBlock = 8192;
    const long limit = length - 2 * P;
    if (limit <= 0)
        return false;
    const long phases = limit < P ? limit : P;
    long next[P];  // where each phase's walk goes on, -1 once it ended
    long first[P]; // the first candidate of each phase that holds
    long walking = phases;
    for (long r = 0; r < phases; ++r)
        next[r] = r + (length - 1 - r) / P * P;
    for (long blockEnd = length; walking > 0; blockEnd -= kBlock) {
        const long blockStart = blockEnd > kBlock ? blockEnd - kBlock : 0;
        for (long r = 0; r < phases; ++r) {
            long i = next[r];
            if (i < 0)
                continue;
            while (i >= blockStart && data[i] == kSync)
                i -= P;
            if (i >= blockStart || i < r) {
                first[r] = i < r ? r : i + P;
                next[r] = -1;
                --walking;
            } else {
                next[r] = i;
            }
        }
    }
    long best = limit;
    for (long r = 0; r < phases; ++r)
        best = first[r] < best ? first[r] : best;
    if (best >= limit)
        return false;
    start = best;
    return true;
}

bool PacketAligner::recoverySearch(const uint8_t* data, long length, long from, long& start,
                                   PacketCallback callback)
{
    // The search runs over V = history_ + data[from, length).
    const long h = historyLength_;
    const long available = length - from;
    const long total = h + available;
    const uint8_t* tail = data + from;
    uint8_t* const history = history_ + historyStart_;
    auto at = [&](long i) -> uint8_t { return i < h ? history[i] : tail[i - h]; };

    for (long k = 0; k + 2 * P < total; ++k) {
        if (at(k) != kSync || at(k + P) != kSync || at(k + 2 * P) != kSync)
            continue;
        // Found. Packets wholly in the history first, then one that straddles
        // into the sample (the sample holds its rest: k + 376 < total).
        long pos = k;
        for (; pos + P <= h; pos += P)
            deliver(history + pos, callback); // each begins with 0x47 (checked above)
        if (pos < h) {
            const long have = h - pos;
            const long need = P - have;
            std::memcpy(carryBuffer, history + pos, static_cast<size_t>(have));
            std::memcpy(carryBuffer + have, tail, static_cast<size_t>(need));
            deliver(carryBuffer, callback);
            start = from + need;
        } else {
            start = from + (pos - h);
        }
        historyStart_ = 0;
        historyLength_ = 0;
        return true;
    }

    // Not found: keep the bytes from the first untested candidate on (at most
    // 376), moving them back to the start only when the room behind is used up.
    const long keepFrom = total > 2 * P ? total - 2 * P : 0;
    const long keep = total - keepFrom;
    if (keepFrom < h) {
        if (historyStart_ + h + available > kHistoryCapacity) {
            std::memmove(history_, history, static_cast<size_t>(h));
            historyStart_ = 0;
        }
        if (available > 0)
            std::memcpy(history_ + historyStart_ + h, tail, static_cast<size_t>(available));
        historyStart_ += keepFrom;
    } else {
        historyStart_ = 0;
        if (keep > 0)
            std::memcpy(history_, tail + (keepFrom - h), static_cast<size_t>(keep));
    }
    historyLength_ = keep;
    return false;
}

void PacketAligner::alignPackets(const uint8_t* data, long length, PacketCallback callback)
{
    if (data == nullptr || length <= 0)
        return;
    // A negative carryLength is only ever left by a resync, whether through
    // resync() or by setting the two public fields: start the plain search.
    if (carryLength < 0) {
        recovering_ = false;
        historyStart_ = 0;
        historyLength_ = 0;
        badChunks_ = 0;
        carryLength = 0; // the resync is taken: a search over short samples may now span them
    }
    firstBad_ = -1;

    long offset = 0;
    long from = 0; // where a recovery search starts in this sample
    bool enterRecovery = false;
    // When the completed carry was a bad chunk: its bytes from earlier samples,
    // which directly precede data[0], seed a recovery search started before any
    // bad chunk of this sample.
    long seedLength = 0;

    // Complete the packet carried over from the previous sample.
    if (carryLength > 0) {
        const long need = P - carryLength;
        if (length < need) {
            // Still not complete: keep accumulating.
            std::memcpy(carryBuffer + carryLength, data, static_cast<size_t>(length));
            carryLength += static_cast<int32_t>(length);
            return;
        }
        std::memcpy(carryBuffer + carryLength, data, static_cast<size_t>(need));
        const long carried = carryLength;
        carryLength = 0;
        if (carryBuffer[0] == kSync) {
            deliver(carryBuffer, callback);
        } else {
            enterRecovery = badChunk(-1);
            seedLength = carried;
        }
        // Slicing goes on at `need` when three syncs confirm it there, and at 0
        // only when they confirm 0 itself (the sample restarted at a packet
        // boundary after a loss); when neither does, the phase that the carry
        // gave is kept, so a corrupted sync byte or a slip within the next 376
        // bytes costs no more than elsewhere.
        if (syncsConfirm(data, length, need))
            offset = need;
        else
            offset = syncsConfirm(data, length, 0) ? 0 : need;
    }

    for (;;) {
        if (enterRecovery) {
            enterRecovery = false;
            searchingSync = 1;
            recovering_ = true;
            historyStart_ = 0;
            historyLength_ = 0;
            if (from == 0 && firstBad_ < 0 && seedLength > 0) {
                std::memcpy(history_, carryBuffer, static_cast<size_t>(seedLength));
                historyLength_ = seedLength;
            }
            carryLength = 0;
            ++recoveries_;
        }
        // Find the packet boundary: three syncs 188 bytes apart.
        if (searchingSync) {
            // A sample too short to show three syncs would be dropped whole, and
            // a stream cut into such samples never decoded: search across them.
            if (!recovering_ && length <= 2 * P)
                recovering_ = true;
            long start = 0;
            const bool found = recovering_ ? recoverySearch(data, length, from, start, callback)
                                           : searchWithinSample(data, length, start);
            if (!found)
                return; // dropped (a recovery search keeps its untested tail)
            searchingSync = 0;
            recovering_ = false;
            badChunks_ = 0;
            offset = start;
        }
        // Deliver the whole packets from the boundary on.
        while (offset <= length - P) {
            if (data[offset] == kSync) {
                deliverInPlace(data + offset, callback);
            } else if (badChunk(offset)) {
                enterRecovery = true;
                break;
            }
            offset += P;
        }
        if (enterRecovery) {
            from = firstBad_ >= 0 ? firstBad_ : 0;
            continue;
        }
        // Carry the incomplete packet at the end over to the next sample: it
        // keeps its place whatever its first byte (it is delivered only when
        // it begins with 0x47).
        if (offset < length) {
            const long rest = length - offset;
            std::memcpy(carryBuffer, data + offset, static_cast<size_t>(rest));
            carryLength = static_cast<int32_t>(rest);
        } else {
            carryLength = 0;
        }
        return;
    }
}
