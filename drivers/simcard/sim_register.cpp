#include "drivers/simcard/sim_register.h"

#include "drivers/simcard/sim_filters.h"
#include "platform/media/devenum.h"
#include "tuner/device_catalogue.h"

#include <cstdlib>
#include <mutex>
#include <sstream>

namespace simcard {

namespace {

std::mutex registryMutex;
std::vector<platform::media::DeviceId>& registered()
{
    static std::vector<platform::media::DeviceId> ids;
    return ids;
}

using FilterMaker = HRESULT (*)(const std::shared_ptr<SimCard>&, REFIID, void**);

void add(REFGUID category, const std::wstring& name, const std::shared_ptr<SimCard>& card, FilterMaker make)
{
    const platform::media::DeviceId id = platform::media::registerFilterDevice(
        category, name, [card, make](REFIID riid, void** object) { return make(card, riid, object); });
    std::lock_guard<std::mutex> lock(registryMutex);
    registered().push_back(id);
}

} // namespace

std::shared_ptr<SimCard> registerSimCard(int32_t modelId, const SimConfig& config, const std::wstring& inputPinName,
                                         const std::wstring& outputPinName)
{
    auto card = std::make_shared<SimCard>();
    if (!simCardModel(modelId, &card->model))
        return nullptr;
    card->config = config;
    card->inputPinName = inputPinName;
    card->outputPinName = outputPinName;
    add(KSCATEGORY_BDA_NETWORK_TUNER, card->model.tunerName, card, createSimTunerFilter);
    add(KSCATEGORY_BDA_RECEIVER_COMPONENT, card->model.captureName, card, createSimCaptureFilter);
    if (!card->model.videoCaptureName.empty())
        add(KSCATEGORY_CAPTURE, card->model.videoCaptureName, card, createSimVideoCaptureFilter);
    return card;
}

void unregisterSimCards()
{
    std::vector<platform::media::DeviceId> ids;
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        ids.swap(registered());
    }
    for (const platform::media::DeviceId id : ids)
        platform::media::unregisterFilterDevice(id);
}

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
