#include "platform/media/interfaces.h"
#include "platform/media/propertybag.h"

#include <gtest/gtest.h>

#include <cwchar>

namespace {

struct Counted : platform::ComObject<IPersist> {
    HRESULT GetClassID(CLSID* clsid) override { *clsid = GUID_NULL; return S_OK; }
};

TEST(Bstr, KeepsItsLengthAndEmbeddedNulls)
{
    const OLECHAR text[] = L"ab\0cd";
    BSTR s = SysAllocStringLen(text, 5);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SysStringLen(s), 5u);
    EXPECT_EQ(s[3], L'c');
    EXPECT_EQ(s[5], L'\0');
    SysFreeString(s);

    BSTR t = SysAllocString(L"Kest DVBS Tuner");
    EXPECT_EQ(SysStringLen(t), 15u);
    EXPECT_STREQ(t, L"Kest DVBS Tuner");
    SysFreeString(t);

    BSTR zeroed = SysAllocStringLen(nullptr, 3);
    EXPECT_EQ(SysStringLen(zeroed), 3u);
    EXPECT_EQ(zeroed[0], L'\0');
    SysFreeString(zeroed);

    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);
}

TEST(Variant, CopiesOwnTheirStringAndObject)
{
    ComPtr<Counted> object(new Counted);
    VARIANT a, b;
    VariantInit(&a);
    VariantInit(&b);
    a.vt = VT_UNKNOWN;
    a.punkVal = static_cast<IPersist*>(object.get());
    object->AddRef(); // a's own reference
    ASSERT_EQ(VariantCopy(&b, &a), S_OK);
    EXPECT_EQ(b.punkVal, a.punkVal);
    VariantClear(&a);
    VariantClear(&b);
    EXPECT_EQ(object->refCount(), 1u);

    a.vt = VT_BSTR;
    a.bstrVal = SysAllocString(L"FriendlyName");
    ASSERT_EQ(VariantCopy(&b, &a), S_OK);
    EXPECT_NE(b.bstrVal, a.bstrVal);
    EXPECT_STREQ(b.bstrVal, L"FriendlyName");
    VariantClear(&a);
    VariantClear(&b);
    EXPECT_EQ(b.vt, VT_EMPTY);

    a.vt = 0x4000; // an array type: not ours
    EXPECT_EQ(VariantCopy(&b, &a), DISP_E_BADVARTYPE);
}

TEST(PropertyBag, ReadsCopiesOfTheNamedValue)
{
    ComPtr<IPropertyBag> bag;
    ASSERT_EQ(platform::media::createPropertyBag({{L"FriendlyName", L"Kest Cedar BDA Tuner/Demod"}}, bag.put()), S_OK);

    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR; // asks for a string, as device code does
    ASSERT_EQ(bag->Read(L"FriendlyName", &v, nullptr), S_OK);
    EXPECT_EQ(v.vt, VT_BSTR);
    EXPECT_STREQ(v.bstrVal, L"Kest Cedar BDA Tuner/Demod");
    VariantClear(&v);

    v.vt = VT_I4;
    EXPECT_EQ(bag->Read(L"FriendlyName", &v, nullptr), DISP_E_TYPEMISMATCH);
    v.vt = VT_EMPTY;
    EXPECT_EQ(bag->Read(L"DevicePath", &v, nullptr), E_INVALIDARG);
    EXPECT_EQ(bag->Read(nullptr, &v, nullptr), E_POINTER);

    VARIANT n;
    VariantInit(&n);
    n.vt = VT_I4;
    n.lVal = 7;
    ASSERT_EQ(bag->Write(L"Merit", &n), S_OK);
    ASSERT_EQ(bag->Read(L"Merit", &v, nullptr), S_OK); // VT_EMPTY takes the stored type
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 7);
}

TEST(WideClsid, ParsesTheTextATuningSpaceHandsOut)
{
    CLSID id{};
    ASSERT_EQ(CLSIDFromString(L"{FA4B375A-45B4-4D45-8440-263957B11623}", &id), S_OK);
    EXPECT_EQ(platform::guidToString(id), "{FA4B375A-45B4-4D45-8440-263957B11623}");
    EXPECT_EQ(CLSIDFromString(L"{FA4B375A-45B4-4D45-8440-263957B11623}x", &id), E_INVALIDARG);
    EXPECT_EQ(CLSIDFromString(L"{FA4B375A-45B4-4D45-8440-263957B1162\u0416}", &id), E_INVALIDARG);
    EXPECT_EQ(CLSIDFromString(static_cast<LPCOLESTR>(nullptr), &id), E_INVALIDARG);
}

} // namespace
