// A table of property handlers per (set, id), and an IKsPropertySet served from such a table, so
// that a card driver's filter or pin only lists what it answers.
// Fill the table before the object is handed out; afterwards it is only read, from any thread.
// Handlers run on the caller's thread; an exception from one is answered with E_FAIL.
#pragma once

#include "platform/ks/ks.h"

#include <cstring>
#include <functional>
#include <map>
#include <type_traits>
#include <utility>

namespace platform::ks {

// One request as a handler sees it; the pointers may be null only when their length is 0.
struct PropertyRequest {
    const void* instance;
    DWORD instanceLength;
    void* data;
    DWORD dataLength;
};

using GetHandler = std::function<HRESULT(const PropertyRequest& request, DWORD* bytesReturned)>;
using SetHandler = std::function<HRESULT(const PropertyRequest& request)>;

class PropertyTable {
public:
    void onGet(REFGUID set, DWORD id, GetHandler handler);
    void onSet(REFGUID set, DWORD id, SetHandler handler);

    // Plain values (a 4-byte code, a flag): the buffer must hold at least sizeof(T).
    template <class T, class F>
    void onGetValue(REFGUID set, DWORD id, F read);  // F: HRESULT(T& out)
    template <class T, class F>
    void onSetValue(REFGUID set, DWORD id, F write); // F: HRESULT(T value)

    HRESULT querySupported(REFGUID set, DWORD id, DWORD* typeSupport) const;
    HRESULT get(REFGUID set, DWORD id, const void* instance, DWORD instanceLength, void* data, DWORD dataLength,
                DWORD* bytesReturned) const;
    HRESULT put(REFGUID set, DWORD id, const void* instance, DWORD instanceLength, void* data,
                DWORD dataLength) const;

private:
    struct Entry {
        GetHandler get;
        SetHandler set;
    };
    const Entry* find(REFGUID set, DWORD id, HRESULT* missing) const;
    std::map<std::pair<GUID, DWORD>, Entry> entries_;
};

// IKsPropertySet answered from a PropertyTable. IUnknown comes from the object's ComObject.
class KsPropertySetBase : public IKsPropertySet {
public:
    HRESULT Set(REFGUID propSet, DWORD id, LPVOID instanceData, DWORD instanceLength, LPVOID propertyData,
                DWORD dataLength) override;
    HRESULT Get(REFGUID propSet, DWORD id, LPVOID instanceData, DWORD instanceLength, LPVOID propertyData,
                DWORD dataLength, DWORD* bytesReturned) override;
    HRESULT QuerySupported(REFGUID propSet, DWORD id, DWORD* typeSupport) override;

protected:
    PropertyTable& properties() { return properties_; }
    // Checked before every request: a device that has gone fails them all with its result.
    virtual HRESULT availability() const { return S_OK; }

private:
    PropertyTable properties_;
};

template <class T, class F>
void PropertyTable::onGetValue(REFGUID set, DWORD id, F read)
{
    static_assert(std::is_trivially_copyable_v<T>, "property values are copied as bytes");
    onGet(set, id, [read = std::move(read)](const PropertyRequest& request, DWORD* bytesReturned) -> HRESULT {
        if (request.dataLength < sizeof(T))
            return E_KS_BUFFER_TOO_SMALL;
        T value{};
        const HRESULT hr = read(value);
        if (FAILED(hr))
            return hr;
        std::memcpy(request.data, &value, sizeof(T));
        if (bytesReturned)
            *bytesReturned = sizeof(T);
        return hr;
    });
}

template <class T, class F>
void PropertyTable::onSetValue(REFGUID set, DWORD id, F write)
{
    static_assert(std::is_trivially_copyable_v<T>, "property values are copied as bytes");
    onSet(set, id, [write = std::move(write)](const PropertyRequest& request) -> HRESULT {
        if (request.dataLength < sizeof(T))
            return E_KS_BUFFER_TOO_SMALL;
        T value{};
        std::memcpy(&value, request.data, sizeof(T));
        return write(value);
    });
}

} // namespace platform::ks
