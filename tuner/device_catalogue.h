// The card models: model ids, the friendly names of their filters, the names the
// filters get in the graph and the main window title of each.
#pragma once

#include <cstdint>
#include <string>

namespace tuner {

enum ModelIdValue : int32_t {
    kModelAlder = 1,
    kModelBirch = 2,
    kModelCedar = 3,
    kModelLarch = 4,
    kModelMaple = 5,
    kModelSpruce = 6,
};

struct DeviceModel {
    int32_t id;
    const char* card;              // "Cedar"
    const char* tunerName;         // friendly name of the tuner filter
    const char* captureName;       // friendly name of the transport-stream capture filter
    const char* videoCaptureName;  // null: no video capture filter (Alder, Maple)
    const char* tunerGraphName;
    const char* captureGraphName;
    const char* windowTitle;       // null: never detected (Alder)
};

// Model ids 1..6; null for any other id.
const DeviceModel* findModel(int32_t id);
// By card name, case-insensitive ("cedar"); null when unknown.
const DeviceModel* findModelByCard(const std::string& card);

// Detection probes the tuner filters in this order; the first hit wins.
constexpr int32_t kProbeOrder[] = {kModelMaple, kModelSpruce, kModelLarch, kModelCedar, kModelBirch};

// Only Cedar lets the user pick modulation and FEC.
inline bool modulationAndFecSelectable(int32_t id) { return id == kModelCedar; }
// Maple reaches the MAC and infrared sets through the tuner's transport output pin.
inline bool extensionsOnTunerOutput(int32_t id) { return id == kModelMaple; }

// ASCII to a wide string (the catalogue's names are ASCII).
std::wstring widen(const char* text);

} // namespace tuner
