#include "platform/media/inf_tee.h"

#include "platform/media/base_pins.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

namespace {

class InfTee;

class TeeInput final : public BaseInputPin {
public:
    explicit TeeInput(InfTee* tee);
    HRESULT checkMediaType(const MediaType&) override { return S_OK; }
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    IMemAllocator* allocator() const { return allocator_.get(); }

private:
    InfTee* tee_;
};

class TeeOutput final : public BaseOutputPin {
public:
    TeeOutput(InfTee* tee, const std::wstring& name);
    HRESULT checkMediaType(const MediaType& type) override;
    HRESULT getMediaType(int position, MediaType* type) override;
    HRESULT decideAllocator(IMemInputPin* pin, ComPtr<IMemAllocator>* allocator) override;
    HRESULT completeConnect(IPin* receivePin) override;

private:
    InfTee* tee_;
};

class InfTee final : public BaseFilter {
public:
    InfTee() : BaseFilter(CLSID_InfTee), input_(this) { addOutput(); }

    int pinCount() override { return 1 + static_cast<int>(outputs_.size()); }
    BasePin* pin(int index) override
    {
        if (index == 0)
            return &input_;
        return index > 0 && index <= static_cast<int>(outputs_.size()) ? outputs_[static_cast<size_t>(index - 1)].get()
                                                                       : nullptr;
    }
    HRESULT Stop() override
    {
        CritSecLock lock(*filterLock());
        const HRESULT hr = BaseFilter::Stop();
        std::lock_guard<std::mutex> wait(receiveLock_); // a delivery in progress ends first
        return hr;
    }

    // Under the filter lock, when an output has just been connected.
    void ensureFreeOutput()
    {
        for (const auto& out : outputs_)
            if (!out->isConnected())
                return;
        addOutput();
    }
    TeeInput& input() { return input_; }

    // Calls `f` for each connected output; the caller holds the receive lock (streaming side)
    // or the filter lock (GUI side).
    template <class F>
    HRESULT forEachConnected(F f)
    {
        for (const auto& out : outputs_)
            if (out->isConnected())
                f(*out);
        return S_OK;
    }
    std::mutex& receiveLock() { return receiveLock_; }

private:
    void addOutput()
    {
        // The list changes only under both locks: readers hold one of them.
        std::lock_guard<std::mutex> lock(receiveLock_);
        outputs_.push_back(std::make_unique<TeeOutput>(this, L"Output" + std::to_wstring(outputs_.size() + 1)));
    }

    TeeInput input_;
    std::vector<std::unique_ptr<TeeOutput>> outputs_;
    std::mutex receiveLock_;
};

TeeInput::TeeInput(InfTee* tee) : BaseInputPin(tee, L"Input"), tee_(tee) {}

HRESULT TeeInput::Receive(IMediaSample* sample)
{
    std::lock_guard<std::mutex> lock(tee_->receiveLock());
    HRESULT hr = receiveChecks(sample);
    if (hr != S_OK)
        return hr;
    bool tried = false, taken = false;
    HRESULT failure = S_OK;
    tee_->forEachConnected([&](TeeOutput& out) {
        tried = true;
        const HRESULT r = out.deliver(sample);
        if (r == S_OK)
            taken = true;
        else if (failure == S_OK)
            failure = r;
    });
    return !tried || taken ? S_OK : failure;
}

HRESULT TeeInput::EndOfStream()
{
    std::lock_guard<std::mutex> lock(tee_->receiveLock());
    const HRESULT hr = checkStreaming();
    if (hr != S_OK)
        return hr;
    return tee_->forEachConnected([](TeeOutput& out) { out.deliverEndOfStream(); });
}

HRESULT TeeInput::BeginFlush()
{
    CritSecLock lock(*filter_->filterLock());
    BaseInputPin::BeginFlush();
    return tee_->forEachConnected([](TeeOutput& out) { out.deliverBeginFlush(); });
}

HRESULT TeeInput::EndFlush()
{
    CritSecLock lock(*filter_->filterLock());
    tee_->forEachConnected([](TeeOutput& out) { out.deliverEndFlush(); });
    return BaseInputPin::EndFlush();
}

TeeOutput::TeeOutput(InfTee* tee, const std::wstring& name) : BaseOutputPin(tee, name.c_str()), tee_(tee) {}

HRESULT TeeOutput::checkMediaType(const MediaType& type)
{
    if (!tee_->input().isConnected())
        return VFW_E_NOT_CONNECTED;
    return type == tee_->input().mediaType() ? S_OK : S_FALSE;
}

HRESULT TeeOutput::getMediaType(int position, MediaType* type)
{
    if (position != 0 || !tee_->input().isConnected())
        return VFW_S_NO_MORE_ITEMS;
    *type = tee_->input().mediaType();
    return S_OK;
}

HRESULT TeeOutput::decideAllocator(IMemInputPin* pin, ComPtr<IMemAllocator>* allocator)
{
    if (IMemAllocator* upstream = tee_->input().allocator()) {
        *allocator = upstream; // the samples are passed on as they are: read-only downstream
        const HRESULT hr = pin->NotifyAllocator(upstream, TRUE);
        if (SUCCEEDED(hr))
            return hr;
        allocator->reset();
    }
    return BaseOutputPin::decideAllocator(pin, allocator);
}

HRESULT TeeOutput::completeConnect(IPin* receivePin)
{
    const HRESULT hr = BaseOutputPin::completeConnect(receivePin);
    if (SUCCEEDED(hr))
        tee_->ensureFreeOutput();
    return hr;
}

} // namespace

HRESULT createInfTee(REFIID riid, void** object) { return createObject<InfTee>(riid, object); }

} // namespace platform
