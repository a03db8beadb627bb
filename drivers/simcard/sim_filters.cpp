// The tuner and video capture filters: property carriers; no samples pass through them.
#include "drivers/simcard/sim_filters.h"

#include "platform/ks/device_control_base.h"
#include "platform/media/base_filter.h"

namespace simcard {

namespace {

// A pin whose connection carries nothing in user mode; it answers the card's properties.
class SimPropertyPin final : public platform::BasePin, public platform::ks::KsPropertySetBase {
public:
    SimPropertyPin(platform::BaseFilter* filter, const SimCard& card, const std::wstring& name,
                   PIN_DIRECTION direction)
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
    const SimCard& card_; // outlived: the filter holding this pin owns a reference to the card
};

class SimTunerFilter final : public platform::BaseFilter, public platform::ks::DeviceControlBase {
public:
    explicit SimTunerFilter(std::shared_ptr<SimCard> card)
        : BaseFilter(CLSID_SimTuner), card_(std::move(card)),
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
    // The receiver commits without StartChanges: commit whatever is pending on the tuner.
    HRESULT CommitChanges() override
    {
        markChanged();
        return DeviceControlBase::CommitChanges();
    }

protected:
    void* queryExtra(REFIID riid) override
    {
        return riid == IID_IBDA_DeviceControl ? static_cast<IBDA_DeviceControl*>(this) : nullptr;
    }
    HRESULT applyChanges() override
    {
        if (const HRESULT gone = card_->availability(); FAILED(gone))
            return gone;
        card_->frontend.commit();
        return S_OK;
    }

private:
    std::shared_ptr<SimCard> card_;
    SimPropertyPin input_;
    SimPropertyPin output_;
};

class SimVideoCaptureFilter final : public platform::BaseFilter, public platform::ks::KsPropertySetBase {
public:
    explicit SimVideoCaptureFilter(std::shared_ptr<SimCard> card)
        : BaseFilter(CLSID_SimVideoCapture), card_(std::move(card))
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
    std::shared_ptr<SimCard> card_;
};

} // namespace

HRESULT createSimTunerFilter(const std::shared_ptr<SimCard>& card, REFIID riid, void** object)
{
    if (!card)
        return E_INVALIDARG;
    return platform::createObject<SimTunerFilter>(riid, object, card);
}

HRESULT createSimVideoCaptureFilter(const std::shared_ptr<SimCard>& card, REFIID riid, void** object)
{
    if (!card)
        return E_INVALIDARG;
    return platform::createObject<SimVideoCaptureFilter>(riid, object, card);
}

} // namespace simcard
