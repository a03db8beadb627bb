#include "platform/media/network_provider.h"

#include "platform/media/base_filter.h"

#include <mutex>
#include <string>

namespace {

std::wstring uniqueName(ITuningSpace* space)
{
    BSTR name = nullptr;
    std::wstring result;
    if (space && SUCCEEDED(space->get_UniqueName(&name)) && name)
        result.assign(name, SysStringLen(name));
    SysFreeString(name);
    return result;
}

// The antenna connection only tells the tuner where its signal comes from: no samples, no allocator.
class AntennaPin final : public platform::BasePin {
public:
    explicit AntennaPin(platform::BaseFilter* filter) : BasePin(filter, L"Antenna Out", PINDIR_OUTPUT) {}

    HRESULT checkMediaType(const platform::MediaType& type) override
    {
        return type.majortype == KSDATAFORMAT_TYPE_BDA_ANTENNA ? S_OK : S_FALSE;
    }
    HRESULT getMediaType(int position, platform::MediaType* type) override
    {
        if (position < 0 || type == nullptr)
            return E_INVALIDARG;
        if (position > 0)
            return VFW_S_NO_MORE_ITEMS;
        *type = platform::MediaType(KSDATAFORMAT_TYPE_BDA_ANTENNA, MEDIASUBTYPE_None);
        return S_OK;
    }
    HRESULT EndOfStream() override { return E_UNEXPECTED; }
    HRESULT BeginFlush() override { return E_UNEXPECTED; }
    HRESULT EndFlush() override { return E_UNEXPECTED; }
};

class DVBSNetworkProvider final : public platform::BaseFilter, public ITuner {
public:
    DVBSNetworkProvider() : BaseFilter(CLSID_DVBSNetworkProvider), pin_(this) {}

    KEST_FORWARD_IUNKNOWN(BaseFilter)

    int pinCount() override { return 1; }
    platform::BasePin* pin(int index) override { return index == 0 ? &pin_ : nullptr; }

    HRESULT put_TuningSpace(ITuningSpace* space) override
    {
        if (space == nullptr)
            return E_POINTER;
        GUID type = GUID_NULL;
        if (FAILED(space->get__NetworkType(&type)) || type != CLSID_DVBSNetworkProvider)
            return E_INVALIDARG;
        ComPtr<ITuningSpace> oldSpace;
        ComPtr<ITuneRequest> oldRequest; // released after the lock
        std::lock_guard<std::mutex> guard(lock_);
        oldSpace = std::exchange(space_, ComPtr<ITuningSpace>(space));
        oldRequest = std::exchange(request_, nullptr);
        return S_OK;
    }

    HRESULT put_TuneRequest(ITuneRequest* request) override
    {
        const HRESULT hr = Validate(request);
        if (FAILED(hr))
            return hr;
        ComPtr<ITuneRequest> old;
        std::lock_guard<std::mutex> guard(lock_);
        old = std::exchange(request_, ComPtr<ITuneRequest>(request));
        return S_OK;
    }

    HRESULT Validate(ITuneRequest* request) override
    {
        if (request == nullptr)
            return E_POINTER;
        try {
            ComPtr<ITuningSpace> current;
            {
                std::lock_guard<std::mutex> guard(lock_);
                current = space_;
            }
            if (!current)
                return E_FAIL;
            ComPtr<ITuningSpace> theirs;
            if (FAILED(request->get_TuningSpace(theirs.put())) || !theirs)
                return E_INVALIDARG;
            return theirs == current || uniqueName(theirs.get()) == uniqueName(current.get()) ? S_OK : E_INVALIDARG;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

protected:
    void* queryExtra(REFIID riid) override { return riid == IID_ITuner ? static_cast<ITuner*>(this) : nullptr; }

private:
    AntennaPin pin_;
    std::mutex lock_;
    ComPtr<ITuningSpace> space_;
    ComPtr<ITuneRequest> request_;
};

} // namespace

namespace platform::media {

HRESULT createDVBSNetworkProvider(REFIID riid, void** object)
{
    return createObject<DVBSNetworkProvider>(riid, object);
}

} // namespace platform::media
