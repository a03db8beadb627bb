#include "platform/ks/device_control_base.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

class Tuner : public platform::ComObject<platform::ks::DeviceControlBase> {
public:
    HRESULT applyResult = S_OK;
    bool throws = false;
    int applied = 0;

protected:
    HRESULT applyChanges() override
    {
        ++applied;
        if (throws)
            throw std::runtime_error("driver fault");
        return applyResult;
    }
};

ULONG state(IBDA_DeviceControl* c)
{
    ULONG s = 99;
    EXPECT_EQ(c->GetChangeState(&s), S_OK);
    return s;
}

TEST(DeviceControl, EveryCommitAppliesAndAFailedOneStaysPending)
{
    ComPtr<Tuner> tuner(new Tuner);
    ComPtr<IBDA_DeviceControl> control = tuner.As<IBDA_DeviceControl>();
    ASSERT_TRUE(control);
    EXPECT_EQ(state(control.get()), BDA_CHANGES_COMPLETE);

    // Committed without StartChanges, as the receiver does.
    EXPECT_EQ(control->CommitChanges(), S_OK);
    EXPECT_EQ(tuner->applied, 1);

    tuner->applyResult = E_FAIL;
    EXPECT_EQ(control->CommitChanges(), E_FAIL);
    EXPECT_EQ(state(control.get()), BDA_CHANGES_PENDING);
    tuner->applyResult = S_OK;
    EXPECT_EQ(control->CommitChanges(), S_OK);
    EXPECT_EQ(state(control.get()), BDA_CHANGES_COMPLETE);

    tuner->throws = true;
    EXPECT_EQ(control->CommitChanges(), E_FAIL);
    EXPECT_EQ(state(control.get()), BDA_CHANGES_PENDING);
    EXPECT_EQ(tuner->applied, 4);

    EXPECT_EQ(control->StartChanges(), S_OK);
    EXPECT_EQ(control->CheckChanges(), S_OK);
    EXPECT_EQ(control->GetChangeState(nullptr), E_POINTER);
}

} // namespace
