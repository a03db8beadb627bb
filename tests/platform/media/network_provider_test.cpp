#include "platform/media/base_filter.h"
#include "platform/media/network_provider.h"

#include "platform/media/graph.h"
#include "platform/media/rot.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <unistd.h>

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

TEST(NetworkProvider, IsCreatedFromTheSpacesNetworkTypeAndTakesOnlyItsRequests)
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

    ComPtr<ITuneRequest> request;
    ASSERT_EQ(kest->CreateTuneRequest(request.put()), S_OK);
    EXPECT_EQ(tuner->put_TuneRequest(request.get()), E_FAIL); // no tuning space yet

    EXPECT_EQ(tuner->put_TuningSpace(space(GUID_NULL, L"other network").get()), E_INVALIDARG);
    ASSERT_EQ(tuner->put_TuningSpace(kest.get()), S_OK);
    ASSERT_EQ(tuner->put_TuneRequest(request.get()), S_OK);

    // A request from a space of another name is refused; one of the same name is taken.
    ComPtr<ITuneRequest> foreign;
    space(CLSID_DVBSNetworkProvider, L"ELSEWHERE")->CreateTuneRequest(foreign.put());
    EXPECT_EQ(tuner->Validate(foreign.get()), E_INVALIDARG);
    EXPECT_EQ(tuner->put_TuneRequest(foreign.get()), E_INVALIDARG);
    EXPECT_EQ(tuner->put_TuneRequest(nullptr), E_POINTER);
    ComPtr<ITuneRequest> sameName;
    space(CLSID_DVBSNetworkProvider, L"KEST DVB-S")->CreateTuneRequest(sameName.put());
    EXPECT_EQ(tuner->put_TuneRequest(sameName.get()), S_OK);
}

} // namespace

namespace {

// The tuner side of the antenna connection, as a card driver has it.
class TunerInputPin final : public platform::BasePin {
public:
    explicit TunerInputPin(platform::BaseFilter* filter) : BasePin(filter, L"Input0", PINDIR_INPUT) {}
    HRESULT checkMediaType(const platform::MediaType& type) override
    {
        return type.majortype == KSDATAFORMAT_TYPE_BDA_ANTENNA ? S_OK : S_FALSE;
    }
    HRESULT BeginFlush() override { return S_OK; }
    HRESULT EndFlush() override { return S_OK; }
};

class TunerFilter final : public platform::BaseFilter {
public:
    TunerFilter() : BaseFilter(GUID_NULL), pin_(this) {}
    int pinCount() override { return 1; }
    platform::BasePin* pin(int index) override { return index == 0 ? &pin_ : nullptr; }

private:
    TunerInputPin pin_;
};

TEST(NetworkProvider, IsAFilterWhoseAntennaPinConnectsToATuner)
{
    ComPtr<IBaseFilter> provider;
    ASSERT_EQ(CoCreateInstance(CLSID_DVBSNetworkProvider, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               provider.putVoid()), S_OK);
    CLSID clsid{};
    provider->GetClassID(&clsid);
    EXPECT_EQ(clsid, CLSID_DVBSNetworkProvider);

    // One object: the tuner part and the filter part lead back to each other.
    ComPtr<ITuner> tuner = provider.As<ITuner>();
    ASSERT_TRUE(tuner);
    EXPECT_EQ(tuner.As<IBaseFilter>(), provider);
    EXPECT_EQ(tuner.As<IUnknown>().get(), provider.As<IUnknown>().get());

    ComPtr<IPin> antenna;
    ASSERT_EQ(provider->FindPin(L"Antenna Out", antenna.put()), S_OK);
    PIN_DIRECTION direction = PINDIR_INPUT;
    antenna->QueryDirection(&direction);
    EXPECT_EQ(direction, PINDIR_OUTPUT);

    ComPtr<TunerFilter> tunerFilter(new TunerFilter);
    ComPtr<IPin> input;
    ASSERT_EQ(tunerFilter->FindPin(L"Input0", input.put()), S_OK);
    ASSERT_EQ(antenna->Connect(input.get(), nullptr), S_OK);
    EXPECT_EQ(static_cast<platform::BasePin*>(input.get())->mediaType().majortype, KSDATAFORMAT_TYPE_BDA_ANTENNA);

    // A running provider has nothing to stream.
    EXPECT_EQ(provider->Run(0), S_OK);
    EXPECT_EQ(provider->Stop(), S_OK);
    EXPECT_EQ(antenna->Disconnect(), S_OK);
    EXPECT_EQ(input->Disconnect(), S_OK);
}

} // namespace

namespace {

TEST(NetworkProvider, HeadsAGraphRegisteredInTheRunningObjectTable)
{
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               graph.putVoid()), S_OK);
    ComPtr<IBaseFilter> provider;
    ASSERT_EQ(CoCreateInstance(CLSID_DVBSNetworkProvider, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               provider.putVoid()), S_OK);
    ComPtr<TunerFilter> tuner(new TunerFilter);
    ASSERT_EQ(graph->AddFilter(provider.get(), L"Network DVBS Provider"), S_OK);
    ASSERT_EQ(graph->AddFilter(tuner.get(), L"Kest Cedar DVBS Tuner"), S_OK);
    ComPtr<IPin> out, in;
    ASSERT_EQ(provider->FindPin(L"Antenna Out", out.put()), S_OK);
    ASSERT_EQ(tuner->FindPin(L"Input0", in.put()), S_OK);
    ASSERT_EQ(graph->Connect(out.get(), in.get()), S_OK);

    ComPtr<IRunningObjectTable> rot;
    ASSERT_EQ(GetRunningObjectTable(0, rot.put()), S_OK);
    wchar_t item[64];
    std::swprintf(item, 64, L"FilterGraph %08x pid %08x", static_cast<unsigned>(reinterpret_cast<uintptr_t>(graph.get())),
                  static_cast<unsigned>(getpid()));
    ComPtr<IMoniker> name;
    ASSERT_EQ(CreateItemMoniker(L"!", item, name.put()), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(rot->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, graph.get(), name.get(), &cookie), S_OK);

    ComPtr<IMediaControl> control = graph.As<IMediaControl>();
    ASSERT_TRUE(control);
    EXPECT_EQ(control->Run(), S_OK);
    EXPECT_EQ(control->Stop(), S_OK);

    EXPECT_EQ(rot->Revoke(cookie), S_OK);
    EXPECT_EQ(graph->RemoveFilter(provider.get()), S_OK);
    EXPECT_EQ(in->ConnectedTo(out.put()), VFW_E_NOT_CONNECTED);
}

} // namespace
