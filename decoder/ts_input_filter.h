// TSInputFilter: the receiver's own sink in the card's filter graph. Its one
// input pin "Input" takes media samples of raw transport stream in any sizes,
// aligns them into 188-byte packets and hands each to the decoder's packet
// handler, all inside the receive call.
//
// Delivery is off after construction; setDelivery(true) (at the end of a
// tuning) lets samples through, every switch requests a new sync search that
// the next sample delivered triggers (that sample is dropped).
#pragma once

#include "decoder/packet_aligner.h"
#include "platform/media/base_pins.h"

#include <atomic>
#include <memory>

// {29FA55FE-EBDB-4F9C-84FF-B01B25978A83}
inline constexpr CLSID CLSID_TSInputFilter = {0x29FA55FE, 0xEBDB, 0x4F9C,
                                              {0x84, 0xFF, 0xB0, 0x1B, 0x25, 0x97, 0x8A, 0x83}};

class TSInputFilter;

class TSInputPin : public platform::BaseInputPin {
public:
    explicit TSInputPin(TSInputFilter* filter);

    HRESULT Receive(IMediaSample* sample) override;
    HRESULT ReceiveCanBlock() override { return S_FALSE; }
    HRESULT EndOfStream() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    HRESULT QueryInternalConnections(IPin** pins, ULONG* count) override;
    HRESULT checkMediaType(const platform::MediaType&) override { return S_OK; }

    // The aligner with its carry and search state (receive lock).
    void alignPackets(const uint8_t* data, long length, PacketCallback callback);
    const PacketAligner& aligner() const { return aligner_; }

private:
    TSInputFilter* owner_;
    PacketAligner aligner_;
};

class TSInputFilter : public platform::BaseFilter {
public:
    // `outer` must be null (no aggregation); *result is S_OK or E_OUTOFMEMORY.
    TSInputFilter(IUnknown* outer, HRESULT* result);
    ~TSInputFilter() override;

    HRESULT Stop() override;  // delivery off, then the standard stop
    HRESULT Pause() override; // delivery off, then the standard pause
    HRESULT Run(REFERENCE_TIME start) override;

    int pinCount() override { return pin_ ? 1 : 0; }
    platform::BasePin* pin(int index) override { return index == 0 ? pin_.get() : nullptr; }
    TSInputPin* inputPin() const { return pin_.get(); }

    // Under the filter lock: deliveryEnabled := on, resyncPending := 1.
    void setDelivery(bool on);
    bool deliveryEnabled() const { return deliveryEnabled_.load(std::memory_order_relaxed) != 0; }
    bool resyncPending() const { return resyncPending_.load(std::memory_order_relaxed) != 0; }

    CRITICAL_SECTION& receiveLock() { return decoderReceiveLock_; }
    // Registers the class for CoCreateInstance (idempotent).
    static void registerClass();

private:
    friend class TSInputPin;

    CRITICAL_SECTION filterLock_;
    CRITICAL_SECTION& decoderReceiveLock_;
    // Written under the filter lock, read by the streaming thread under the receive lock.
    std::atomic<int32_t> deliveryEnabled_{0};
    std::atomic<int32_t> resyncPending_{0};
    std::unique_ptr<TSInputPin> pin_;
};
