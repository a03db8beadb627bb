#include "platform/media/propertybag.h"

#include <gtest/gtest.h>

#include <cwchar>

namespace {

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

    ASSERT_EQ(bag->Read(L"FriendlyName", &v, nullptr), S_OK); // VT_EMPTY takes the stored type
    EXPECT_EQ(v.vt, VT_BSTR);
    EXPECT_STREQ(v.bstrVal, L"Kest Cedar BDA Tuner/Demod");
    VariantClear(&v);
    EXPECT_EQ(v.vt, VT_EMPTY);
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
