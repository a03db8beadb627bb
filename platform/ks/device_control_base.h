// IBDA_DeviceControl for a card driver's tuner filter: property handlers record changes with
// markChanged(), CommitChanges applies them through applyChanges(). IUnknown comes from the
// object's ComObject. Callers may commit without StartChanges, so every change counts as pending.
#pragma once

#include "platform/ks/bda.h"

#include <mutex>

namespace platform::ks {

class DeviceControlBase : public IBDA_DeviceControl {
public:
    HRESULT StartChanges() override;  // drops uncommitted changes (discardChanges)
    HRESULT CheckChanges() override;  // checkChanges() while changes are pending, else S_OK
    HRESULT CommitChanges() override; // applyChanges(); the changes stay pending if it fails
    HRESULT GetChangeState(ULONG* state) override;

protected:
    void markChanged();
    virtual HRESULT applyChanges() { return S_OK; }
    virtual HRESULT checkChanges() { return S_OK; }
    virtual void discardChanges() {}

private:
    std::recursive_mutex lock_; // serialises the hooks; they may mark changes themselves
    bool pending_ = false;
};

} // namespace platform::ks
