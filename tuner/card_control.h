// The main window's card operations: detection at start-up, starting the graph with
// the packet handler installed, stopping delivery at shutdown, the DiSEqC reset.
// A window may own one CardControl, and through it the CBDAManager, or keep its own
// manager and use the free functions.
#pragma once

#include "tuner/bdamanager.h"

#include <memory>

namespace tuner {

// For a window that keeps its own manager and model id; see the members below.
bool startGraph(CBDAManager* manager, int32_t modelId);
bool stopGraph(CBDAManager* manager);
void resetDiSEqC(CBDAManager* manager, int32_t* lastSwitchPort);

class CardControl {
public:
    // Creates the manager and probes the models in their fixed order; false when none is present.
    bool detectDevice();
    // Builds and runs the graph for the detected model; false when the build fails.
    bool startGraph() { return tuner::startGraph(manager_.get(), modelId_); }
    // Delivery off, LNB supply off, packet handler removed; the graph keeps running.
    bool stopGraph() { return tuner::stopGraph(manager_.get()); }
    // Sends E0 00 00, waits 50 ms, and forgets the last DiSEqC 1.0 port.
    void resetDiSEqC() { tuner::resetDiSEqC(manager_.get(), &lastSwitchPort); }
    // Stops and tears the graph down with the manager (the window's teardown).
    void destroyManager() { manager_.reset(); }

    CBDAManager* bdaManager() const { return manager_.get(); }
    int32_t modelId() const { return modelId_; }
    const char* windowTitle() const { return windowTitle_; } // null before a card is found
    // Only Cedar lets the user choose; the window disables both selectors otherwise.
    bool modulationAndFecEnabled() const;

    int32_t lastSwitchPort = 0; // last DiSEqC 1.0 port sent

private:
    std::unique_ptr<CBDAManager> manager_;
    int32_t modelId_ = 0;
    const char* windowTitle_ = nullptr;
};

} // namespace tuner
