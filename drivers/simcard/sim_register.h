// Puts simulated cards into the device enumerator under their models' friendly names.
#pragma once

#include "drivers/simcard/sim_card.h"

#include <memory>
#include <string>
#include <vector>

namespace simcard {

// The tuner (network tuner category), transport-stream capture (receiver component
// category) and, where the model has one, video capture filter (capture category).
// Returns the card, or null for a model id outside 1..6.
std::shared_ptr<SimCard> registerSimCard(int32_t modelId, const SimConfig& config,
                                         const std::wstring& inputPinName = L"Input0",
                                         const std::wstring& outputPinName = L"MPEG2 Transport");
// Removes every card registered so far.
void unregisterSimCards();

// Reads KEST_CARD ("sim[:MODEL]", "none", several separated by commas; "sim" is cedar)
// and KEST_SIM_*, and registers the simulated cards it names. Entries for other card
// drivers are left to them. False with one line per fault in *error for an unknown
// entry or model, or a malformed KEST_SIM_* value; the well-formed entries are installed.
bool installFromEnvironment(std::string* error = nullptr);

} // namespace simcard
