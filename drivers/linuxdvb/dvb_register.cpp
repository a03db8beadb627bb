#include "drivers/linuxdvb/dvb_filters.h"

#include "drivers/card/mac_address.h"
#include "tuner/device_catalogue.h"

#include <cstdlib>
#include <exception>
#include <mutex>
#include <sstream>
#include <vector>

namespace linuxdvb {

namespace {

std::mutex cardsMutex;
std::vector<std::shared_ptr<DvbFilterCard>>& cards()
{
    static std::vector<std::shared_ptr<DvbFilterCard>> all;
    return all;
}

cardfilters::CardRegistry& registry()
{
    static cardfilters::CardRegistry devices;
    return devices;
}

std::mutex pidSourceMutex;
PidSource& pidSource()
{
    static PidSource source;
    return source;
}

} // namespace

DvbFilterCard::DvbFilterCard(DvbDevices& devices, const DvbCard& card, PidSource wantedPids)
    : device_(devices, card), wantedPids_(std::move(wantedPids))
{
}

SignalStatus DvbFilterCard::status() { return vanished() ? SignalStatus{} : device_.status(); }
bool DvbFilterCard::locked() { return status().locked; }
int32_t DvbFilterCard::strength() { return status().strength; }
int32_t DvbFilterCard::quality() { return status().quality; }

size_t DvbFilterCard::wantedPids(uint16_t* pids, size_t capacity) const
{
    return wantedPids_ ? std::min(wantedPids_(pids, capacity), capacity) : 0;
}

std::shared_ptr<DvbFilterCard> registerDvbCard(DvbDevices& devices, const DvbCard& card, std::string* error)
{
    const tuner::DeviceModel* model = tuner::findModelByCard(card.model);
    // The PID source is asked at the time, so that one set after registration counts.
    auto entry = std::make_shared<DvbFilterCard>(devices, card, [](uint16_t* pids, size_t capacity) -> size_t {
        std::lock_guard<std::mutex> lock(pidSourceMutex);
        return pidSource() ? pidSource()(pids, capacity) : 0;
    });
    if (model == nullptr || !cardfilters::cardModel(model->id, &entry->model)) {
        if (error)
            *error = "unknown model \"" + card.model + "\"";
        return nullptr;
    }
    if (!entry->open(error))
        return nullptr;
    registry().add(entry);
    std::lock_guard<std::mutex> lock(cardsMutex);
    cards().push_back(entry);
    return entry;
}

void unregisterDvbCards()
{
    registry().removeAll();
    std::vector<std::shared_ptr<DvbFilterCard>> gone;
    {
        std::lock_guard<std::mutex> lock(cardsMutex);
        gone.swap(cards());
    }
    for (const auto& card : gone)
        card->close();
}

void setPidSource(PidSource source)
{
    std::lock_guard<std::mutex> lock(pidSourceMutex);
    pidSource() = std::move(source);
}

namespace {

bool install(std::string* error, DvbDevices& devices)
{
    std::ostringstream faults;
    card::MacAddress mac{};
    if (const char* text = std::getenv("KEST_DVB_MAC"); text != nullptr && *text != '\0' && !card::parseMac(text, mac))
        faults << "KEST_DVB_MAC: \"" << text << "\" is not a MAC address\n";
    const char* value = std::getenv("KEST_CARD");
    if (value == nullptr) {
        if (const std::optional<DvbCard> found = findSatelliteAdapter(devices)) {
            std::string fault;
            if (!registerDvbCard(devices, *found, &fault))
                faults << "linuxdvb: " << fault << "\n";
        }
    } else {
        std::istringstream entries(value);
        std::string entry;
        while (std::getline(entries, entry, ',')) {
            if (entry.rfind("dvb:", 0) != 0)
                continue; // another driver's
            const std::optional<DvbCard> card = parseCardEntry(entry);
            std::string fault;
            if (!card)
                faults << "KEST_CARD: malformed entry \"" << entry << "\" (dvb:ADAPTER[:FRONTEND]:MODEL)\n";
            else if (!registerDvbCard(devices, *card, &fault))
                faults << "KEST_CARD: " << entry << ": " << fault << "\n";
        }
    }
    const std::string text = faults.str();
    if (error)
        *error = text;
    return text.empty();
}

} // namespace

bool installFromEnvironment(std::string* error, DvbDevices& devices)
{
    try {
        return install(error, devices);
    } catch (const std::exception& e) {
        // Out of memory at start-up: the receiver goes on as without the card.
        if (error)
            *error = std::string("linuxdvb: ") + e.what() + "\n";
        return false;
    }
}

} // namespace linuxdvb
