#include "platform/ks/property_table.h"

namespace platform::ks {

void PropertyTable::onGet(REFGUID set, DWORD id, GetHandler handler)
{
    entries_[{set, id}].get = std::move(handler);
}

void PropertyTable::onSet(REFGUID set, DWORD id, SetHandler handler)
{
    entries_[{set, id}].set = std::move(handler);
}

const PropertyTable::Entry* PropertyTable::find(REFGUID set, DWORD id, HRESULT* missing) const
{
    auto it = entries_.find({set, id});
    if (it != entries_.end() && (it->second.get || it->second.set))
        return &it->second;
    // Tell an unknown set from a known set without this id, as drivers do.
    auto first = entries_.lower_bound({set, 0});
    const bool setKnown = first != entries_.end() && first->first.first == set;
    *missing = setKnown ? E_PROP_ID_UNSUPPORTED : E_PROP_SET_UNSUPPORTED;
    return nullptr;
}

HRESULT PropertyTable::querySupported(REFGUID set, DWORD id, DWORD* typeSupport) const
{
    if (typeSupport == nullptr)
        return E_POINTER;
    HRESULT missing = S_OK;
    const Entry* entry = find(set, id, &missing);
    if (entry == nullptr)
        return missing;
    *typeSupport = (entry->get ? KSPROPERTY_SUPPORT_GET : 0) | (entry->set ? KSPROPERTY_SUPPORT_SET : 0);
    return S_OK;
}

HRESULT PropertyTable::get(REFGUID set, DWORD id, const void* instance, DWORD instanceLength, void* data,
                           DWORD dataLength, DWORD* bytesReturned) const
{
    if ((instance == nullptr && instanceLength != 0) || data == nullptr)
        return E_POINTER;
    HRESULT missing = S_OK;
    const Entry* entry = find(set, id, &missing);
    if (entry == nullptr)
        return missing;
    if (!entry->get)
        return E_PROP_ID_UNSUPPORTED;
    if (bytesReturned)
        *bytesReturned = 0;
    try {
        return entry->get(PropertyRequest{instance, instanceLength, data, dataLength}, bytesReturned);
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT PropertyTable::put(REFGUID set, DWORD id, const void* instance, DWORD instanceLength, void* data,
                           DWORD dataLength) const
{
    if ((instance == nullptr && instanceLength != 0) || (data == nullptr && dataLength != 0))
        return E_POINTER;
    HRESULT missing = S_OK;
    const Entry* entry = find(set, id, &missing);
    if (entry == nullptr)
        return missing;
    if (!entry->set)
        return E_PROP_ID_UNSUPPORTED;
    try {
        return entry->set(PropertyRequest{instance, instanceLength, data, dataLength});
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT KsPropertySetBase::Set(REFGUID propSet, DWORD id, LPVOID instanceData, DWORD instanceLength,
                               LPVOID propertyData, DWORD dataLength)
{
    if (const HRESULT gone = availability(); FAILED(gone))
        return gone;
    return properties_.put(propSet, id, instanceData, instanceLength, propertyData, dataLength);
}

HRESULT KsPropertySetBase::Get(REFGUID propSet, DWORD id, LPVOID instanceData, DWORD instanceLength,
                               LPVOID propertyData, DWORD dataLength, DWORD* bytesReturned)
{
    if (const HRESULT gone = availability(); FAILED(gone))
        return gone;
    return properties_.get(propSet, id, instanceData, instanceLength, propertyData, dataLength, bytesReturned);
}

HRESULT KsPropertySetBase::QuerySupported(REFGUID propSet, DWORD id, DWORD* typeSupport)
{
    if (const HRESULT gone = availability(); FAILED(gone))
        return gone;
    return properties_.querySupported(propSet, id, typeSupport);
}

} // namespace platform::ks
