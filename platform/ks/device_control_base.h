// IBDA_DeviceControl for a card driver's tuner filter: CommitChanges applies what the property
// handlers were given, through applyChanges(). IUnknown comes from the object's ComObject.
// Callers commit without StartChanges, so every commit applies; what failed to apply stays
// pending until a commit succeeds.
#pragma once

#include "platform/ks/bda.h"

#include <mutex>

namespace platform::ks {

class DeviceControlBase : public IBDA_DeviceControl {
public:
    HRESULT StartChanges() override { return S_OK; }
    HRESULT CheckChanges() override { return S_OK; }
    HRESULT CommitChanges() override; // applyChanges(); nothing it throws leaves (E_FAIL)
    HRESULT GetChangeState(ULONG* state) override;

protected:
    virtual HRESULT applyChanges() { return S_OK; }

private:
    std::mutex lock_; // one commit at a time
    bool pending_ = false;
};

} // namespace platform::ks
