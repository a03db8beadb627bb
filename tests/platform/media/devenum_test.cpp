#include "platform/media/devenum.h"
#include "platform/media/interfaces.h"
#include "platform/media/propertybag.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

using platform::media::registerFilterDevice;
using platform::media::unregisterFilterDevice;

namespace {

int g_filters = 0;

// Stands for a driver's filter: only its identity and lifetime matter here.
class Filter : public platform::ComObject<IPersist> {
public:
    explicit Filter(int tag) : tag_(tag) { ++g_filters; }
    ~Filter() override { --g_filters; }
    HRESULT GetClassID(CLSID* clsid) override { *clsid = {static_cast<uint32_t>(tag_), 0, 0, {}}; return S_OK; }

private:
    int tag_;
};

platform::ClassFactory filterFactory(int tag)
{
    return [tag](REFIID riid, void** object) { return platform::createObject<Filter>(riid, object, tag); };
}

// A category of our own, so that the tests do not see each other's devices.
GUID category(uint32_t n) { return {0x7E57CA7E, 0, static_cast<uint16_t>(n), {}}; }

ComPtr<ICreateDevEnum> deviceEnumerator()
{
    ComPtr<ICreateDevEnum> devEnum;
    EXPECT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                               devEnum.putVoid()), S_OK);
    return devEnum;
}

std::wstring friendlyName(IMoniker* moniker)
{
    ComPtr<IPropertyBag> bag;
    EXPECT_EQ(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.putVoid()), S_OK);
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    EXPECT_EQ(bag->Read(L"FriendlyName", &v, nullptr), S_OK);
    std::wstring name = v.vt == VT_BSTR && v.bstrVal ? v.bstrVal : L"";
    VariantClear(&v);
    return name;
}

TEST(DeviceEnumerator, PublishedIdsAndAnEmptyCategory)
{
    GUID g{};
    ASSERT_EQ(CLSIDFromString("{62BE5D10-60EB-11d0-BD3B-00A0C911CE86}", &g), S_OK);
    EXPECT_EQ(g, CLSID_SystemDeviceEnum);
    ASSERT_EQ(CLSIDFromString("{71985F48-1CA1-11D3-9CC8-00C04F7971E0}", &g), S_OK);
    EXPECT_EQ(g, KSCATEGORY_BDA_NETWORK_TUNER);
    ASSERT_EQ(CLSIDFromString("{FD0A5AF4-B41D-11D2-9C95-00C04F7971E0}", &g), S_OK);
    EXPECT_EQ(g, KSCATEGORY_BDA_RECEIVER_COMPONENT);
    ASSERT_EQ(CLSIDFromString("{65E8773D-8F56-11D0-A3B9-00A0C9223196}", &g), S_OK);
    EXPECT_EQ(g, KSCATEGORY_CAPTURE);
    ASSERT_EQ(CLSIDFromString("{A2E3074F-6C3D-11D3-B653-00C04F79498E}", &g), S_OK);
    EXPECT_EQ(g, KSCATEGORY_BDA_TRANSPORT_INFORMATION);

    ComPtr<ICreateDevEnum> devEnum = deviceEnumerator();
    ASSERT_TRUE(devEnum);
    IEnumMoniker* monikers = reinterpret_cast<IEnumMoniker*>(0x1);
    EXPECT_EQ(devEnum->CreateClassEnumerator(category(1), &monikers, 0), S_FALSE);
    EXPECT_EQ(monikers, nullptr);
    EXPECT_EQ(devEnum->CreateClassEnumerator(category(1), nullptr, 0), E_POINTER);
}

