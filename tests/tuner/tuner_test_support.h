// Captures error boxes and debug lines for the tuner tests.
#pragma once

#include "platform/win32/debug.h"
#include "platform/win32/messagebox.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace tunertest {

struct Box {
    std::string text;
    std::string caption;
    UINT type;
    HWND owner;
};

// Records every box; GetActiveWindow answers `activeWindow` meanwhile.
class BoxCapture {
public:
    BoxCapture()
    {
        unsetenv("KEST_MESSAGEBOX");
        previous_ = platform::setMessageBoxHandler([this](HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
            boxes.push_back({text ? text : "", caption ? caption : "", type, owner});
            return IDOK;
        });
        previousProvider_ = platform::setActiveWindowProvider([this] { return activeWindow; });
    }
    ~BoxCapture()
    {
        platform::setMessageBoxHandler(previous_);
        platform::setActiveWindowProvider(previousProvider_);
    }
    std::vector<std::string> texts() const
    {
        std::vector<std::string> out;
        for (const Box& b : boxes)
            out.push_back(b.text);
        return out;
    }
    std::vector<Box> boxes;
    HWND activeWindow = &activeWindowStandIn_;

private:
    int activeWindowStandIn_ = 0;
    platform::MessageBoxHandler previous_;
    platform::ActiveWindowProvider previousProvider_;
};

} // namespace tunertest
