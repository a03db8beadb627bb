// Which delivery system and modulation a tuning is tried with. The panel's
// "DVB-S" and "DVB-S2" fix the system; "Auto" leaves it open, and DVB-S2
// leaves the modulation open unless the frontend finds it itself (QAM_AUTO).
// Open choices are searched one candidate at a time, round and round.
#pragma once

#include "drivers/card/tuning.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace linuxdvb {

struct Candidate {
    uint32_t system = 0;     // SYS_DVBS or SYS_DVBS2
    uint32_t modulation = 0; // QPSK, PSK_8, APSK_16, APSK_32 or QAM_AUTO
    bool operator==(const Candidate& o) const { return system == o.system && modulation == o.modulation; }
};

// What the frontend can do, from DTV_ENUM_DELSYS and FE_GET_INFO.
struct FrontendSystems {
    bool dvbs = false;
    bool dvbs2 = false;
    bool qamAuto = false; // FE_CAN_QAM_AUTO: the demodulator finds the DVB-S2 modulation itself
    bool multistream = false; // FE_CAN_MULTISTREAM: it selects an input stream (and its PLS)
};

// The candidates for a modulation code (0 open, 20 DVB-S, 21 DVB-S2) on this
// frontend, in the order they are tried; empty when it offers none of them.
std::vector<Candidate> searchCandidates(int32_t modulationCode, const FrontendSystems& systems);
// "DVB-S", "DVB-S2 8PSK", or "DVB-S2" when the demodulator finds the modulation.
std::string candidateName(const Candidate& candidate);
// How long a candidate is given to lock: demodulators take longer at low symbol rates.
std::chrono::milliseconds lockWait(uint32_t symbolRateKsps);

// The round of one transponder: the candidate whose turn it is, those the
// frontend refused, and what last locked on each transponder seen.
class SearchRound {
public:
    // A tuning. The same transponder with the same candidates goes on with the
    // round (a re-apply must not starve the later candidates); another starts
    // one with what last locked there. True when the round goes on.
    bool begin(const SatelliteParams& tuning, std::vector<Candidate> candidates);
    bool empty() const { return candidates_.empty(); }
    size_t size() const { return candidates_.size(); }
    const Candidate& current() const { return candidates_[index_]; }
    const std::vector<Candidate>& candidates() const { return candidates_; }
    // The next candidate the frontend has not refused; false when it refused all.
    bool advance();
    // The frontend refused the current candidate; true the first time in the round (to say it once).
    bool refuseCurrent();
    bool allRefused() const;
    void lockedOnCurrent();
    // Set once per round, so that "nothing locks" is said once.
    bool unlockedReported = false;
    bool noneReported = false;

private:
    // The transponder, the modulation code and the stream selection.
    using Key = std::tuple<uint32_t, int32_t, uint32_t, uint32_t, uint32_t, int32_t, int32_t, int32_t, int32_t>;
    static Key keyOf(const SatelliteParams& tuning);

    Key key_{};
    bool started_ = false;
    std::vector<Candidate> candidates_;
    std::vector<bool> refused_;
    std::vector<bool> refusalReported_;
    size_t index_ = 0;
    std::map<Key, Candidate> lastLocked_;
};

} // namespace linuxdvb
