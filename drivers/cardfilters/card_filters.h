// A card as a card driver presents it: the catalogue model's filters under their
// friendly names, answering the driver contract's properties from a Card.
//  - the tuner filter: input pin and transport output pin, each with the card's
//    properties (IKsPropertySet), and IBDA_DeviceControl committing the tuning;
//  - the transport-stream capture filter: the tuner's input, then the output the
//    card's stream comes from (a CaptureStream the card makes);
//  - the video capture filter, which only carries the MAC and infrared sets.
#pragma once

#include "platform/ks/property_table.h"
#include "platform/media/com.h"
#include "platform/media/devenum.h"
#include "platform/media/source_filter.h"
#include "tuner/satellite_params.h"

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace cardfilters {

struct CardModel {
    int32_t id;                    // catalogue model id, 1..6
    std::wstring tunerName;        // friendly names as registered
    std::wstring captureName;
    std::wstring videoCaptureName; // empty: none (Alder, Maple)
    bool extensionsOnTunerOutput;  // Maple: MAC and infrared on the tuner's transport output pin
};

// The model of a catalogue id; false for an id outside 1..6.
bool cardModel(int32_t id, CardModel* model);

// The capture output pin: transport stream, samples of up to `largestSample` bytes.
class CaptureStream : public platform::SourceStream {
public:
    CaptureStream(platform::BaseFilter* filter, LONG largestSample);
    HRESULT checkMediaType(const platform::MediaType& type) override;
    HRESULT getMediaType(int position, platform::MediaType* type) override;
    HRESULT decideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

private:
    LONG largestSample_;
};

// One card, shared by every filter object the device enumerator makes for it
// (detection and each graph build bind anew). Handlers are called from the
// window thread and the status poller; they must not throw.
class Card : public std::enable_shared_from_this<Card> {
public:
    virtual ~Card() = default;

    // The published tuning properties are collected until the commit, as on the
    // hardware: each property's handler writes its own field (card_properties.cpp).
    template <class T>
    void setPending(T SatelliteParams::*field, T value);
    // The collected tuning for a commit; the stream selection is then forgotten.
    SatelliteParams takePending();
    // Applies a tuning (the collected one, when the tuner filter commits).
    virtual bool commit(const SatelliteParams& tuning) = 0;
    // A command block from the command property set: false when it is not one
    // or the card cannot carry it out.
    virtual bool command(const uint8_t* block, size_t size) = 0;
    // Whether the card can deliver DVB-S2 baseband frames instead of a transport stream.
    virtual bool deliversBasebandFrames() const { return false; }
    virtual bool locked() = 0;
    virtual int32_t strength() = 0; // 0..100
    virtual int32_t quality() = 0;  // 0..100
    virtual std::array<uint8_t, 6> macAddress() = 0;
    virtual std::unique_ptr<CaptureStream> createCaptureStream(platform::BaseFilter* filter) = 0;

    CardModel model{};
    // Pin names of the tuner filter; a card on a Cyrillic system may name them otherwise.
    std::wstring inputPinName = L"Input0";
    std::wstring outputPinName = L"MPEG2 Transport";
    std::atomic<bool> macAccess{false};
    // False once the card is pulled out: every property request fails, the stream ends.
    std::atomic<bool> present{true};

    // What a request to the card gives before its handler runs.
    HRESULT availability() const { return present.load() ? S_OK : E_DEVICE_NOT_CONNECTED; }

    // The driver contract's properties, by where they are reached.
    void addTunerInputProperties(platform::ks::PropertyTable& table);
    void addTunerOutputProperties(platform::ks::PropertyTable& table);
    void addExtensionProperties(platform::ks::PropertyTable& table); // MAC and infrared sets

private:
    mutable std::mutex pendingMutex_;
    SatelliteParams pending_;
};

// Each hands out `riid` of a new filter object of `card`.
HRESULT createTunerFilter(const std::shared_ptr<Card>& card, REFIID riid, void** object);
HRESULT createCaptureFilter(const std::shared_ptr<Card>& card, REFIID riid, void** object);
HRESULT createVideoCaptureFilter(const std::shared_ptr<Card>& card, REFIID riid, void** object);

// The devices one driver has registered, so that it can take them out again.
class CardRegistry {
public:
    // The tuner (network tuner category), transport-stream capture (receiver
    // component category) and, where the model has one, video capture filter
    // (capture category) of `card`, whose model is set.
    void add(const std::shared_ptr<Card>& card);
    void removeAll();

private:
    std::mutex mutex_;
    std::vector<platform::media::DeviceId> ids_;
};

} // namespace cardfilters
