#include "platform/media/tuning.h"

#include <string>

namespace {

HRESULT putString(std::wstring& slot, LPCOLESTR text)
{
    if (text == nullptr)
        return E_POINTER;
    try {
        slot = text;
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT getString(const std::wstring& value, BSTR* out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

class DVBSLocator : public platform::ComObject<ILocator> {
public:
    HRESULT Clone(ILocator** copy) override
    {
        return platform::createObject<DVBSLocator>(IID_ILocator, reinterpret_cast<void**>(copy));
    }
};

class TuneRequest : public platform::ComObject<ITuneRequest> {
public:
    explicit TuneRequest(ITuningSpace* space) : space_(space) {}
    HRESULT get_TuningSpace(ITuningSpace** space) override { return space_.copyTo(space); }

private:
    ComPtr<ITuningSpace> space_;
};

struct SpaceValues {
    std::wstring uniqueName;
    std::wstring friendlyName;
    std::wstring frequencyMapping;
    std::wstring inputRange;
    GUID networkType = GUID_NULL;
    DVBSystemType systemType = DVB_Satellite;
    LONG lowOscillator = -1;
    LONG highOscillator = -1;
    LONG lnbSwitch = -1;
    SpectralInversion spectralInversion = BDA_SPECTRAL_INVERSION_NOT_SET;
    ComPtr<ILocator> defaultLocator; // the space's own copy
};

class DVBSTuningSpace : public platform::ComObject<IDVBSTuningSpace> {
public:
    DVBSTuningSpace() = default;
    explicit DVBSTuningSpace(const SpaceValues& values) : v_(values) {}

    HRESULT get_UniqueName(BSTR* name) override { return getString(v_.uniqueName, name); }
    HRESULT put_UniqueName(LPCOLESTR name) override { return putString(v_.uniqueName, name); }
    HRESULT put_FriendlyName(LPCOLESTR name) override { return putString(v_.friendlyName, name); }
    HRESULT get_NetworkType(BSTR* clsid) override
    {
        try {
            const std::string text = platform::guidToString(v_.networkType);
            return getString(std::wstring(text.begin(), text.end()), clsid);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }
    HRESULT get__NetworkType(GUID* clsid) override
    {
        if (clsid == nullptr)
            return E_POINTER;
        *clsid = v_.networkType;
        return S_OK;
    }
    HRESULT put__NetworkType(REFCLSID clsid) override { v_.networkType = clsid; return S_OK; }
    HRESULT put_FrequencyMapping(LPCOLESTR mapping) override { return putString(v_.frequencyMapping, mapping); }
    HRESULT put_DefaultLocator(ILocator* locator) override
    {
        ComPtr<ILocator> copy;
        if (locator) {
            const HRESULT hr = locator->Clone(copy.put());
            if (FAILED(hr))
                return hr;
        }
        v_.defaultLocator = copy;
        return S_OK;
    }

    HRESULT put_SystemType(DVBSystemType type) override { v_.systemType = type; return S_OK; }

    HRESULT put_LowOscillator(LONG khz) override { v_.lowOscillator = khz; return S_OK; }
    HRESULT put_HighOscillator(LONG khz) override { v_.highOscillator = khz; return S_OK; }
    HRESULT put_LNBSwitch(LONG khz) override { v_.lnbSwitch = khz; return S_OK; }
    HRESULT put_InputRange(LPCOLESTR range) override { return putString(v_.inputRange, range); }
    HRESULT put_SpectralInversion(SpectralInversion inversion) override
    {
        v_.spectralInversion = inversion;
        return S_OK;
    }

    HRESULT CreateTuneRequest(ITuneRequest** request) override
    {
        return platform::createObject<TuneRequest>(IID_ITuneRequest, reinterpret_cast<void**>(request),
                                                   static_cast<ITuningSpace*>(this));
    }

    HRESULT Clone(ITuningSpace** copy) override
    {
        if (copy == nullptr)
            return E_POINTER;
        *copy = nullptr;
        try {
            SpaceValues values = v_;
            if (v_.defaultLocator) {
                const HRESULT hr = v_.defaultLocator->Clone(values.defaultLocator.put());
                if (FAILED(hr))
                    return hr;
            }
            return platform::createObject<DVBSTuningSpace>(IID_ITuningSpace, reinterpret_cast<void**>(copy), values);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

private:
    SpaceValues v_;
};

} // namespace

namespace platform::media {

HRESULT createDVBSLocator(REFIID riid, void** object) { return createObject<DVBSLocator>(riid, object); }

HRESULT createDVBSTuningSpace(REFIID riid, void** object) { return createObject<DVBSTuningSpace>(riid, object); }

} // namespace platform::media
