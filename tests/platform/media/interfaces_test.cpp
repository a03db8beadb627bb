#include "platform/media/graph.h"

#include <gtest/gtest.h>

namespace {

void expectGuid(const GUID& guid, const char* text)
{
    CLSID parsed{};
    ASSERT_EQ(CLSIDFromString(text, &parsed), S_OK) << text;
    EXPECT_EQ(parsed, guid) << text << " vs " << platform::guidToString(guid);
}

TEST(MediaInterfaces, PublishedIids)
{
    expectGuid(IID_IPersist, "{0000010C-0000-0000-C000-000000000046}");
    expectGuid(IID_IPin, "{56A86891-0AD4-11CE-B03A-0020AF0BA770}");
    expectGuid(IID_IEnumPins, "{56A86892-0AD4-11CE-B03A-0020AF0BA770}");
    expectGuid(IID_IEnumFilters, "{56A86893-0AD4-11CE-B03A-0020AF0BA770}");
    expectGuid(IID_IBaseFilter, "{56A86895-0AD4-11CE-B03A-0020AF0BA770}");
    expectGuid(IID_IMediaFilter, "{56A86899-0AD4-11CE-B03A-0020AF0BA770}");
    expectGuid(IID_IEnumMediaTypes, "{89C31040-846B-11CE-97D3-00AA0055595A}");
    expectGuid(IID_IMediaSample, "{56A8689A-0AD4-11CE-B03A-0020AF0BA770}");
    expectGuid(IID_IMemAllocator, "{56A8689C-0AD4-11CE-B03A-0020AF0BA770}");
    expectGuid(IID_IMemInputPin, "{56A8689D-0AD4-11CE-B03A-0020AF0BA770}");
    expectGuid(IID_IFilterGraph, "{56A8689F-0AD4-11CE-B03A-0020AF0BA770}");
    expectGuid(IID_IGraphBuilder, "{56A868A9-0AD4-11CE-B03A-0020AF0BA770}");
    expectGuid(IID_IMediaControl, "{56A868B1-0AD4-11CE-B03A-0020AF0BA770}");
    expectGuid(CLSID_FilterGraph, "{E436EBB3-524F-11CE-9F53-0020AF0BA770}");
    expectGuid(MEDIATYPE_Stream, "{E436EB83-524F-11CE-9F53-0020AF0BA770}");
    expectGuid(MEDIASUBTYPE_MPEG2_TRANSPORT, "{E06D8023-DB46-11CF-B4D1-00805F6CBBEA}");
}

TEST(MediaInterfaces, ResultCodes)
{
    EXPECT_EQ(VFW_E_NOT_CONNECTED, static_cast<HRESULT>(0x80040209u));
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, static_cast<HRESULT>(0x80040204u));
    EXPECT_EQ(VFW_E_NOT_STOPPED, static_cast<HRESULT>(0x80040224u));
    EXPECT_EQ(VFW_E_WRONG_STATE, static_cast<HRESULT>(0x80040227u));
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, static_cast<HRESULT>(0x8004022Au));
    EXPECT_EQ(VFW_E_NO_ACCEPTABLE_TYPES, static_cast<HRESULT>(0x80040207u));
    EXPECT_EQ(VFW_E_NOT_COMMITTED, static_cast<HRESULT>(0x80040211u));
    EXPECT_EQ(VFW_E_CANNOT_CONNECT, static_cast<HRESULT>(0x80040217u));
    EXPECT_EQ(REGDB_E_CLASSNOTREG, static_cast<HRESULT>(0x80040154u));
}

TEST(MediaTypes, CopyFreeAndPartialMatch)
{
    BYTE format[3] = {1, 2, 3};
    platform::MediaType type(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_TRANSPORT);
    type.cbFormat = 3;
    type.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(3));
    std::memcpy(type.pbFormat, format, 3);
    platform::MediaType copy(type);
    EXPECT_NE(copy.pbFormat, type.pbFormat);
    EXPECT_TRUE(copy == type);
    AM_MEDIA_TYPE* created = CreateMediaType(&copy);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->pbFormat[2], 3);
    DeleteMediaType(created);
    platform::MediaType& alias = copy;
    copy = alias; // self-assignment keeps the format
    EXPECT_EQ(copy.pbFormat[0], 1);
    platform::MediaType partial(MEDIATYPE_Stream, GUID_NULL, GUID_NULL);
    EXPECT_TRUE(partial.isPartiallySpecified());
    EXPECT_TRUE(type.matchesPartial(&partial));
    EXPECT_TRUE(type.matchesPartial(nullptr));
    partial.subtype = MEDIASUBTYPE_MPEG2DATA;
    EXPECT_FALSE(type.matchesPartial(&partial));
    copy.clear();
    EXPECT_EQ(copy.pbFormat, nullptr);
}

} // namespace
