#include "platform/media/network_provider.h"
#include "platform/media/tuning.h"

#include <gtest/gtest.h>

#include <string>

namespace {

template <class I>
ComPtr<I> create(REFCLSID clsid)
{
    ComPtr<I> object;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, I::kIid, object.putVoid()), S_OK);
    return object;
}

std::wstring take(BSTR s)
{
    std::wstring r = s ? std::wstring(s, SysStringLen(s)) : L"<null>";
    SysFreeString(s);
    return r;
}

template <class I>
std::wstring read(I* object, HRESULT (I::*getter)(BSTR*))
{
    BSTR s = nullptr;
    EXPECT_EQ((object->*getter)(&s), S_OK);
    return take(s);
}

// The tuning space the receiver sets up for the card.
ComPtr<IDVBTuningSpace2> makeKestSpace(const wchar_t* uniqueName = L"KEST DVB-S")
{
    ComPtr<ILocator> locator = create<ILocator>(CLSID_DVBSLocator);
    ComPtr<IDVBTuningSpace2> space = create<IDVBTuningSpace2>(CLSID_DVBSTuningSpace);
    EXPECT_EQ(space->put__NetworkType(CLSID_DVBSNetworkProvider), S_OK);
    EXPECT_EQ(space->put_SystemType(DVB_Satellite), S_OK);
    EXPECT_EQ(space->put_DefaultLocator(locator.get()), S_OK);
    EXPECT_EQ(space->put_FrequencyMapping(L""), S_OK);
    EXPECT_EQ(space->put_FriendlyName(L"Kest DVBS Tuner"), S_OK);
    EXPECT_EQ(space->put_UniqueName(uniqueName), S_OK);
    ComPtr<IDVBSTuningSpace> dvbs = space.As<IDVBSTuningSpace>();
    EXPECT_TRUE(dvbs);
    dvbs->put_HighOscillator(-1);
    dvbs->put_InputRange(L"-1");
    dvbs->put_LNBSwitch(-1);
    dvbs->put_LowOscillator(-1);
    dvbs->put_SpectralInversion(BDA_SPECTRAL_INVERSION_NOT_SET);
    return space;
}

