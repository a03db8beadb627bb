// A filter of named pins that carry nothing, for a card's place in a graph, and the
// transport information filter's entry in its device category.
#pragma once

#include "platform/media/base_filter.h"
#include "platform/media/devenum.h"
#include "platform/media/mpeg2_filters.h"

#include <memory>
#include <vector>

namespace tunertest {

inline constexpr CLSID kStandIn = {0x5A4D1E00, 0, 0, {0, 0, 0, 0, 0, 0, 0, 9}};

class StandInPin final : public platform::BasePin {
public:
    StandInPin(platform::BaseFilter* filter, const wchar_t* name, PIN_DIRECTION direction)
        : BasePin(filter, name, direction)
    {
    }
    HRESULT checkMediaType(const platform::MediaType&) override { return S_OK; }
    HRESULT BeginFlush() override { return S_OK; }
    HRESULT EndFlush() override { return S_OK; }
};

class StandInFilter final : public platform::BaseFilter {
public:
    StandInFilter(std::vector<const wchar_t*> inputs, std::vector<const wchar_t*> outputs) : BaseFilter(kStandIn)
    {
        for (const wchar_t* name : inputs)
            pins_.push_back(std::make_unique<StandInPin>(this, name, PINDIR_INPUT));
        for (const wchar_t* name : outputs)
            pins_.push_back(std::make_unique<StandInPin>(this, name, PINDIR_OUTPUT));
    }
    int pinCount() override { return static_cast<int>(pins_.size()); }
    platform::BasePin* pin(int index) override
    {
        return index >= 0 && index < pinCount() ? pins_[static_cast<size_t>(index)].get() : nullptr;
    }

private:
    std::vector<std::unique_ptr<StandInPin>> pins_;
};

// The transport information filter as the system lists it in its category.
class TransportInformationDevice {
public:
    TransportInformationDevice()
        : id_(platform::media::registerFilterDevice(
              KSCATEGORY_BDA_TRANSPORT_INFORMATION, platform::kTransportInformationFilterName,
              [](REFIID riid, void** object) {
                  return CoCreateInstance(CLSID_BDA_MPEG2_Transport_Information_Filter, nullptr,
                                          CLSCTX_INPROC_SERVER, riid, object);
              }))
    {
    }
    ~TransportInformationDevice() { platform::media::unregisterFilterDevice(id_); }

private:
    platform::media::DeviceId id_;
};

} // namespace tunertest
