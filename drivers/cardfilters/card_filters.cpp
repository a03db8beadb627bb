// The tuner and video capture filters are property carriers: no samples pass
// through them. The capture filter's output is the card's own stream.
#include "drivers/cardfilters/card_filters.h"

#include "platform/ks/device_control_base.h"
#include "platform/media/base_filter.h"

namespace cardfilters {

namespace {

constexpr CLSID CLSID_CardTuner = {0x4B455354, 0x5349, 0x4D00, {0x8A, 0x2D, 0x54, 0x55, 0x4E, 0x45, 0x52, 0x01}};
constexpr CLSID CLSID_CardCapture = {0x4B455354, 0x5349, 0x4D00, {0x8A, 0x2D, 0x43, 0x41, 0x50, 0x54, 0x53, 0x02}};
constexpr CLSID CLSID_CardVideoCapture = {0x4B455354, 0x5349, 0x4D00, {0x8A, 0x2D, 0x56, 0x49, 0x44, 0x45, 0x4F, 0x03}};

constexpr LONG kBufferCount = 4;

// A pin whose connection carries nothing in user mode; it answers the card's properties.
class PropertyPin final : public platform::BasePin, public platform::ks::KsPropertySetBase {
public:
    PropertyPin(platform::BaseFilter* filter, const Card& card, const std::wstring& name, PIN_DIRECTION direction)
        : BasePin(filter, name.c_str(), direction), card_(card)
    {
    }
    HRESULT QueryInterface(REFIID riid, void** object) override { return BasePin::QueryInterface(riid, object); }
    ULONG AddRef() override { return BasePin::AddRef(); }
    ULONG Release() override { return BasePin::Release(); }

    HRESULT checkMediaType(const platform::MediaType&) override { return S_OK; }
    HRESULT getMediaType(int position, platform::MediaType* type) override
    {
        if (position != 0 || direction() != PINDIR_OUTPUT)
            return VFW_S_NO_MORE_ITEMS;
        *type = platform::MediaType(MEDIATYPE_Stream, KSDATAFORMAT_SUBTYPE_BDA_MPEG2_TRANSPORT);
        return S_OK;
    }
    HRESULT BeginFlush() override { return S_OK; }
    HRESULT EndFlush() override { return S_OK; }
    using KsPropertySetBase::properties;

protected:
    void* queryExtra(REFIID riid) override
    {
        return riid == IID_IKsPropertySet ? static_cast<IKsPropertySet*>(this) : nullptr;
    }
    HRESULT availability() const override { return card_.availability(); }

private:
    const Card& card_; // outlived: the filter holding this pin owns a reference to the card
};

class TunerFilter final : public platform::BaseFilter, public platform::ks::DeviceControlBase {
public:
    explicit TunerFilter(std::shared_ptr<Card> card)
        : BaseFilter(CLSID_CardTuner), card_(std::move(card)),
          input_(this, *card_, card_->inputPinName, PINDIR_INPUT),
          output_(this, *card_, card_->outputPinName, PINDIR_OUTPUT)
    {
        card_->addTunerInputProperties(input_.properties());
        card_->addTunerOutputProperties(output_.properties());
    }
    KEST_FORWARD_IUNKNOWN(BaseFilter)
    int pinCount() override { return 2; }
    platform::BasePin* pin(int index) override
    {
        return index == 0 ? static_cast<platform::BasePin*>(&input_) : index == 1 ? &output_ : nullptr;
    }

protected:
    void* queryExtra(REFIID riid) override
    {
        return riid == IID_IBDA_DeviceControl ? static_cast<IBDA_DeviceControl*>(this) : nullptr;
    }
    // A tuning the card cannot apply is still committed: the lock tells.
    HRESULT applyChanges() override
    {
        if (const HRESULT gone = card_->availability(); FAILED(gone))
            return gone;
        card_->commit(card_->takePending());
        return S_OK;
    }

private:
    std::shared_ptr<Card> card_;
    PropertyPin input_;
    PropertyPin output_;
};

class VideoCaptureFilter final : public platform::BaseFilter, public platform::ks::KsPropertySetBase {
public:
    explicit VideoCaptureFilter(std::shared_ptr<Card> card) : BaseFilter(CLSID_CardVideoCapture), card_(std::move(card))
    {
        card_->addExtensionProperties(properties());
    }
    KEST_FORWARD_IUNKNOWN(BaseFilter)
    int pinCount() override { return 0; }
    platform::BasePin* pin(int) override { return nullptr; }

protected:
    void* queryExtra(REFIID riid) override
    {
        return riid == IID_IKsPropertySet ? static_cast<IKsPropertySet*>(this) : nullptr;
    }
    HRESULT availability() const override { return card_->availability(); }

private:
    std::shared_ptr<Card> card_;
};

// The tuner's transport stream comes in here; in user mode nothing passes.
class CaptureInputPin final : public platform::BasePin {
public:
    explicit CaptureInputPin(platform::BaseFilter* filter) : BasePin(filter, L"MPEG2 Transport", PINDIR_INPUT) {}
    HRESULT checkMediaType(const platform::MediaType&) override { return S_OK; }
    HRESULT BeginFlush() override { return S_OK; }
    HRESULT EndFlush() override { return S_OK; }
};

class CaptureFilter final : public platform::SourceFilter {
public:
    explicit CaptureFilter(const std::shared_ptr<Card>& card) : SourceFilter(CLSID_CardCapture), input_(this)
    {
        output_ = card->createCaptureStream(this);
    }
    // The tuner's input comes first, then the streaming output.
    int pinCount() override { return output_ ? 2 : 1; }
    platform::BasePin* pin(int index) override
    {
        return index == 0 ? static_cast<platform::BasePin*>(&input_) : index == 1 ? output_.get() : nullptr;
    }

private:
    CaptureInputPin input_;
    std::unique_ptr<CaptureStream> output_;
};

template <class Filter>
HRESULT create(const std::shared_ptr<Card>& card, REFIID riid, void** object)
{
    if (!card)
        return E_INVALIDARG;
    return platform::createObject<Filter>(riid, object, card);
}

} // namespace

CaptureStream::CaptureStream(platform::BaseFilter* filter, LONG largestSample)
    : SourceStream(filter, L"MPEG2 Transport Out"), largestSample_(largestSample)
{
}

HRESULT CaptureStream::checkMediaType(const platform::MediaType& type)
{
    return type.majortype == MEDIATYPE_Stream || type.majortype == GUID_NULL ? S_OK : S_FALSE;
}

HRESULT CaptureStream::getMediaType(int position, platform::MediaType* type)
{
    if (position != 0)
        return VFW_S_NO_MORE_ITEMS;
    *type = platform::MediaType(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_TRANSPORT);
    return S_OK;
}

HRESULT CaptureStream::decideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request)
{
    if (request->cBuffers < kBufferCount)
        request->cBuffers = kBufferCount;
    if (request->cbBuffer < largestSample_)
        request->cbBuffer = largestSample_;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = allocator->SetProperties(request, &actual);
    return FAILED(hr) ? hr : actual.cbBuffer < 188 ? E_FAIL : S_OK;
}

HRESULT createTunerFilter(const std::shared_ptr<Card>& card, REFIID riid, void** object)
{
    return create<TunerFilter>(card, riid, object);
}

HRESULT createCaptureFilter(const std::shared_ptr<Card>& card, REFIID riid, void** object)
{
    return create<CaptureFilter>(card, riid, object);
}

HRESULT createVideoCaptureFilter(const std::shared_ptr<Card>& card, REFIID riid, void** object)
{
    return create<VideoCaptureFilter>(card, riid, object);
}

} // namespace cardfilters
