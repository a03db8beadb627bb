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

bool CardControl::startGraph()
{
    if (!manager_ || FAILED(manager_->BuildGraph(modelId_)))
        return false;
    decoderState().packetCallback.store(processPacket);
    manager_->RunGraph();
    return true;
}

bool CardControl::stopGraph()
{
    if (manager_) {
        setInputFilterDelivery(manager_->m_pTSInputFilter.get(), false);
        manager_->Power(0);
    }
    decoderState().packetCallback.store(nullptr);
    return true;
}

void CardControl::resetDiSEqC()
{
    static const BYTE reset[3] = {0xE0, 0x00, 0x00};
    if (manager_)
        manager_->SendDiSEqC(reset, 3);
    Sleep(50);
    lastSwitchPort = 0;
}

} // namespace tuner
