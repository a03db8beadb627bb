#include "platform/media/rot.h"

#include <mutex>
#include <string>
#include <vector>

namespace {

struct Entry {
    DWORD cookie;
    std::wstring name;
    ComPtr<IUnknown> object;
};

// Names are compared by display name, as equal monikers have equal names.
std::wstring displayName(IMoniker* moniker)
{
    std::wstring name;
    LPOLESTR text = nullptr;
    if (SUCCEEDED(moniker->GetDisplayName(nullptr, nullptr, &text)) && text)
        name = text;
    CoTaskMemFree(text);
    return name;
}

class RunningObjectTable : public platform::ComObject<IRunningObjectTable> {
public:
    HRESULT Register(DWORD, IUnknown* object, IMoniker* name, DWORD* cookie) override
    {
        if (object == nullptr || name == nullptr || cookie == nullptr)
            return E_INVALIDARG;
        *cookie = 0;
        try {
            std::wstring key = displayName(name);
            if (key.empty())
                return E_INVALIDARG;
            std::lock_guard<std::mutex> guard(lock_);
            bool duplicate = false;
            for (const Entry& e : entries_)
                duplicate = duplicate || e.name == key;
            if (++lastCookie_ == 0) // after wrapping round
                ++lastCookie_;
            entries_.push_back(Entry{lastCookie_, std::move(key), ComPtr<IUnknown>(object)});
            *cookie = lastCookie_;
            return duplicate ? MK_S_MONIKERALREADYREGISTERED : S_OK;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

    HRESULT Revoke(DWORD cookie) override
    {
        ComPtr<IUnknown> released; // let go of outside the lock: its destructor may use the table
        std::lock_guard<std::mutex> guard(lock_);
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->cookie == cookie) {
                released = std::move(it->object);
                entries_.erase(it);
                return S_OK;
            }
        }
        return E_INVALIDARG;
    }

private:
    std::mutex lock_;
    std::vector<Entry> entries_;
    DWORD lastCookie_ = 0;
};

} // namespace

HRESULT GetRunningObjectTable(DWORD, IRunningObjectTable** table)
{
    if (table == nullptr)
        return E_POINTER;
    // One table for the process's life; it is never destroyed so late revokes still work.
    static IRunningObjectTable* const rot = [] {
        IRunningObjectTable* made = nullptr;
        platform::createObject<RunningObjectTable>(IID_IRunningObjectTable, reinterpret_cast<void**>(&made));
        return made;
    }();
    *table = rot;
    if (rot == nullptr)
        return E_OUTOFMEMORY;
    rot->AddRef();
    return S_OK;
}
