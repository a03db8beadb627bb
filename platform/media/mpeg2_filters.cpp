#include "platform/media/mpeg2_filters.h"

#include "platform/media/base_pins.h"

namespace platform {

namespace {

// An input pin that takes every type and discards what it receives.
class DiscardingInput final : public BaseInputPin {
public:
    DiscardingInput(BaseFilter* filter, const wchar_t* name, BaseOutputPin* next, bool renders)
        : BaseInputPin(filter, name), next_(next)
    {
        setRenderer(renders);
    }
    HRESULT checkMediaType(const MediaType&) override { return S_OK; }
    HRESULT Receive(IMediaSample* sample) override { return receiveChecks(sample); }
    HRESULT ReceiveCanBlock() override { return S_FALSE; }
    HRESULT EndOfStream() override
    {
        if (next_ == nullptr)
            return BaseInputPin::EndOfStream();
        const HRESULT hr = checkStreaming();
        if (hr != S_OK)
            return hr;
        if (next_->isConnected())
            next_->deliverEndOfStream();
        return S_OK;
    }
    HRESULT BeginFlush() override
    {
        BaseInputPin::BeginFlush();
        if (next_ != nullptr && next_->isConnected())
            next_->deliverBeginFlush();
        return S_OK;
    }
    HRESULT EndFlush() override
    {
        if (next_ != nullptr && next_->isConnected())
            next_->deliverEndFlush();
        return BaseInputPin::EndFlush();
    }

private:
    BaseOutputPin* next_;
};

class SectionsOutput final : public BaseOutputPin {
public:
    explicit SectionsOutput(BaseFilter* filter) : BaseOutputPin(filter, L"1") {}
    HRESULT checkMediaType(const MediaType& type) override
    {
        return type.majortype == MEDIATYPE_MPEG2_SECTIONS ? S_OK : S_FALSE;
    }
    HRESULT getMediaType(int position, MediaType* type) override
    {
        if (position != 0)
            return VFW_S_NO_MORE_ITEMS;
        *type = MediaType(MEDIATYPE_MPEG2_SECTIONS, MEDIASUBTYPE_MPEG2DATA);
        return S_OK;
    }
    HRESULT decideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override
    {
        request->cBuffers = 1;
        request->cbBuffer = 4096;
        ALLOCATOR_PROPERTIES actual{};
        return allocator->SetProperties(request, &actual);
    }
};

class Mpeg2Demultiplexer final : public BaseFilter {
public:
    Mpeg2Demultiplexer() : BaseFilter(CLSID_MPEG2Demultiplexer), output_(this), input_(this, L"MPEG-2 Stream", &output_, false) {}
    int pinCount() override { return 2; }
    BasePin* pin(int index) override
    {
        return index == 0 ? static_cast<BasePin*>(&input_) : index == 1 ? static_cast<BasePin*>(&output_) : nullptr;
    }

private:
    SectionsOutput output_;
    DiscardingInput input_;
};

class TransportInformationFilter final : public BaseFilter {
public:
    TransportInformationFilter()
        : BaseFilter(CLSID_BDA_MPEG2_Transport_Information_Filter), input_(this, L"Input", nullptr, true) {}
    int pinCount() override { return 1; }
    BasePin* pin(int index) override { return index == 0 ? &input_ : nullptr; }

private:
    DiscardingInput input_;
};

} // namespace

HRESULT createMpeg2Demultiplexer(REFIID riid, void** object) { return createObject<Mpeg2Demultiplexer>(riid, object); }

HRESULT createTransportInformationFilter(REFIID riid, void** object)
{
    return createObject<TransportInformationFilter>(riid, object);
}

} // namespace platform
