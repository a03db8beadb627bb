#pragma once
// What the statistics window reads of the main window: the adapter rate
// history kept by the main window's status poll, and the frames the adapter
// could not pass on. Read-only; the history must stay where it is while a
// statistics window is open (its plot draws the samples in place).
#include <cstdint>

struct RateHistory;

class MainRateSource {
public:
    virtual const RateHistory& adapterRateHistory() const = 0;
    // As of the last status poll; 0 for an adapter that does not count them.
    virtual uint64_t adapterLostFrames() const { return 0; }

protected:
    ~MainRateSource() = default;
};
