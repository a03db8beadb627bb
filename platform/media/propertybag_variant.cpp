#include "platform/media/propertybag_variant.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

// The length (in bytes, as COM keeps it) lives just in front of the characters.
struct Header {
    uint32_t bytes;
};

constexpr size_t kMaxLength = 0x7FFFFFF0u / sizeof(OLECHAR);
// The header is padded to OLECHAR alignment so that the characters are aligned.
constexpr size_t kHead = sizeof(Header) > alignof(OLECHAR) ? sizeof(Header) : alignof(OLECHAR);

unsigned char* blockOf(BSTR text) { return reinterpret_cast<unsigned char*>(text) - kHead; }

} // namespace

BSTR SysAllocStringLen(const OLECHAR* text, UINT length)
{
    if (length > kMaxLength)
        return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(kHead + (size_t{length} + 1) * sizeof(OLECHAR)));
    if (block == nullptr)
        return nullptr;
    Header header{static_cast<uint32_t>(length * sizeof(OLECHAR))};
    std::memcpy(block + kHead - sizeof(Header), &header, sizeof(Header));
    auto* chars = reinterpret_cast<OLECHAR*>(block + kHead);
    if (text)
        std::memcpy(chars, text, length * sizeof(OLECHAR));
    else
        std::memset(chars, 0, length * sizeof(OLECHAR));
    chars[length] = 0;
    return chars;
}

BSTR SysAllocString(const OLECHAR* text)
{
    if (text == nullptr)
        return nullptr;
    const size_t length = std::wcslen(text);
    return length > kMaxLength ? nullptr : SysAllocStringLen(text, static_cast<UINT>(length));
}

void SysFreeString(BSTR text)
{
    if (text)
        std::free(blockOf(text));
}

UINT SysStringLen(BSTR text)
{
    if (text == nullptr)
        return 0;
    Header header{};
    std::memcpy(&header, reinterpret_cast<unsigned char*>(text) - sizeof(Header), sizeof(Header));
    return header.bytes / sizeof(OLECHAR);
}

void VariantInit(VARIANT* v)
{
    if (v) {
        std::memset(v, 0, sizeof(VARIANT));
        v->vt = VT_EMPTY;
    }
}

HRESULT VariantClear(VARIANT* v)
{
    if (v == nullptr)
        return E_INVALIDARG;
    if (v->vt == VT_BSTR)
        SysFreeString(v->bstrVal);
    VariantInit(v);
    return S_OK;
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* guid)
{
    if (text == nullptr || guid == nullptr)
        return E_INVALIDARG;
    char narrow[40] = {};
    for (size_t i = 0; i < sizeof(narrow); ++i) {
        if (text[i] == 0)
            return CLSIDFromString(narrow, guid);
        if (text[i] < 0x20 || text[i] > 0x7E)
            return E_INVALIDARG;
        narrow[i] = static_cast<char>(text[i]);
    }
    return E_INVALIDARG; // longer than any GUID text
}