TEST(DeviceEnumerator, ListsACategoryInOrderAndBindsItsFilters)
{
    const platform::media::DeviceId maple = registerFilterDevice(category(2), L"Kest Maple DVBS Tuner", filterFactory(5));
    const platform::media::DeviceId cedar =
        registerFilterDevice(category(2), L"Kest Cedar BDA Tuner/Demod", filterFactory(3));
    const platform::media::DeviceId other = registerFilterDevice(category(3), L"Kest Cedar Video Capture", filterFactory(9));
    ASSERT_NE(maple, 0u);
    ASSERT_NE(maple, cedar);

    ComPtr<IEnumMoniker> monikers;
    ASSERT_EQ(deviceEnumerator()->CreateClassEnumerator(category(2), monikers.put(), 0), S_OK);
    IMoniker* got[3] = {};
    ULONG fetched = 0;
    ASSERT_EQ(monikers->Next(3, got, &fetched), S_FALSE); // two of the three asked for
    ASSERT_EQ(fetched, 2u);
    ComPtr<IMoniker> first = ComPtr<IMoniker>::adopt(got[0]);
    ComPtr<IMoniker> second = ComPtr<IMoniker>::adopt(got[1]);
    EXPECT_EQ(friendlyName(first.get()), L"Kest Maple DVBS Tuner");
    EXPECT_EQ(friendlyName(second.get()), L"Kest Cedar BDA Tuner/Demod");

    ComPtr<IPersist> filter;
    ASSERT_EQ(second->BindToObject(nullptr, nullptr, IID_IPersist, filter.putVoid()), S_OK);
    CLSID tag{};
    filter->GetClassID(&tag);
    EXPECT_EQ(tag.Data1, 3u);
    ComPtr<IPropertyBag> wrong;
    EXPECT_EQ(second->BindToObject(nullptr, nullptr, IID_IPropertyBag, wrong.putVoid()), E_NOINTERFACE);
    EXPECT_EQ(second->BindToStorage(nullptr, nullptr, IID_IPersist, wrong.putVoid()), E_NOINTERFACE);

    // The enumerator is a snapshot; a removed device no longer binds.
    ASSERT_TRUE(unregisterFilterDevice(cedar));
    EXPECT_FALSE(unregisterFilterDevice(cedar));
    ComPtr<IPersist> gone;
    EXPECT_EQ(second->BindToObject(nullptr, nullptr, IID_IPersist, gone.putVoid()), MK_E_UNAVAILABLE);
    EXPECT_FALSE(gone);

    ComPtr<IEnumMoniker> again;
    ASSERT_EQ(deviceEnumerator()->CreateClassEnumerator(category(2), again.put(), 0), S_OK);
    IMoniker* only = nullptr;
    ASSERT_EQ(again->Next(1, &only, nullptr), S_OK);
    ComPtr<IMoniker>::adopt(only);
    EXPECT_EQ(again->Next(1, &only, nullptr), S_FALSE);

    unregisterFilterDevice(maple);
    unregisterFilterDevice(other);
    filter.reset();
    EXPECT_EQ(g_filters, 0);
}

TEST(DeviceEnumerator, AFailingOrThrowingDriverIsOnlyAFailedBind)
{
    const auto throwing = registerFilterDevice(category(5), L"thrower", [](REFIID, void**) -> HRESULT {
        throw std::runtime_error("driver bug");
    });
    const auto refusing = registerFilterDevice(category(5), L"refuser", [](REFIID, void** object) {
        *object = reinterpret_cast<void*>(0x1); // a driver that leaves garbage behind
        return E_OUTOFMEMORY;
    });
    EXPECT_EQ(registerFilterDevice(category(5), L"no factory", nullptr), 0u);
    ComPtr<IEnumMoniker> e;
    ASSERT_EQ(deviceEnumerator()->CreateClassEnumerator(category(5), e.put(), 0), S_OK);
    ComPtr<IMoniker> m;
    void* object = nullptr;
    ASSERT_EQ(e->Next(1, m.put(), nullptr), S_OK);
    EXPECT_EQ(m->BindToObject(nullptr, nullptr, IID_IPersist, &object), E_FAIL);
    EXPECT_EQ(object, nullptr);
    ASSERT_EQ(e->Next(1, m.put(), nullptr), S_OK);
    EXPECT_EQ(m->BindToObject(nullptr, nullptr, IID_IPersist, &object), E_OUTOFMEMORY);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(e->Next(1, m.put(), nullptr), S_FALSE);
    unregisterFilterDevice(throwing);
    unregisterFilterDevice(refusing);
}

} // namespace
