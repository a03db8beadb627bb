#include "drivers/linuxdvb/dvb_config.h"

#include "drivers/card/mac_address.h"
#include "drivers/linuxdvb/dvb_frontend.h"

#include <cstdlib>

namespace linuxdvb {

namespace {

bool parseIndex(const std::string& text, int max, int& value)
{
    if (text.empty() || text.size() > 3)
        return false;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    if (v > max)
        return false;
    value = v;
    return true;
}

bool knownModel(const std::string& model)
{
    for (const char* m : {"alder", "birch", "cedar", "larch", "maple", "spruce"})
        if (model == m)
            return true;
    return false;
}

} // namespace

std::optional<DvbCard> parseCardEntry(const std::string& entry)
{
    if (entry.rfind("dvb:", 0) != 0)
        return std::nullopt;
    std::vector<std::string> fields;
    size_t start = 4;
    for (;;) {
        const size_t colon = entry.find(':', start);
        fields.push_back(entry.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    DvbCard card;
    if (fields.size() == 2) {
        if (!parseIndex(fields[0], 255, card.adapter))
            return std::nullopt;
    } else if (fields.size() == 3) {
        if (!parseIndex(fields[0], 255, card.adapter) || !parseIndex(fields[1], 255, card.frontend))
            return std::nullopt;
    } else {
        return std::nullopt;
    }
    card.model = fields.back();
    if (!knownModel(card.model))
        return std::nullopt;
    return card;
}

std::optional<DvbCard> findSatelliteAdapter(DvbDevices& devices)
{
    for (int adapter = 0; adapter < 16; ++adapter) {
        for (int frontend = 0; frontend < 4; ++frontend) {
            if (!devices.exists(devicePath(adapter, "frontend", frontend)))
                continue;
            DvbFrontend probe(devices, adapter, frontend);
            if (probe.open(nullptr) && probe.supportsSatellite())
                return DvbCard{adapter, frontend, "cedar"};
        }
    }
    return std::nullopt;
}

std::array<uint8_t, 6> cardMacAddress(int adapter, int frontend, const std::string& frontendName)
{
    card::MacAddress configured{};
    if (const char* text = std::getenv("KEST_DVB_MAC"); text != nullptr && *text != '\0' && card::parseMac(text, configured))
        return configured;
    // FNV-1a over what identifies the card; the first octet marks the address
    // as locally administered unicast.
    uint64_t hash = 1469598103934665603ull;
    const std::string identity = frontendName + '/' + std::to_string(adapter) + '/' + std::to_string(frontend);
    for (unsigned char c : identity) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    std::array<uint8_t, 6> mac{};
    mac[0] = 0x02;
    for (int i = 1; i < 6; ++i)
        mac[i] = static_cast<uint8_t>(hash >> (8 * i));
    return mac;
}

} // namespace linuxdvb
