#include "drivers/linuxdvb/dvb_search.h"

#include <linux/dvb/frontend.h>

#include <algorithm>

namespace linuxdvb {

namespace {

constexpr size_t kRememberedTransponders = 256;

} // namespace

std::vector<Candidate> searchCandidates(int32_t modulationCode, const FrontendSystems& systems)
{
    std::vector<Candidate> candidates;
    const bool wantS = modulationCode != card::kModulationDvbS2;
    const bool wantS2 = modulationCode != card::kModulationQpsk;
    if (wantS && systems.dvbs)
        candidates.push_back({SYS_DVBS, QPSK});
    if (wantS2 && systems.dvbs2) {
        if (systems.qamAuto) {
            candidates.push_back({SYS_DVBS2, QAM_AUTO});
        } else {
            // The most common first. The Linux API does not say which APSK modes a
            // demodulator has: a frontend that refuses one is not asked again.
            for (uint32_t modulation : {PSK_8, QPSK, APSK_16, APSK_32})
                candidates.push_back({SYS_DVBS2, modulation});
        }
    }
    return candidates;
}

std::string candidateName(const Candidate& candidate)
{
    if (candidate.system == SYS_DVBS)
        return "DVB-S";
    switch (candidate.modulation) {
    case PSK_8: return "DVB-S2 8PSK";
    case QPSK: return "DVB-S2 QPSK";
    case APSK_16: return "DVB-S2 16APSK";
    case APSK_32: return "DVB-S2 32APSK";
    default: return "DVB-S2";
    }
}

std::chrono::milliseconds lockWait(uint32_t symbolRateKsps)
{
    // 1 s at high rates, up to 2 s below 5000 kS/s: five candidates stay well
    // within the twelve seconds after which the receiver re-applies the tuning.
    const uint32_t rate = std::max<uint32_t>(symbolRateKsps, 1);
    return std::chrono::milliseconds(std::min<uint32_t>(2000, 1000 + 5000000 / rate));
}

SearchRound::Key SearchRound::keyOf(const SatelliteParams& t)
{
    return Key{t.carrierFrequency, t.polarisation, t.symbolRate, card::oscillatorKhz(t),
               static_cast<uint32_t>(t.modulation), t.streamId, t.plsMode, t.plsCode, t.basebandFrames};
}

bool SearchRound::begin(const SatelliteParams& tuning, std::vector<Candidate> candidates)
{
    const Key key = keyOf(tuning);
    if (started_ && key == key_ && candidates == candidates_) {
        // Refusals may have passed (a busy frontend): a re-apply asks again, silently.
        if (allRefused())
            refused_.assign(refused_.size(), false);
        return true;
    }
    started_ = true;
    key_ = key;
    candidates_ = std::move(candidates);
    refused_.assign(candidates_.size(), false);
    refusalReported_.assign(candidates_.size(), false);
    index_ = 0;
    unlockedReported = false;
    noneReported = false;
    if (const auto known = lastLocked_.find(key); known != lastLocked_.end()) {
        const auto at = std::find(candidates_.begin(), candidates_.end(), known->second);
        if (at != candidates_.end())
            index_ = static_cast<size_t>(at - candidates_.begin());
    }
    return false;
}

bool SearchRound::advance()
{
    for (size_t step = 1; step <= candidates_.size(); ++step) {
        const size_t next = (index_ + step) % candidates_.size();
        if (!refused_[next]) {
            index_ = next;
            return true;
        }
    }
    return false;
}

bool SearchRound::refuseCurrent()
{
    const bool first = !refusalReported_[index_];
    refused_[index_] = true;
    refusalReported_[index_] = true;
    return first;
}

bool SearchRound::allRefused() const { return std::all_of(refused_.begin(), refused_.end(), [](bool r) { return r; }); }

void SearchRound::lockedOnCurrent()
{
    if (lastLocked_.size() >= kRememberedTransponders && lastLocked_.find(key_) == lastLocked_.end())
        lastLocked_.clear();
    lastLocked_[key_] = current();
}

} // namespace linuxdvb
