#include "drivers/cardfilters/card_filters.h"

#include "platform/ks/bda.h"

namespace cardfilters {

void CardRegistry::add(const std::shared_ptr<Card>& card)
{
    using Maker = HRESULT (*)(const std::shared_ptr<Card>&, REFIID, void**);
    auto put = [this, &card](REFGUID category, const std::wstring& name, Maker make) {
        const platform::media::DeviceId id = platform::media::registerFilterDevice(
            category, name, [card, make](REFIID riid, void** object) { return make(card, riid, object); });
        std::lock_guard<std::mutex> lock(mutex_);
        ids_.push_back(id);
    };
    put(KSCATEGORY_BDA_NETWORK_TUNER, card->model.tunerName, createTunerFilter);
    put(KSCATEGORY_BDA_RECEIVER_COMPONENT, card->model.captureName, createCaptureFilter);
    if (!card->model.videoCaptureName.empty())
        put(KSCATEGORY_CAPTURE, card->model.videoCaptureName, createVideoCaptureFilter);
}

void CardRegistry::removeAll()
{
    std::vector<platform::media::DeviceId> ids;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ids.swap(ids_);
    }
    for (const platform::media::DeviceId id : ids)
        platform::media::unregisterFilterDevice(id);
}

} // namespace cardfilters
