#include "platform/media/network_provider.h"

#include <gtest/gtest.h>

namespace {

ComPtr<ITuningSpace> space(REFCLSID networkType, const wchar_t* uniqueName)
{
    ComPtr<ITuningSpace> s;
    EXPECT_EQ(CoCreateInstance(CLSID_DVBSTuningSpace, nullptr, CLSCTX_INPROC_SERVER, IID_ITuningSpace, s.putVoid()),
              S_OK);
    s->put__NetworkType(networkType);
    s->put_UniqueName(uniqueName);
    return s;
}

TEST(NetworkProvider, IsCreatedFromTheSpacesNetworkTypeAndHoldsItsTuning)
{
    ComPtr<ITuningSpace> kest = space(CLSID_DVBSNetworkProvider, L"KEST DVB-S");
    // As the receiver does it: the network type's text names the class to create.
    BSTR text = nullptr;
    ASSERT_EQ(kest->get_NetworkType(&text), S_OK);
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromString(text, &clsid), S_OK);
    SysFreeString(text);
    ComPtr<ITuner> tuner;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ITuner, tuner.putVoid()), S_OK);

    ComPtr<ITuningSpace> held;
    EXPECT_EQ(tuner->get_TuningSpace(held.put()), S_FALSE);
    ComPtr<ITuneRequest> request;
    ASSERT_EQ(kest->CreateTuneRequest(request.put()), S_OK);
    EXPECT_EQ(tuner->put_TuneRequest(request.get()), E_FAIL); // no tuning space yet

    EXPECT_EQ(tuner->put_TuningSpace(space(GUID_NULL, L"other network").get()), E_INVALIDARG);
    ASSERT_EQ(tuner->put_TuningSpace(kest.get()), S_OK);
    ASSERT_EQ(tuner->put_TuneRequest(request.get()), S_OK);
    ComPtr<ITuneRequest> current;
    ASSERT_EQ(tuner->get_TuneRequest(current.put()), S_OK);
    EXPECT_EQ(current, request);

    // A request from a space of another name is refused and the held one stays.
    ComPtr<ITuneRequest> foreign;
    space(CLSID_DVBSNetworkProvider, L"ELSEWHERE")->CreateTuneRequest(foreign.put());
    EXPECT_EQ(tuner->Validate(foreign.get()), E_INVALIDARG);
    EXPECT_EQ(tuner->put_TuneRequest(foreign.get()), E_INVALIDARG);
    EXPECT_EQ(tuner->put_TuneRequest(nullptr), E_POINTER);
    ASSERT_EQ(tuner->get_TuneRequest(current.put()), S_OK);
    EXPECT_EQ(current, request);

    ComPtr<IEnumTuningSpaces> spaces;
    ASSERT_EQ(tuner->EnumTuningSpaces(spaces.put()), S_OK);
    ASSERT_EQ(spaces->Next(1, held.put(), nullptr), S_OK);
    EXPECT_EQ(held, kest);

    // A new space drops the old request.
    ASSERT_EQ(tuner->put_TuningSpace(space(CLSID_DVBSNetworkProvider, L"KEST DVB-S").get()), S_OK);
    EXPECT_EQ(tuner->get_TuneRequest(current.put()), S_FALSE);
}

} // namespace
