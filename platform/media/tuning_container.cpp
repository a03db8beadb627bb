#include "platform/media/tuning.h"
#include "platform/media/tuning_accessors.h"

#include <mutex>
#include <string>
#include <vector>

namespace {

struct Stored {
    LONG id;
    std::wstring uniqueName;
    std::wstring friendlyName;
    ComPtr<ITuningSpace> space; // the container's own copy
};

std::wstring readName(ITuningSpace* space, HRESULT (ITuningSpace::*getter)(BSTR*))
{
    BSTR text = nullptr;
    std::wstring name;
    if (SUCCEEDED((space->*getter)(&text)) && text)
        name.assign(text, SysStringLen(text));
    SysFreeString(text);
    return name;
}

class SystemTuningSpaces : public platform::ComObject<ITuningSpaceContainer> {
public:
    HRESULT get_Count(LONG* count) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        return platform::media::detail::getValue(static_cast<LONG>(spaces_.size()), count);
    }

    HRESULT get_EnumTuningSpaces(IEnumTuningSpaces** spaces) override
    {
        return enumerate([](const Stored&) { return true; }, spaces);
    }

    HRESULT get__TuningSpacesForName(LPCOLESTR name, IEnumTuningSpaces** spaces) override
    {
        if (name == nullptr)
            return E_POINTER;
        const std::wstring wanted = name;
        const HRESULT hr = enumerate(
            [&](const Stored& s) { return s.uniqueName == wanted || s.friendlyName == wanted; }, spaces);
        return hr;
    }

    HRESULT get_Item(VARIANT index, ITuningSpace** space) override
    {
        if (space == nullptr)
            return E_POINTER;
        *space = nullptr;
        std::lock_guard<std::mutex> guard(lock_);
        const Stored* found = find(index);
        return found ? found->space->Clone(space) : E_INVALIDARG;
    }

    HRESULT Add(ITuningSpace* space, VARIANT* newIndex) override
    {
        if (space == nullptr)
            return E_POINTER;
        try {
            Stored entry{0, readName(space, &ITuningSpace::get_UniqueName),
                         readName(space, &ITuningSpace::get_FriendlyName), nullptr};
            const HRESULT hr = space->Clone(entry.space.put());
            if (FAILED(hr) || !entry.space)
                return FAILED(hr) ? hr : E_FAIL;
            std::lock_guard<std::mutex> guard(lock_);
            for (const Stored& s : spaces_)
                if (s.uniqueName == entry.uniqueName)
                    return E_TUNING_SPACE_DUPLICATE;
            entry.id = nextId_++;
            spaces_.push_back(entry);
            if (newIndex) {
                VariantInit(newIndex);
                newIndex->vt = VT_I4;
                newIndex->lVal = entry.id;
            }
            return S_OK;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

    HRESULT Remove(VARIANT index) override
    {
        ComPtr<ITuningSpace> dropped; // released outside the lock
        std::lock_guard<std::mutex> guard(lock_);
        const Stored* found = find(index);
        if (found == nullptr)
            return E_INVALIDARG;
        dropped = found->space;
        spaces_.erase(spaces_.begin() + (found - spaces_.data()));
        return S_OK;
    }

private:
    const Stored* find(const VARIANT& index) const
    {
        for (const Stored& s : spaces_) {
            if (index.vt == VT_I4 && s.id == index.lVal)
                return &s;
            if (index.vt == VT_BSTR && index.bstrVal && s.uniqueName == index.bstrVal)
                return &s;
        }
        return nullptr;
    }

    template <class Match>
    HRESULT enumerate(Match match, IEnumTuningSpaces** out)
    {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        try {
            std::vector<ComPtr<ITuningSpace>> copies;
            {
                std::lock_guard<std::mutex> guard(lock_);
                for (const Stored& s : spaces_) {
                    if (!match(s))
                        continue;
                    copies.emplace_back();
                    const HRESULT hr = s.space->Clone(copies.back().put());
                    if (FAILED(hr))
                        return hr;
                }
            }
            const bool none = copies.empty();
            const HRESULT hr = platform::createObject<platform::media::TuningSpaceEnum>(
                IID_IEnumTuningSpaces, reinterpret_cast<void**>(out), std::move(copies));
            return FAILED(hr) ? hr : none ? S_FALSE : S_OK;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

    std::mutex lock_;
    std::vector<Stored> spaces_;
    LONG nextId_ = 1;
};

} // namespace

namespace platform::media {

HRESULT createSystemTuningSpaces(REFIID riid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    // One container per process, never destroyed, as the system's is.
    static SystemTuningSpaces* const container = [] {
        auto* made = new SystemTuningSpaces;
        made->AddRef();
        return made;
    }();
    return container->QueryInterface(riid, object);
}

} // namespace platform::media
