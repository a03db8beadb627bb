#include "platform/ks/device_control_base.h"

namespace platform::ks {

HRESULT DeviceControlBase::CommitChanges()
{
    std::lock_guard<std::mutex> guard(lock_);
    HRESULT hr = E_FAIL;
    try {
        hr = applyChanges();
    } catch (...) { // the driver's code: nothing leaves the interface
    }
    pending_ = FAILED(hr);
    return hr;
}

HRESULT DeviceControlBase::GetChangeState(ULONG* state)
{
    if (state == nullptr)
        return E_POINTER;
    std::lock_guard<std::mutex> guard(lock_);
    *state = pending_ ? BDA_CHANGES_PENDING : BDA_CHANGES_COMPLETE;
    return S_OK;
}

} // namespace platform::ks
