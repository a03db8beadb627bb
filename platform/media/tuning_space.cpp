#include "platform/media/tuning.h"
#include "platform/media/tuning_accessors.h"

#include <string>

namespace {

using platform::media::detail::getClone;
using platform::media::detail::getString;
using platform::media::detail::getValue;
using platform::media::detail::putClone;
using platform::media::detail::putString;

std::wstring wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

class DVBTuneRequest : public platform::ComObject<IDVBTuneRequest> {
public:
    explicit DVBTuneRequest(ITuningSpace* space) : space_(space) {}

    HRESULT get_TuningSpace(ITuningSpace** space) override { return space_.copyTo(space); }
    HRESULT get_Locator(ILocator** locator) override { return getClone(locator_, locator); }
    HRESULT put_Locator(ILocator* locator) override { return putClone(locator_, locator); }
    HRESULT get_ONID(LONG* id) override { return getValue(onid_, id); }
    HRESULT put_ONID(LONG id) override { onid_ = id; return S_OK; }
    HRESULT get_TSID(LONG* id) override { return getValue(tsid_, id); }
    HRESULT put_TSID(LONG id) override { tsid_ = id; return S_OK; }
    HRESULT get_SID(LONG* id) override { return getValue(sid_, id); }
    HRESULT put_SID(LONG id) override { sid_ = id; return S_OK; }

    HRESULT Clone(ITuneRequest** copy) override
    {
        if (copy == nullptr)
            return E_POINTER;
        ComPtr<DVBTuneRequest> made;
        HRESULT hr = platform::createObject<DVBTuneRequest>(IID_IDVBTuneRequest, made.putVoid(), space_.get());
        if (FAILED(hr))
            return hr;
        hr = made->put_Locator(locator_.get());
        if (FAILED(hr))
            return hr;
        made->onid_ = onid_;
        made->tsid_ = tsid_;
        made->sid_ = sid_;
        *copy = made.detach();
        return S_OK;
    }

private:
    ComPtr<ITuningSpace> space_;
    ComPtr<ILocator> locator_;
    LONG onid_ = -1;
    LONG tsid_ = -1;
    LONG sid_ = -1;
};

class DVBSTuningSpace : public platform::ComObject<IDVBSTuningSpace> {
public:
    HRESULT get_UniqueName(BSTR* name) override { return getString(uniqueName_, name); }
    HRESULT put_UniqueName(LPCOLESTR name) override { return putString(uniqueName_, name); }
    HRESULT get_FriendlyName(BSTR* name) override { return getString(friendlyName_, name); }
    HRESULT put_FriendlyName(LPCOLESTR name) override { return putString(friendlyName_, name); }
    HRESULT get_CLSID(BSTR* clsid) override { return guidString(CLSID_DVBSTuningSpace, clsid); }
    HRESULT get_NetworkType(BSTR* clsid) override { return guidString(networkType_, clsid); }
    HRESULT put_NetworkType(LPCOLESTR clsid) override
    {
        if (clsid == nullptr)
            return E_POINTER;
        return CLSIDFromString(clsid, &networkType_);
    }
    HRESULT get__NetworkType(GUID* clsid) override { return getValue(networkType_, clsid); }
    HRESULT put__NetworkType(REFCLSID clsid) override { networkType_ = clsid; return S_OK; }
    HRESULT get_FrequencyMapping(BSTR* mapping) override { return getString(frequencyMapping_, mapping); }
    HRESULT put_FrequencyMapping(LPCOLESTR mapping) override { return putString(frequencyMapping_, mapping); }
    HRESULT get_DefaultLocator(ILocator** locator) override { return getClone(defaultLocator_, locator); }
    HRESULT put_DefaultLocator(ILocator* locator) override { return putClone(defaultLocator_, locator); }

    HRESULT get_SystemType(DVBSystemType* type) override { return getValue(systemType_, type); }
    HRESULT put_SystemType(DVBSystemType type) override { systemType_ = type; return S_OK; }
    HRESULT get_NetworkID(LONG* id) override { return getValue(networkId_, id); }
    HRESULT put_NetworkID(LONG id) override { networkId_ = id; return S_OK; }

    HRESULT get_LowOscillator(LONG* khz) override { return getValue(lowOscillator_, khz); }
    HRESULT put_LowOscillator(LONG khz) override { lowOscillator_ = khz; return S_OK; }
    HRESULT get_HighOscillator(LONG* khz) override { return getValue(highOscillator_, khz); }
    HRESULT put_HighOscillator(LONG khz) override { highOscillator_ = khz; return S_OK; }
    HRESULT get_LNBSwitch(LONG* khz) override { return getValue(lnbSwitch_, khz); }
    HRESULT put_LNBSwitch(LONG khz) override { lnbSwitch_ = khz; return S_OK; }
    HRESULT get_InputRange(BSTR* range) override { return getString(inputRange_, range); }
    HRESULT put_InputRange(LPCOLESTR range) override { return putString(inputRange_, range); }
    HRESULT get_SpectralInversion(SpectralInversion* inversion) override
    {
        return getValue(spectralInversion_, inversion);
    }
    HRESULT put_SpectralInversion(SpectralInversion inversion) override
    {
        spectralInversion_ = inversion;
        return S_OK;
    }

    HRESULT CreateTuneRequest(ITuneRequest** request) override
    {
        return platform::createObject<DVBTuneRequest>(IID_ITuneRequest, reinterpret_cast<void**>(request),
                                                      static_cast<ITuningSpace*>(this));
    }

    HRESULT Clone(ITuningSpace** copy) override
    {
        if (copy == nullptr)
            return E_POINTER;
        *copy = nullptr;
        ComPtr<DVBSTuningSpace> made;
        HRESULT hr = platform::createObject<DVBSTuningSpace>(IID_IDVBSTuningSpace, made.putVoid());
        if (FAILED(hr))
            return hr;
        try {
            made->copyFrom(*this);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        hr = made->put_DefaultLocator(defaultLocator_.get());
        if (FAILED(hr))
            return hr;
        *copy = made.detach();
        return S_OK;
    }

private:
    static HRESULT guidString(const GUID& guid, BSTR* out)
    {
        try {
            return getString(wide(platform::guidToString(guid)), out);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

    // Everything but the default locator, which is copied on its own.
    void copyFrom(const DVBSTuningSpace& o)
    {
        uniqueName_ = o.uniqueName_;
        friendlyName_ = o.friendlyName_;
        frequencyMapping_ = o.frequencyMapping_;
        inputRange_ = o.inputRange_;
        networkType_ = o.networkType_;
        systemType_ = o.systemType_;
        networkId_ = o.networkId_;
        lowOscillator_ = o.lowOscillator_;
        highOscillator_ = o.highOscillator_;
        lnbSwitch_ = o.lnbSwitch_;
        spectralInversion_ = o.spectralInversion_;
    }

    std::wstring uniqueName_;
    std::wstring friendlyName_;
    std::wstring frequencyMapping_;
    std::wstring inputRange_;
    GUID networkType_ = GUID_NULL;
    DVBSystemType systemType_ = DVB_Satellite;
    LONG networkId_ = -1;
    LONG lowOscillator_ = -1;
    LONG highOscillator_ = -1;
    LONG lnbSwitch_ = -1;
    SpectralInversion spectralInversion_ = BDA_SPECTRAL_INVERSION_NOT_SET;
    ComPtr<ILocator> defaultLocator_;
};

} // namespace

namespace platform::media {

HRESULT createDVBSTuningSpace(REFIID riid, void** object)
{
    return createObject<DVBSTuningSpace>(riid, object);
}

} // namespace platform::media
