// The simulated card's filters, as a card driver exposes them:
//  - the tuner filter: input pin and transport output pin, each with the card's
//    properties (IKsPropertySet), and IBDA_DeviceControl committing the tuning;
//  - the transport-stream capture filter: its output delivers the card's stream on a
//    streaming thread of its own while the graph runs and the tuner is locked;
//  - the video capture filter, which only carries the MAC and infrared sets.
#pragma once

#include "drivers/simcard/sim_card.h"
#include "platform/media/com.h"

#include <memory>

namespace simcard {

inline constexpr CLSID CLSID_SimTuner = {0x4B455354, 0x5349, 0x4D00, {0x8A, 0x2D, 0x54, 0x55, 0x4E, 0x45, 0x52, 0x01}};
inline constexpr CLSID CLSID_SimCapture = {0x4B455354, 0x5349, 0x4D00, {0x8A, 0x2D, 0x43, 0x41, 0x50, 0x54, 0x53, 0x02}};
inline constexpr CLSID CLSID_SimVideoCapture = {0x4B455354, 0x5349, 0x4D00, {0x8A, 0x2D, 0x56, 0x49, 0x44, 0x45, 0x4F, 0x03}};

// Each hands out `riid` of a new filter object of `card`.
HRESULT createSimTunerFilter(const std::shared_ptr<SimCard>& card, REFIID riid, void** object);
HRESULT createSimCaptureFilter(const std::shared_ptr<SimCard>& card, REFIID riid, void** object);
HRESULT createSimVideoCaptureFilter(const std::shared_ptr<SimCard>& card, REFIID riid, void** object);

} // namespace simcard
