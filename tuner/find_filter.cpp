// GCC guesses the monikers' concrete class while inlining Release and then mistakes the
// object's own deletion for a free of an interior pointer.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wfree-nonheap-object"
#endif

#include "tuner/find_filter.h"

#include "platform/media/devenum.h"
#include "platform/media/propertybag.h"
#include "tuner/device_catalogue.h"
#include "tuner/diagnostics.h"

#include <cwchar>

namespace {

bool beginsWith(const VARIANT& friendlyName, const wchar_t* name)
{
    if (friendlyName.vt != VT_BSTR || friendlyName.bstrVal == nullptr)
        return false;
    const size_t length = std::wcslen(name);
    return SysStringLen(friendlyName.bstrVal) >= length && std::wcsncmp(friendlyName.bstrVal, name, length) == 0;
}

} // namespace

IBaseFilter* FindFilter(GUID category, const wchar_t* name)
{
    ComPtr<ICreateDevEnum> devices;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_ALL, IID_ICreateDevEnum,
                                devices.putVoid())) ||
        !devices)
        return nullptr;
    ComPtr<IEnumMoniker> monikers;
    // S_FALSE is an empty category: nothing to say about it.
    if (devices->CreateClassEnumerator(category, monikers.put(), 0) != S_OK || !monikers)
        return nullptr;
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.put(), nullptr) == S_OK && moniker) {
        ComPtr<IPropertyBag> bag;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.putVoid())) || !bag) {
            tuner::debugLine("FindFilter(): Cannot BindToStorage");
            return nullptr;
        }
        VARIANT friendlyName;
        VariantInit(&friendlyName);
        friendlyName.vt = VT_BSTR;
        if (FAILED(bag->Read(L"FriendlyName", &friendlyName, nullptr))) {
            tuner::debugLine("FindFilter(): IPropertyBag->Read method failed");
            VariantClear(&friendlyName);
            continue;
        }
        ComPtr<IBaseFilter> filter;
        const bool created =
            SUCCEEDED(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.putVoid())) && filter;
        const bool matches = name == nullptr || beginsWith(friendlyName, name);
        VariantClear(&friendlyName);
        if (created && matches)
            return filter.detach();
    }
    return nullptr;
}

namespace tuner {

int32_t probeInstalledModel()
{
    for (const int32_t id : kProbeOrder) {
        const std::wstring name = widen(findModel(id)->tunerName);
        // Only a presence test: the graph is built later from fresh lookups.
        if (ComPtr<IBaseFilter>::adopt(FindFilter(KSCATEGORY_BDA_NETWORK_TUNER, name.c_str())))
            return id;
    }
    return 0;
}

} // namespace tuner
