#include "platform/media/tuning.h"

#include <mutex>
#include <string>
#include <vector>

namespace {

using TuningSpaceEnum = platform::ComEnum<IEnumTuningSpaces, ITuningSpace>;

struct Stored {
    std::wstring uniqueName;
    ComPtr<ITuningSpace> space; // the container's own copy
};

class SystemTuningSpaces : public platform::ComObject<ITuningSpaceContainer> {
public:
    HRESULT get_EnumTuningSpaces(IEnumTuningSpaces** out) override
    {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        try {
            std::vector<ComPtr<ITuningSpace>> copies;
            {
                std::lock_guard<std::mutex> guard(lock_);
                for (const Stored& s : spaces_) {
                    copies.emplace_back();
                    const HRESULT hr = s.space->Clone(copies.back().put());
                    if (FAILED(hr))
                        return hr;
                }
            }
            return platform::createObject<TuningSpaceEnum>(IID_IEnumTuningSpaces, reinterpret_cast<void**>(out),
                                                           std::move(copies));
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

    HRESULT Add(ITuningSpace* space, VARIANT* newIndex) override
    {
        if (space == nullptr)
            return E_POINTER;
        try {
            Stored entry;
            BSTR name = nullptr;
            if (SUCCEEDED(space->get_UniqueName(&name)) && name)
                entry.uniqueName.assign(name, SysStringLen(name));
            SysFreeString(name);
            const HRESULT hr = space->Clone(entry.space.put());
            if (FAILED(hr) || !entry.space)
                return FAILED(hr) ? hr : E_FAIL;
            std::lock_guard<std::mutex> guard(lock_);
            for (const Stored& s : spaces_)
                if (s.uniqueName == entry.uniqueName)
                    return E_TUNING_SPACE_DUPLICATE;
            spaces_.push_back(entry);
            if (newIndex) {
                VariantInit(newIndex);
                newIndex->vt = VT_I4;
                newIndex->lVal = static_cast<LONG>(spaces_.size());
            }
            return S_OK;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

private:
    std::mutex lock_;
    std::vector<Stored> spaces_;
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
