#include "tuner/card_control.h"

#include "decoder/decoder.h"
#include "platform/win32/sync.h"
#include "tuner/device_catalogue.h"
#include "tuner/find_filter.h"
#include "tuner/input_filter.h"

namespace tuner {

bool CardControl::detectDevice()
{
    manager_.reset(new CBDAManager);
    const int32_t id = probeInstalledModel();
    if (id == 0)
        return false;
    modelId_ = id;
    windowTitle_ = findModel(id)->windowTitle;
    return true;
}

bool CardControl::modulationAndFecEnabled() const { return modulationAndFecSelectable(modelId_); }

bool startGraph(CBDAManager* manager, int32_t modelId)
{
    if (!manager || FAILED(manager->BuildGraph(modelId)))
        return false;
    decoderState().packetCallback.store(processPacket);
    manager->RunGraph();
    return true;
}

bool stopGraph(CBDAManager* manager)
{
    if (manager) {
        setInputFilterDelivery(manager->m_pTSInputFilter.get(), false);
        manager->Power(0);
    }
    decoderState().packetCallback.store(nullptr);
    return true;
}

void resetDiSEqC(CBDAManager* manager, int32_t* lastSwitchPort)
{
    static const BYTE reset[3] = {0xE0, 0x00, 0x00};
    if (manager)
        manager->SendDiSEqC(reset, 3);
    Sleep(50);
    if (lastSwitchPort)
        *lastSwitchPort = 0;
}

} // namespace tuner
