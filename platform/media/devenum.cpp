#include "platform/media/devenum.h"
#include "platform/media/mpeg2_filters.h"

#include "platform/media/enumerators.h"
#include "platform/media/propertybag.h"

#include <mutex>
#include <vector>

namespace {

using platform::ClassFactory;
using platform::media::DeviceId;
using MonikerEnum = platform::ComEnum<IEnumMoniker, IMoniker>;

struct Device {
    DeviceId id;
    GUID category;
    std::wstring friendlyName;
    ClassFactory factory;
};

struct DeviceTable {
    std::mutex lock;
    std::vector<Device> devices; // registration order
    DeviceId nextId = 1;
};

DeviceTable& table()
{
    // Never destroyed: drivers may unregister at exit. The transport
    // information filter is part of the system, listed from the start.
    static DeviceTable* t = [] {
        auto* table = new DeviceTable;
        table->devices.push_back(Device{table->nextId++, KSCATEGORY_BDA_TRANSPORT_INFORMATION,
                                        platform::kTransportInformationFilterName, [](REFIID riid, void** object) {
                                            return CoCreateInstance(CLSID_BDA_MPEG2_Transport_Information_Filter,
                                                                    nullptr, CLSCTX_INPROC_SERVER, riid, object);
                                        }});
        return table;
    }();
    return *t;
}

std::wstring deviceName(const Device& device)
{
    const std::string category = platform::guidToString(device.category);
    return L"@device:kest:" + std::to_wstring(device.id) + L"#" + std::wstring(category.begin(), category.end());
}

class DeviceMoniker : public platform::media::NamedMoniker {
public:
    explicit DeviceMoniker(const Device& device)
        : NamedMoniker(deviceName(device)), id_(device.id), friendlyName_(device.friendlyName) {}

    HRESULT BindToObject(IBindCtx*, IMoniker*, REFIID riid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        ClassFactory factory;
        {
            DeviceTable& t = table();
            std::lock_guard<std::mutex> guard(t.lock);
            for (const Device& d : t.devices)
                if (d.id == id_)
                    factory = d.factory;
        }
        if (!factory)
            return MK_E_UNAVAILABLE;
        try {
            const HRESULT hr = factory(riid, object);
            if (FAILED(hr))
                *object = nullptr;
            return hr;
        } catch (...) {
            *object = nullptr;
            return E_FAIL;
        }
    }

    HRESULT BindToStorage(IBindCtx*, IMoniker*, REFIID riid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (riid != IID_IPropertyBag)
            return E_NOINTERFACE;
        try {
            return platform::media::createPropertyBag({{L"FriendlyName", friendlyName_}},
                                                      reinterpret_cast<IPropertyBag**>(object));
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

private:
    DeviceId id_;
    std::wstring friendlyName_;
};

class SystemDeviceEnum : public platform::ComObject<ICreateDevEnum> {
public:
    HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** monikers, DWORD) override
    {
        if (monikers == nullptr)
            return E_POINTER;
        *monikers = nullptr;
        try {
            std::vector<ComPtr<IMoniker>> found;
            {
                DeviceTable& t = table();
                std::lock_guard<std::mutex> guard(t.lock);
                for (const Device& d : t.devices)
                    if (d.category == category)
                        found.emplace_back(new DeviceMoniker(d));
            }
            if (found.empty())
                return S_FALSE;
            return platform::createObject<MonikerEnum>(IID_IEnumMoniker, reinterpret_cast<void**>(monikers),
                                                       std::move(found));
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }
};

} // namespace

namespace platform::media {

DeviceId registerFilterDevice(REFGUID category, const std::wstring& friendlyName, ClassFactory factory)
{
    if (!factory)
        return 0;
    DeviceTable& t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    const DeviceId id = t.nextId++;
    t.devices.push_back(Device{id, category, friendlyName, std::move(factory)});
    return id;
}

bool unregisterFilterDevice(DeviceId id)
{
    ClassFactory dropped; // destroyed outside the lock: it may hold driver objects
    DeviceTable& t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    for (auto it = t.devices.begin(); it != t.devices.end(); ++it) {
        if (it->id == id) {
            dropped = std::move(it->factory);
            t.devices.erase(it);
            return true;
        }
    }
    return false;
}

HRESULT createSystemDeviceEnum(REFIID riid, void** object)
{
    return createObject<SystemDeviceEnum>(riid, object);
}

} // namespace platform::media
