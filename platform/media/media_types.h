// AM_MEDIA_TYPE, the media type GUIDs the graph uses, and helpers to copy and free types.
#pragma once

#include "platform/media/com.h"

struct AM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown* pUnk;    // held with a reference by the copy helpers
    ULONG cbFormat;
    BYTE* pbFormat;    // CoTaskMemAlloc'ed
};

inline constexpr GUID MEDIATYPE_Stream = {0xE436EB83, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr GUID MEDIASUBTYPE_None = {0xE436EB8E, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr GUID MEDIASUBTYPE_MPEG2_TRANSPORT = {0xE06D8023, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
inline constexpr GUID KSDATAFORMAT_SUBTYPE_BDA_MPEG2_TRANSPORT = {0xF4AEB342, 0x0329, 0x4FDD, {0xA8, 0xFD, 0x4A, 0xFF, 0x49, 0x26, 0xC9, 0x78}};
inline constexpr GUID MEDIATYPE_MPEG2_SECTIONS = {0x455F176C, 0x4B06, 0x47CE, {0x9A, 0xEF, 0x8C, 0xAE, 0xF7, 0x3D, 0xF7, 0xB5}};
inline constexpr GUID MEDIASUBTYPE_MPEG2DATA = {0xC892E55B, 0x252D, 0x42B5, {0xA3, 0x16, 0xD9, 0x97, 0xE7, 0xA5, 0xD9, 0x95}};
inline constexpr GUID FORMAT_None = {0x0F6417D6, 0xC318, 0x11D0, {0xA4, 0x3F, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source); // target's old contents are not freed
void FreeMediaType(AM_MEDIA_TYPE& type);                                    // frees the format, keeps the struct
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source);                // CoTaskMemAlloc'ed copy, or null
void DeleteMediaType(AM_MEDIA_TYPE* type);                                  // FreeMediaType + CoTaskMemFree

namespace platform {

// A media type that owns its format block (the CMediaType of DirectShow).
class MediaType : public AM_MEDIA_TYPE {
public:
    MediaType();
    MediaType(const GUID& major, const GUID& sub, const GUID& format = FORMAT_None);
    MediaType(const AM_MEDIA_TYPE& other);
    MediaType(const MediaType& other);
    MediaType& operator=(const AM_MEDIA_TYPE& other);
    MediaType& operator=(const MediaType& other);
    ~MediaType();
    void clear(); // back to an all-null type

    // A type with a null major type or format type leaves the rest open (DirectShow's rule).
    bool isPartiallySpecified() const;
    // True when this type agrees with `partial` on every field that `partial` specifies.
    bool matchesPartial(const AM_MEDIA_TYPE* partial) const;
    bool operator==(const AM_MEDIA_TYPE& other) const;
};

} // namespace platform
