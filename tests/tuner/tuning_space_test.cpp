// The manager's tuning space: created once in the system's container, found there again by its
// unique name, and a DVB-S space that the network provider takes.
#include "tuner/bdamanager.h"

#include "platform/media/network_provider.h" // the DVB-S provider class and the tuning spaces

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring uniqueName(ITuningSpace* space)
{
    BSTR text = nullptr;
    space->get_UniqueName(&text);
    std::wstring out = text ? text : L"";
    SysFreeString(text);
    return out;
}

// How many spaces of the system's container are named "KEST DVB-S"; -1 without a container.
int kestSpacesInSystem()
{
    ComPtr<ITuningSpaceContainer> container;
    ComPtr<IEnumTuningSpaces> spaces;
    if (FAILED(CoCreateInstance(CLSID_SystemTuningSpaces, nullptr, CLSCTX_INPROC_SERVER, IID_ITuningSpaceContainer,
                                container.putVoid())) ||
        FAILED(container->get_EnumTuningSpaces(spaces.put())) || !spaces)
        return -1;
    int count = 0;
    ComPtr<ITuningSpace> space;
    while (spaces->Next(1, space.put(), nullptr) == S_OK)
        count += uniqueName(space.get()) == L"KEST DVB-S";
    return count;
}

// Counts the DVB-S tuning spaces created by class id while it lives.
class CreatedSpaces {
public:
    CreatedSpaces()
    {
        platform::registerClass(CLSID_DVBSTuningSpace, [this](REFIID riid, void** object) {
            ++count;
            return platform::media::createDVBSTuningSpace(riid, object);
        });
    }
    ~CreatedSpaces() { platform::registerClass(CLSID_DVBSTuningSpace, platform::media::createDVBSTuningSpace); }
    int count = 0;
};

TEST(TuningSpace, CreatedOnceThenFoundByItsUniqueName)
{
    CreatedSpaces created;
    const int before = kestSpacesInSystem();
    ASSERT_GE(before, 0) << "no tuning-space container";
    const int expectedCreations = before == 0 ? 1 : 0;

    CBDAManager manager;
    ComPtr<ITuningSpace> space = ComPtr<ITuningSpace>::adopt(manager.LoadTuningSpace());
    ASSERT_TRUE(space);
    EXPECT_EQ(uniqueName(space.get()), L"KEST DVB-S");
    EXPECT_EQ(created.count, expectedCreations);
    EXPECT_EQ(kestSpacesInSystem(), 1) << "the new space was not added to the container";

    ComPtr<ITuningSpace> again = ComPtr<ITuningSpace>::adopt(manager.LoadTuningSpace());
    ASSERT_TRUE(again);
    EXPECT_EQ(uniqueName(again.get()), L"KEST DVB-S");
    EXPECT_EQ(created.count, expectedCreations) << "the space in the container was not found again";
    EXPECT_EQ(kestSpacesInSystem(), 1);
}

TEST(TuningSpace, IsADvbsSpaceThatTheNetworkProviderTakes)
{
    CBDAManager manager;
    ComPtr<ITuningSpace> space = ComPtr<ITuningSpace>::adopt(manager.LoadTuningSpace());
    ASSERT_TRUE(space);
    GUID network{};
    EXPECT_EQ(space->get__NetworkType(&network), S_OK);
    EXPECT_EQ(network, CLSID_DVBSNetworkProvider);
    EXPECT_TRUE(space.As<IDVBSTuningSpace>());

    ComPtr<ITuner> provider;
    ASSERT_EQ(CoCreateInstance(CLSID_DVBSNetworkProvider, nullptr, CLSCTX_INPROC_SERVER, IID_ITuner,
                               provider.putVoid()), S_OK);
    EXPECT_EQ(provider->put_TuningSpace(space.get()), S_OK);
    ComPtr<ITuneRequest> request;
    ASSERT_EQ(space->CreateTuneRequest(request.put()), S_OK);
    EXPECT_EQ(provider->put_TuneRequest(request.get()), S_OK);
}

} // namespace
