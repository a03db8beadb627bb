// OutputDebugStringA: debug lines go to a sink that tests can read, and to
// stderr when KEST_DEBUG=1.
#pragma once

#include "platform/win32/types.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

void OutputDebugStringA(LPCSTR text);

namespace platform {

using DebugSink = std::function<void(const char* text)>;

// Installs a sink that receives every text passed to OutputDebugStringA; an
// empty function removes it. Returns the previous sink.
DebugSink setDebugSink(DebugSink sink);

// Collects debug output while it lives (tests).
class DebugCapture {
public:
    DebugCapture();
    ~DebugCapture();
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    std::vector<std::string> texts() const; // each call's text, in order
    std::string all() const;                // everything concatenated
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<std::string> texts_;
    DebugSink previous_;
};

} // namespace platform
