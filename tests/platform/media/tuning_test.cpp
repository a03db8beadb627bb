#include "platform/media/network_provider.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

template <class I>
ComPtr<I> create(REFCLSID clsid)
{
    ComPtr<I> object;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, I::kIid, object.putVoid()), S_OK);
    return object;
}

std::wstring uniqueName(ITuningSpace* space)
{
    BSTR s = nullptr;
    EXPECT_EQ(space->get_UniqueName(&s), S_OK);
    std::wstring r = s ? std::wstring(s, SysStringLen(s)) : L"<null>";
    SysFreeString(s);
    return r;
}

// The tuning space the receiver sets up for the card.
ComPtr<IDVBTuningSpace2> makeKestSpace(const wchar_t* name = L"KEST DVB-S")
{
    ComPtr<ILocator> locator = create<ILocator>(CLSID_DVBSLocator);
    ComPtr<IDVBTuningSpace2> space = create<IDVBTuningSpace2>(CLSID_DVBSTuningSpace);
    EXPECT_EQ(space->put__NetworkType(CLSID_DVBSNetworkProvider), S_OK);
    EXPECT_EQ(space->put_SystemType(DVB_Satellite), S_OK);
    EXPECT_EQ(space->put_DefaultLocator(locator.get()), S_OK);
    EXPECT_EQ(space->put_FrequencyMapping(L""), S_OK);
    EXPECT_EQ(space->put_FriendlyName(L"Kest DVBS Tuner"), S_OK);
    EXPECT_EQ(space->put_UniqueName(name), S_OK);
    ComPtr<IDVBSTuningSpace> dvbs = space.As<IDVBSTuningSpace>();
    EXPECT_TRUE(dvbs);
    EXPECT_EQ(dvbs->put_HighOscillator(-1), S_OK);
    EXPECT_EQ(dvbs->put_InputRange(L"-1"), S_OK);
    EXPECT_EQ(dvbs->put_LNBSwitch(-1), S_OK);
    EXPECT_EQ(dvbs->put_LowOscillator(-1), S_OK);
    EXPECT_EQ(dvbs->put_SpectralInversion(BDA_SPECTRAL_INVERSION_NOT_SET), S_OK);
    return space;
}

std::vector<std::wstring> namesIn(ITuningSpaceContainer* container)
{
    std::vector<std::wstring> names;
    ComPtr<IEnumTuningSpaces> e;
    EXPECT_EQ(container->get_EnumTuningSpaces(e.put()), S_OK);
    ComPtr<ITuningSpace> s;
    while (e && e->Next(1, s.put(), nullptr) == S_OK)
        names.push_back(uniqueName(s.get()));
    return names;
}

TEST(TuningIds, HaveTheirPublishedValues)
{
    EXPECT_EQ(platform::guidToString(CLSID_DVBSNetworkProvider), "{FA4B375A-45B4-4D45-8440-263957B11623}");
    EXPECT_EQ(platform::guidToString(CLSID_DVBSTuningSpace), "{B64016F3-C9A2-4066-96F0-BD9563314726}");
    EXPECT_EQ(platform::guidToString(CLSID_DVBSLocator), "{1DF7D126-4050-47F0-A7CF-4C4CA9241333}");
    EXPECT_EQ(platform::guidToString(CLSID_SystemTuningSpaces), "{D02AAC50-027E-11D3-9D8E-00C04F72D980}");
    EXPECT_EQ(platform::guidToString(IID_ITuningSpaceContainer), "{5B692E84-E2F1-11D2-9493-00C04F72D980}");
    EXPECT_EQ(platform::guidToString(IID_IDVBSTuningSpace), "{CDF7BE60-D954-42FD-A972-78971958E470}");
    EXPECT_EQ(platform::guidToString(IID_ITuner), "{28C52640-018A-11D3-9D8E-00C04F72D980}");
}

TEST(TuningSpace, NamesItsProviderAndClonesAreIndependent)
{
    ComPtr<IDVBTuningSpace2> space = makeKestSpace();
    EXPECT_EQ(uniqueName(space.get()), L"KEST DVB-S");
    BSTR text = nullptr;
    ASSERT_EQ(space->get_NetworkType(&text), S_OK);
    EXPECT_STREQ(text, L"{FA4B375A-45B4-4D45-8440-263957B11623}");
    SysFreeString(text);
    GUID network{};
    EXPECT_EQ(space->get__NetworkType(&network), S_OK);
    EXPECT_EQ(network, CLSID_DVBSNetworkProvider);

    ComPtr<ITuningSpace> copy;
    ASSERT_EQ(space->Clone(copy.put()), S_OK);
    space->put_UniqueName(L"changed");
    space->put__NetworkType(GUID_NULL);
    EXPECT_EQ(uniqueName(copy.get()), L"KEST DVB-S");
    copy->get__NetworkType(&network);
    EXPECT_EQ(network, CLSID_DVBSNetworkProvider);
    EXPECT_TRUE(copy.As<IDVBSTuningSpace>());

    // A tune request keeps the space that created it.
    ComPtr<ITuneRequest> request;
    ASSERT_EQ(copy->CreateTuneRequest(request.put()), S_OK);
    ComPtr<ITuningSpace> owner;
    ASSERT_EQ(request->get_TuningSpace(owner.put()), S_OK);
    EXPECT_EQ(owner, copy);

    EXPECT_EQ(space->put_UniqueName(nullptr), E_POINTER);
    EXPECT_EQ(space->get_UniqueName(nullptr), E_POINTER);
    EXPECT_EQ(space->get__NetworkType(nullptr), E_POINTER);
}

TEST(TuningSpaceContainer, AddsUniqueNamesAndKeepsCopies)
{
    ComPtr<ITuningSpaceContainer> container = create<ITuningSpaceContainer>(CLSID_SystemTuningSpaces);
    ASSERT_TRUE(container);
    EXPECT_EQ(create<ITuningSpaceContainer>(CLSID_SystemTuningSpaces).get(), container.get()); // one per process
    const size_t before = namesIn(container.get()).size();

    ComPtr<IDVBTuningSpace2> space = makeKestSpace(L"CONTAINER TEST");
    VARIANT index;
    VariantInit(&index);
    ASSERT_EQ(container->Add(space.get(), &index), S_OK);
    EXPECT_EQ(index.vt, VT_I4);
    EXPECT_EQ(container->Add(space.get(), nullptr), E_TUNING_SPACE_DUPLICATE);
    EXPECT_EQ(container->Add(makeKestSpace(L"CONTAINER TEST").get(), nullptr), E_TUNING_SPACE_DUPLICATE);
    ASSERT_EQ(container->Add(makeKestSpace(L"CONTAINER TEST 2").get(), nullptr), S_OK);
    EXPECT_EQ(container->Add(nullptr, nullptr), E_POINTER);

    // Neither the space added nor a space handed out is the container's own.
    space->put_UniqueName(L"changed after Add");
    ComPtr<IEnumTuningSpaces> e;
    ASSERT_EQ(container->get_EnumTuningSpaces(e.put()), S_OK);
    ComPtr<ITuningSpace> handedOut;
    while (e->Next(1, handedOut.put(), nullptr) == S_OK && uniqueName(handedOut.get()) != L"CONTAINER TEST") {
    }
    ASSERT_TRUE(handedOut);
    handedOut->put_UniqueName(L"changed after load");

    std::vector<std::wstring> names = namesIn(container.get());
    ASSERT_EQ(names.size(), before + 2);
    EXPECT_EQ(names[before], L"CONTAINER TEST"); // in the order added
    EXPECT_EQ(names[before + 1], L"CONTAINER TEST 2");
}

} // namespace
