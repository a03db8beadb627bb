#include "platform/media/media_types.h"

#include <cstring>
#include <new>

HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source)
{
    if (target == nullptr || source == nullptr)
        return E_POINTER;
    *target = *source;
    target->pbFormat = nullptr;
    target->cbFormat = 0;
    if (source->cbFormat != 0 && source->pbFormat != nullptr) {
        target->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat));
        if (target->pbFormat == nullptr) {
            target->pUnk = nullptr;
            return E_OUTOFMEMORY;
        }
        std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
        target->cbFormat = source->cbFormat;
    }
    if (target->pUnk != nullptr)
        target->pUnk->AddRef();
    return S_OK;
}

void FreeMediaType(AM_MEDIA_TYPE& type)
{
    if (type.pbFormat != nullptr)
        CoTaskMemFree(type.pbFormat);
    type.pbFormat = nullptr;
    type.cbFormat = 0;
    if (type.pUnk != nullptr)
        type.pUnk->Release();
    type.pUnk = nullptr;
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source)
{
    if (source == nullptr)
        return nullptr;
    auto* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (type == nullptr)
        return nullptr;
    if (FAILED(CopyMediaType(type, source))) {
        CoTaskMemFree(type);
        return nullptr;
    }
    return type;
}

void DeleteMediaType(AM_MEDIA_TYPE* type)
{
    if (type == nullptr)
        return;
    FreeMediaType(*type);
    CoTaskMemFree(type);
}

namespace platform {

namespace {
AM_MEDIA_TYPE nullType() { return AM_MEDIA_TYPE{GUID_NULL, GUID_NULL, FALSE, FALSE, 0, GUID_NULL, nullptr, 0, nullptr}; }
} // namespace

MediaType::MediaType() : AM_MEDIA_TYPE(nullType()) {}

MediaType::MediaType(const GUID& major, const GUID& sub, const GUID& format) : AM_MEDIA_TYPE(nullType())
{
    majortype = major;
    subtype = sub;
    formattype = format;
    bFixedSizeSamples = TRUE;
    lSampleSize = 1;
}

MediaType::MediaType(const AM_MEDIA_TYPE& other) : AM_MEDIA_TYPE(nullType())
{
    if (FAILED(CopyMediaType(this, &other)))
        clear();
}

MediaType::MediaType(const MediaType& other) : MediaType(static_cast<const AM_MEDIA_TYPE&>(other)) {}

MediaType& MediaType::operator=(const AM_MEDIA_TYPE& other)
{
    if (&other == this)
        return *this;
    MediaType copy(other);
    clear();
    static_cast<AM_MEDIA_TYPE&>(*this) = copy; // take over the copy's format block
    static_cast<AM_MEDIA_TYPE&>(copy) = nullType();
    return *this;
}

MediaType& MediaType::operator=(const MediaType& other) { return *this = static_cast<const AM_MEDIA_TYPE&>(other); }

MediaType::~MediaType() { FreeMediaType(*this); }

void MediaType::clear()
{
    FreeMediaType(*this);
    static_cast<AM_MEDIA_TYPE&>(*this) = nullType();
}

bool MediaType::isPartiallySpecified() const { return majortype == GUID_NULL || formattype == GUID_NULL; }

bool MediaType::matchesPartial(const AM_MEDIA_TYPE* partial) const
{
    if (partial == nullptr)
        return true;
    if (partial->majortype != GUID_NULL && partial->majortype != majortype)
        return false;
    if (partial->subtype != GUID_NULL && partial->subtype != subtype)
        return false;
    if (partial->formattype != GUID_NULL) {
        if (partial->formattype != formattype || partial->cbFormat != cbFormat)
            return false;
        if (cbFormat != 0 && std::memcmp(partial->pbFormat, pbFormat, cbFormat) != 0)
            return false;
    }
    return true;
}

bool MediaType::operator==(const AM_MEDIA_TYPE& other) const
{
    return majortype == other.majortype && subtype == other.subtype && formattype == other.formattype
        && cbFormat == other.cbFormat && (cbFormat == 0 || std::memcmp(pbFormat, other.pbFormat, cbFormat) == 0);
}

} // namespace platform
