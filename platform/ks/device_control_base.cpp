#include "platform/ks/device_control_base.h"

namespace platform::ks {

// The hooks are the driver's code: nothing they throw leaves the interface.
template <class F>
static HRESULT guarded(F&& f)
{
    try {
        return f();
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT DeviceControlBase::StartChanges()
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    const HRESULT hr = guarded([this] { discardChanges(); return S_OK; });
    pending_ = false;
    return hr;
}

HRESULT DeviceControlBase::CheckChanges()
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return pending_ ? guarded([this] { return checkChanges(); }) : S_OK;
}

HRESULT DeviceControlBase::CommitChanges()
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    const HRESULT hr = guarded([this] { return applyChanges(); });
    if (SUCCEEDED(hr))
        pending_ = false;
    return hr;
}

HRESULT DeviceControlBase::GetChangeState(ULONG* state)
{
    if (state == nullptr)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> guard(lock_);
    *state = pending_ ? BDA_CHANGES_PENDING : BDA_CHANGES_COMPLETE;
    return S_OK;
}

void DeviceControlBase::markChanged()
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    pending_ = true;
}

} // namespace platform::ks