void removeAll(ITuningSpaceContainer* container)
{
    ComPtr<IEnumTuningSpaces> e;
    ASSERT_TRUE(SUCCEEDED(container->get_EnumTuningSpaces(e.put())));
    ComPtr<ITuningSpace> s;
    while (e->Next(1, s.put(), nullptr) == S_OK) {
        VARIANT index;
        VariantInit(&index);
        index.vt = VT_BSTR;
        index.bstrVal = SysAllocString(read(s.get(), &ITuningSpace::get_UniqueName).c_str());
        container->Remove(index);
        VariantClear(&index);
    }
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

TEST(TuningSpace, PropertiesRoundTripAndClonesAreIndependent)
{
    ComPtr<IDVBTuningSpace2> space = makeKestSpace();
    EXPECT_EQ(read<ITuningSpace>(space.get(), &ITuningSpace::get_UniqueName), L"KEST DVB-S");
    EXPECT_EQ(read<ITuningSpace>(space.get(), &ITuningSpace::get_FriendlyName), L"Kest DVBS Tuner");
    EXPECT_EQ(read<ITuningSpace>(space.get(), &ITuningSpace::get_NetworkType), L"{FA4B375A-45B4-4D45-8440-263957B11623}");
    EXPECT_EQ(read<ITuningSpace>(space.get(), &ITuningSpace::get_CLSID), L"{B64016F3-C9A2-4066-96F0-BD9563314726}");
    DVBSystemType type = DVB_Cable;
    EXPECT_EQ(space->get_SystemType(&type), S_OK);
    EXPECT_EQ(type, DVB_Satellite);

    ComPtr<IDVBSTuningSpace> dvbs = space.As<IDVBSTuningSpace>();
    LONG khz = 0;
    dvbs->get_LowOscillator(&khz);
    EXPECT_EQ(khz, -1);
    EXPECT_EQ(read<IDVBSTuningSpace>(dvbs.get(), &IDVBSTuningSpace::get_InputRange), L"-1");
    dvbs->put_LowOscillator(9750000);
    dvbs->put_HighOscillator(10600000);
    dvbs->put_LNBSwitch(11700000);

    // The network type also goes in as text; bad text leaves it unchanged.
    EXPECT_EQ(space->put_NetworkType(L"not a clsid"), E_INVALIDARG);
    GUID network{};
    space->get__NetworkType(&network);
    EXPECT_EQ(network, CLSID_DVBSNetworkProvider);

    ComPtr<ITuningSpace> copy;
    ASSERT_EQ(space->Clone(copy.put()), S_OK);
    space->put_UniqueName(L"changed");
    dvbs->put_LNBSwitch(0);
    EXPECT_EQ(read(copy.get(), &ITuningSpace::get_UniqueName), L"KEST DVB-S");
    ComPtr<IDVBSTuningSpace> copyDvbs = copy.As<IDVBSTuningSpace>();
    copyDvbs->get_LowOscillator(&khz);
    EXPECT_EQ(khz, 9750000);
    copyDvbs->get_LNBSwitch(&khz);
    EXPECT_EQ(khz, 11700000);
    ComPtr<ILocator> locator;
    EXPECT_EQ(copy->get_DefaultLocator(locator.put()), S_OK);
    EXPECT_TRUE(locator.As<IDVBSLocator>());

    EXPECT_EQ(space->put_UniqueName(nullptr), E_POINTER);
    EXPECT_EQ(space->get_UniqueName(nullptr), E_POINTER);
}

TEST(TuningSpace, TuneRequestsKeepTheirSpaceAndACopyOfTheLocator)
{
    ComPtr<IDVBTuningSpace2> space = makeKestSpace();
    ComPtr<ITuneRequest> request;
    ASSERT_EQ(space->CreateTuneRequest(request.put()), S_OK);
    ComPtr<ITuningSpace> owner;
    ASSERT_EQ(request->get_TuningSpace(owner.put()), S_OK);
    EXPECT_EQ(owner.get(), static_cast<ITuningSpace*>(space.get()));
    ComPtr<ILocator> none;
    EXPECT_EQ(request->get_Locator(none.put()), S_FALSE);
    EXPECT_FALSE(none);
    LONG sid = 0;
    request.As<IDVBTuneRequest>()->get_SID(&sid);
    EXPECT_EQ(sid, -1);

    ComPtr<IDVBSLocator> locator = create<IDVBSLocator>(CLSID_DVBSLocator);
    locator->put_CarrierFrequency(12565000);
    locator->put_SignalPolarisation(BDA_POLARISATION_LINEAR_H);
    ASSERT_EQ(request->put_Locator(locator.get()), S_OK);
    locator->put_CarrierFrequency(1); // the request holds its own copy

    ComPtr<ITuneRequest> copy;
    ASSERT_EQ(request->Clone(copy.put()), S_OK);
    ComPtr<ILocator> held;
    ASSERT_EQ(copy->get_Locator(held.put()), S_OK);
    ComPtr<IDVBSLocator> dvbs = held.As<IDVBSLocator>();
    ASSERT_TRUE(dvbs);
    LONG value = 0;
    dvbs->get_CarrierFrequency(&value);
    EXPECT_EQ(value, 12565000);
    Polarisation polarisation = BDA_POLARISATION_NOT_SET;
    dvbs->get_SignalPolarisation(&polarisation);
    EXPECT_EQ(polarisation, BDA_POLARISATION_LINEAR_H);
    ASSERT_EQ(request->put_Locator(nullptr), S_OK);
    EXPECT_EQ(request->get_Locator(held.put()), S_FALSE);
}

TEST(TuningSpaceContainer, FindsAddsAndKeepsCopies)
{
    ComPtr<ITuningSpaceContainer> container = create<ITuningSpaceContainer>(CLSID_SystemTuningSpaces);
    removeAll(container.get());
    EXPECT_EQ(create<ITuningSpaceContainer>(CLSID_SystemTuningSpaces).get(), container.get()); // one per process

    // The receiver's lookup: walk the spaces for the unique name, add one when missing.
    auto load = [&]() -> ComPtr<ITuningSpace> {
        ComPtr<IEnumTuningSpaces> e;
        EXPECT_TRUE(SUCCEEDED(container->get_EnumTuningSpaces(e.put())));
        ComPtr<ITuningSpace> s;
        while (e->Next(1, s.put(), nullptr) == S_OK)
            if (read(s.get(), &ITuningSpace::get_UniqueName) == L"KEST DVB-S")
                return s;
        return nullptr;
    };
    EXPECT_FALSE(load());
    ComPtr<IDVBTuningSpace2> space = makeKestSpace();
    VARIANT index;
    VariantInit(&index);
    ASSERT_EQ(container->Add(space.get(), &index), S_OK);
    EXPECT_EQ(index.vt, VT_I4);
    EXPECT_EQ(container->Add(space.get(), nullptr), E_TUNING_SPACE_DUPLICATE);
    ASSERT_EQ(container->Add(makeKestSpace(L"OTHER").get(), nullptr), S_OK);
    LONG count = 0;
    container->get_Count(&count);
    EXPECT_EQ(count, 2);

    space->put_FriendlyName(L"changed after Add");
    ComPtr<ITuningSpace> loaded = load();
    ASSERT_TRUE(loaded);
    EXPECT_NE(loaded.get(), static_cast<ITuningSpace*>(space.get()));
    EXPECT_EQ(read(loaded.get(), &ITuningSpace::get_FriendlyName), L"Kest DVBS Tuner");
    loaded->put_FriendlyName(L"changed after load");
    ComPtr<ITuningSpace> byId;
    ASSERT_EQ(container->get_Item(index, byId.put()), S_OK);
    EXPECT_EQ(read(byId.get(), &ITuningSpace::get_FriendlyName), L"Kest DVBS Tuner");

    ComPtr<IEnumTuningSpaces> named;
    ASSERT_EQ(container->get__TuningSpacesForName(L"Kest DVBS Tuner", named.put()), S_OK);
    ULONG fetched = 0;
    ITuningSpace* both[3] = {};
    EXPECT_EQ(named->Next(3, both, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 2u);
    for (ULONG i = 0; i < fetched; ++i)
        both[i]->Release();
    EXPECT_EQ(container->get__TuningSpacesForName(L"nothing", named.put()), S_FALSE);

    EXPECT_EQ(container->Remove(index), S_OK);
    EXPECT_EQ(container->Remove(index), E_INVALIDARG);
    EXPECT_FALSE(load());
    removeAll(container.get());
    container->get_Count(&count);
    EXPECT_EQ(count, 0);
}

} // namespace
