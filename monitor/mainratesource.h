#pragma once
// What the statistics window reads of the main window: the adapter rate
// history kept by the main window's status poll. Read-only; the history must
// stay where it is while a statistics window is open (its plot draws the
// samples in place).
struct RateHistory;

class MainRateSource {
public:
    virtual const RateHistory& adapterRateHistory() const = 0;

protected:
    ~MainRateSource() = default;
};
