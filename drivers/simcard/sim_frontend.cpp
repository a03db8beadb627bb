#include "drivers/simcard/sim_frontend.h"

#include <algorithm>

namespace simcard {

SatelliteParams SimFrontend::committed() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return committed_;
}

bool SimFrontend::commit(const SatelliteParams& tuning)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        committed_ = tuning;
    }
    update();
    return locked();
}

bool SimFrontend::command(const uint8_t* block, size_t size)
{
    const card::CardCommand command = card::parseCommandBlock(block, size);
    switch (command.kind) {
    case card::CardCommand::Diseqc: {
        std::lock_guard<std::mutex> lock(mutex_);
        diseqc_.emplace_back(command.message.begin(), command.message.begin() + command.length);
        if (diseqc_.size() > 256)
            diseqc_.erase(diseqc_.begin());
        return true;
    }
    case card::CardCommand::LnbPower:
        lnbPowered_.store(command.powerOn, std::memory_order_relaxed);
        update();
        return true;
    case card::CardCommand::Invalid:
        break;
    }
    return false;
}

std::vector<std::vector<uint8_t>> SimFrontend::diseqcMessages() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return diseqc_;
}

int32_t SimFrontend::strength() const { return strength_.load(std::memory_order_relaxed); }
int32_t SimFrontend::quality() const { return quality_.load(std::memory_order_relaxed); }

void SimFrontend::setStreams(std::vector<int> isis)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        isis_ = std::move(isis);
    }
    update();
}

void SimFrontend::update()
{
    SatelliteParams tuning;
    int selected = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tuning = committed_;
        if (!isis_.empty() && tuning.streamId >= 0) {
            const auto at = std::find(isis_.begin(), isis_.end(), tuning.streamId);
            selected = at == isis_.end() ? -1 : static_cast<int>(at - isis_.begin());
        }
    }
    const bool powered = lnbPowered();
    const bool lock = card::isPlausible(tuning, powered) && selected >= 0;
    selected_.store(selected, std::memory_order_relaxed);
    // A steady level per transponder, as a dish pointed once would give.
    const int32_t spread = static_cast<int32_t>((tuning.carrierFrequency / 1000 + tuning.symbolRate) % 11);
    strength_.store(lock ? 72 + spread : powered ? 12 : 0, std::memory_order_relaxed);
    quality_.store(lock ? 84 + spread : 0, std::memory_order_relaxed);
    locked_.store(lock, std::memory_order_relaxed);
    generation_.fetch_add(1, std::memory_order_relaxed);
}

} // namespace simcard
