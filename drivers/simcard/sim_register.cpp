#include "drivers/simcard/sim_register.h"

#include "drivers/simcard/traffic.h"
#include "tuner/device_catalogue.h"

#include <cstdlib>
#include <sstream>

namespace simcard {

namespace {

cardfilters::CardRegistry& registry()
{
    static cardfilters::CardRegistry cards;
    return cards;
}

} // namespace

std::shared_ptr<SimCard> registerSimCard(int32_t modelId, const SimConfig& config, const std::wstring& inputPinName,
                                         const std::wstring& outputPinName)
{
    auto card = std::make_shared<SimCard>();
    if (!cardfilters::cardModel(modelId, &card->model))
        return nullptr;
    card->config = config;
    std::vector<int> isis;
    card->basebandFrames = !config.streamFile.empty() && holdsBasebandFrames(config.streamFile);
    for (const SimStream& stream : config.streams) {
        isis.push_back(stream.isi);
        card->basebandFrames = card->basebandFrames || holdsBasebandFrames(stream.file);
    }
    card->frontend.setStreams(std::move(isis));
    card->inputPinName = inputPinName;
    card->outputPinName = outputPinName;
    registry().add(card);
    return card;
}

void unregisterSimCards() { registry().removeAll(); }

bool installFromEnvironment(std::string* error)
{
    const char* value = std::getenv("KEST_CARD");
    if (value == nullptr)
        return true; // no simulated card unless asked for
    std::ostringstream faults;
    SimConfig config;
    std::string configError;
    if (!simConfigFromEnvironment(config, &configError))
        faults << configError;
    std::istringstream entries(value);
    std::string entry;
    while (std::getline(entries, entry, ',')) {
        if (entry.empty() || entry == "none" || entry.rfind("dvb:", 0) == 0)
            continue;
        std::string model = "cedar";
        if (entry.rfind("sim:", 0) == 0)
            model = entry.substr(4);
        else if (entry != "sim") {
            faults << "KEST_CARD: unknown card \"" << entry << "\"\n";
            continue;
        }
        const tuner::DeviceModel* found = tuner::findModelByCard(model);
        if (found == nullptr) {
            faults << "KEST_CARD: unknown model \"" << model << "\"\n";
            continue;
        }
        registerSimCard(found->id, config);
    }
    const std::string text = faults.str();
    if (error)
        *error = text;
    return text.empty();
}

} // namespace simcard
