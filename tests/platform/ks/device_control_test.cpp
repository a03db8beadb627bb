#include "platform/ks/device_control_base.h"

#include <gtest/gtest.h>

namespace {

class Tuner : public platform::ComObject<platform::ks::DeviceControlBase> {
public:
    void change() { markChanged(); }
    HRESULT applyResult = S_OK;
    int applied = 0;
    int discarded = 0;

protected:
    HRESULT applyChanges() override { ++applied; return applyResult; }
    HRESULT checkChanges() override { return E_INVALIDARG; }
    void discardChanges() override { ++discarded; }
};

ULONG state(IBDA_DeviceControl* c)
{
    ULONG s = 99;
    EXPECT_EQ(c->GetChangeState(&s), S_OK);
    return s;
}

TEST(DeviceControl, ChangesStayPendingUntilACommitSucceeds)
{
    ComPtr<Tuner> tuner(new Tuner);
    ComPtr<IBDA_DeviceControl> control = tuner.As<IBDA_DeviceControl>();
    ASSERT_TRUE(control);
    EXPECT_EQ(state(control.get()), BDA_CHANGES_COMPLETE);
    EXPECT_EQ(control->CheckChanges(), S_OK); // nothing to check

    tuner->change(); // a property written without StartChanges
    EXPECT_EQ(state(control.get()), BDA_CHANGES_PENDING);
    EXPECT_EQ(control->CheckChanges(), E_INVALIDARG);

    tuner->applyResult = E_FAIL;
    EXPECT_EQ(control->CommitChanges(), E_FAIL);
    EXPECT_EQ(state(control.get()), BDA_CHANGES_PENDING);
    tuner->applyResult = S_OK;
    EXPECT_EQ(control->CommitChanges(), S_OK);
    EXPECT_EQ(state(control.get()), BDA_CHANGES_COMPLETE);
    EXPECT_EQ(tuner->applied, 2);

    tuner->change();
    EXPECT_EQ(control->StartChanges(), S_OK);
    EXPECT_EQ(tuner->discarded, 1);
    EXPECT_EQ(state(control.get()), BDA_CHANGES_COMPLETE);
    EXPECT_EQ(control->GetChangeState(nullptr), E_POINTER);
}

} // namespace
