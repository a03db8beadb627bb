// Stand-ins for the system filters around the card (network provider, tee, demultiplexer,
// transport information filter) and a sink, so that a whole graph can be built in a test.
#pragma once

#include "platform/media/base_pins.h"
#include "platform/media/devenum.h"
#include "platform/media/network_provider.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace tunertest {

inline constexpr CLSID kInfTee = {0xF8388A40, 0xD5BB, 0x11D0, {0xBE, 0x5A, 0x00, 0x80, 0xC7, 0x06, 0x56, 0x8E}};
inline constexpr CLSID kDemux = {0xAFB6C280, 0x2C41, 0x11D3, {0x8A, 0x60, 0x00, 0x00, 0xF8, 0x1E, 0x0E, 0x4A}};
inline constexpr CLSID kStandIn = {0x5A4D1E00, 0, 0, {0, 0, 0, 0, 0, 0, 0, 9}};

class StandInFilter;

// A connection that carries no samples (the provider's output, as kernel-streaming pins are).
class PlainOutputPin final : public platform::BasePin {
public:
    PlainOutputPin(platform::BaseFilter* filter, const wchar_t* name) : BasePin(filter, name, PINDIR_OUTPUT) {}
    HRESULT checkMediaType(const platform::MediaType&) override { return S_OK; }
    HRESULT getMediaType(int position, platform::MediaType* type) override
    {
        if (position != 0)
            return VFW_S_NO_MORE_ITEMS;
        *type = platform::MediaType(MEDIATYPE_Stream, KSDATAFORMAT_SUBTYPE_BDA_MPEG2_TRANSPORT);
        return S_OK;
    }
    HRESULT BeginFlush() override { return S_OK; }
    HRESULT EndFlush() override { return S_OK; }
};

class StandInOutputPin final : public platform::BaseOutputPin {
public:
    StandInOutputPin(platform::BaseFilter* filter, const wchar_t* name) : BaseOutputPin(filter, name) {}
    HRESULT checkMediaType(const platform::MediaType&) override { return S_OK; }
    HRESULT getMediaType(int position, platform::MediaType* type) override
    {
        if (position != 0)
            return VFW_S_NO_MORE_ITEMS;
        *type = platform::MediaType(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_TRANSPORT);
        return S_OK;
    }
};

// Takes every sample, passes it to each connected output of its filter and counts its bytes.
class StandInInputPin final : public platform::BaseInputPin {
public:
    StandInInputPin(StandInFilter* filter, const wchar_t* name);
    HRESULT checkMediaType(const platform::MediaType&) override { return S_OK; }
    HRESULT ReceiveCanBlock() override { return S_FALSE; }
    HRESULT Receive(IMediaSample* sample) override;

    std::mutex mutex;
    std::vector<BYTE> bytes;

private:
    StandInFilter* owner_;
};

class StandInFilter : public platform::BaseFilter {
public:
    StandInFilter(std::vector<const wchar_t*> inputs, std::vector<const wchar_t*> outputs, bool plainOutputs = false)
        : BaseFilter(kStandIn)
    {
        for (const wchar_t* name : inputs)
            inputs_.push_back(std::make_unique<StandInInputPin>(this, name));
        for (const wchar_t* name : outputs) {
            if (plainOutputs)
                outputs_.push_back(std::make_unique<PlainOutputPin>(this, name));
            else
                outputs_.push_back(std::make_unique<StandInOutputPin>(this, name));
        }
    }
    int pinCount() override { return static_cast<int>(inputs_.size() + outputs_.size()); }
    platform::BasePin* pin(int index) override
    {
        if (index < 0 || index >= pinCount())
            return nullptr;
        const size_t i = static_cast<size_t>(index);
        return i < inputs_.size() ? static_cast<platform::BasePin*>(inputs_[i].get())
                                  : outputs_[i - inputs_.size()].get();
    }
    StandInInputPin* input(size_t i = 0) { return inputs_[i].get(); }
    void forward(IMediaSample* sample)
    {
        for (auto& out : outputs_)
            if (auto* streaming = dynamic_cast<StandInOutputPin*>(out.get()); streaming && streaming->isConnected())
                streaming->deliver(sample);
    }

private:
    std::vector<std::unique_ptr<StandInInputPin>> inputs_;
    std::vector<std::unique_ptr<platform::BasePin>> outputs_;
};

inline StandInInputPin::StandInInputPin(StandInFilter* filter, const wchar_t* name)
    : BaseInputPin(filter, name), owner_(filter)
{
}

inline HRESULT StandInInputPin::Receive(IMediaSample* sample)
{
    const HRESULT hr = receiveChecks(sample);
    if (hr != S_OK)
        return hr;
    BYTE* data = nullptr;
    if (SUCCEEDED(sample->GetPointer(&data)) && data) {
        std::lock_guard<std::mutex> lock(mutex);
        if (bytes.size() < (1u << 20))
            bytes.insert(bytes.end(), data, data + sample->GetActualDataLength());
    }
    owner_->forward(sample);
    return S_OK;
}

// The network provider: keeps what it is given.
class StandInProvider final : public StandInFilter, public ITuner {
public:
    StandInProvider() : StandInFilter({}, {L"Antenna Out"}, true) {}
    KEST_FORWARD_IUNKNOWN(StandInFilter)
    HRESULT get_TuningSpace(ITuningSpace** space) override { return space_.copyTo(space); }
    HRESULT put_TuningSpace(ITuningSpace* space) override { space_ = space; return S_OK; }
    HRESULT EnumTuningSpaces(IEnumTuningSpaces**) override { return E_NOTIMPL; }
    HRESULT get_TuneRequest(ITuneRequest** request) override { return request_.copyTo(request); }
    HRESULT put_TuneRequest(ITuneRequest* request) override { request_ = request; return S_OK; }
    HRESULT Validate(ITuneRequest*) override { return S_OK; }

protected:
    void* queryExtra(REFIID riid) override { return riid == IID_ITuner ? static_cast<ITuner*>(this) : nullptr; }

private:
    ComPtr<ITuningSpace> space_;
    ComPtr<ITuneRequest> request_;
};

// Puts the stand-ins into the class table and the transport information category while it lives.
class SystemFilters {
public:
    SystemFilters()
    {
        platform::registerClass(CLSID_DVBSNetworkProvider, [](REFIID riid, void** object) {
            return platform::createObject<StandInProvider>(riid, object);
        });
        platform::registerClass(kInfTee, [](REFIID riid, void** object) {
            return platform::createObject<StandInFilter>(riid, object, std::vector<const wchar_t*>{L"Input"},
                                                         std::vector<const wchar_t*>{L"Output1", L"Output2"});
        });
        platform::registerClass(kDemux, [](REFIID riid, void** object) {
            return platform::createObject<StandInFilter>(riid, object, std::vector<const wchar_t*>{L"MPEG-2 Stream"},
                                                         std::vector<const wchar_t*>{L"1"});
        });
        tif_ = platform::media::registerFilterDevice(
            KSCATEGORY_BDA_TRANSPORT_INFORMATION, L"BDA MPEG2 Transport Information Filter", [](REFIID riid, void** o) {
                return platform::createObject<StandInFilter>(riid, o, std::vector<const wchar_t*>{L"Input"},
                                                             std::vector<const wchar_t*>{});
            });
    }
    ~SystemFilters()
    {
        platform::media::unregisterFilterDevice(tif_);
        platform::unregisterClass(kInfTee);
        platform::unregisterClass(kDemux);
        platform::media::registerSystemClasses(); // the real network provider again
    }

private:
    platform::media::DeviceId tif_ = 0;
};

} // namespace tunertest
