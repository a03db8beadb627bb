// The simulated card's tuner and demodulator: it takes the tuning the receiver
// writes, locks when that tuning is plausible and reports level and quality.
// Written from the window thread, read from the capture thread: all state is
// atomic, and a commit publishes the new lock state at once.
#pragma once

#include "drivers/card/command_block.h"
#include "drivers/card/tuning.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace simcard {

class SimFrontend {
public:
    // Applies a tuning; returns whether the card now locks.
    bool commit(const SatelliteParams& tuning);
    // A command block from the command property set: false when it is not one.
    bool command(const uint8_t* block, size_t size);

    bool locked() const { return locked_.load(std::memory_order_relaxed); }
    bool lnbPowered() const { return lnbPowered_.load(std::memory_order_relaxed); }
    // 0..100. Locked: a level that depends a little on the transponder; LNB on
    // and unlocked: noise only; LNB off: 0.
    int32_t strength() const;
    // 0..100 while locked, else 0.
    int32_t quality() const;
    SatelliteParams committed() const;
    // The ISIs of a multistream recording, in its order; none: a single-stream carrier.
    void setStreams(std::vector<int> isis);
    // The stream the tuning selects (its index among them): the one of its ISI, the first
    // without one; -1 when it names an ISI the carrier lacks, which then does not lock.
    int selectedStream() const { return selected_.load(std::memory_order_relaxed); }
    // DiSEqC messages received, oldest first (for tests and the debug output).
    std::vector<std::vector<uint8_t>> diseqcMessages() const;
    // Changes on every commit or supply switch, so the capture side can tell a retune.
    uint32_t generation() const { return generation_.load(std::memory_order_relaxed); }

private:
    void update();

    mutable std::mutex mutex_; // guards the tuning and the message log, never the stream
    SatelliteParams committed_;
    std::vector<std::vector<uint8_t>> diseqc_;
    std::vector<int> isis_;
    std::atomic<int> selected_{0};
    std::atomic<bool> lnbPowered_{true};
    std::atomic<bool> locked_{false};
    std::atomic<int32_t> strength_{0};
    std::atomic<int32_t> quality_{0};
    std::atomic<uint32_t> generation_{0};
};

} // namespace simcard
