// The manager's tuning space: made once, configured as a DVB-S space, found again by its name.
#include "tuner/bdamanager.h"

#include "platform/media/network_provider.h" // the DVB-S provider class and the tuning spaces

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring take(BSTR text)
{
    std::wstring out = text ? text : L"";
    SysFreeString(text);
    return out;
}

LONG spacesInSystem()
{
    ComPtr<ITuningSpaceContainer> container;
    LONG count = -1;
    if (SUCCEEDED(CoCreateInstance(CLSID_SystemTuningSpaces, nullptr, CLSCTX_INPROC_SERVER, IID_ITuningSpaceContainer,
                                   container.putVoid())))
        container->get_Count(&count);
    return count;
}

TEST(TuningSpace, CreatedOnceThenFoundByItsUniqueName)
{
    CBDAManager manager;
    const LONG before = spacesInSystem();
    ComPtr<ITuningSpace> space = ComPtr<ITuningSpace>::adopt(manager.LoadTuningSpace());
    ASSERT_TRUE(space);
    const LONG after = spacesInSystem();
    ComPtr<ITuningSpace> again = ComPtr<ITuningSpace>::adopt(manager.LoadTuningSpace());
    ASSERT_TRUE(again);
    EXPECT_EQ(spacesInSystem(), after);
    EXPECT_LE(after - before, 1);

    BSTR text = nullptr;
    space->get_UniqueName(&text);
    EXPECT_EQ(take(text), L"KEST DVB-S");
    space->get_FriendlyName(&text);
    EXPECT_EQ(take(text), L"Kest DVBS Tuner");
    GUID network{};
    EXPECT_EQ(space->get__NetworkType(&network), S_OK);
    EXPECT_EQ(network, CLSID_DVBSNetworkProvider);
    ComPtr<IDVBSTuningSpace> satellite = space.As<IDVBSTuningSpace>();
    ASSERT_TRUE(satellite);
    LONG low = 0;
    satellite->get_LowOscillator(&low);
    EXPECT_EQ(low, -1);
    DVBSystemType system = DVB_Cable;
    satellite->get_SystemType(&system);
    EXPECT_EQ(system, DVB_Satellite);

}

} // namespace
