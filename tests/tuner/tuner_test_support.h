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
};

class BoxCapture {
public:
    BoxCapture()
    {
        unsetenv("KEST_MESSAGEBOX");
        previous_ = platform::setMessageBoxHandler([this](LPCSTR text, LPCSTR caption, UINT type) {
            boxes.push_back({text ? text : "", caption ? caption : "", type});
            return IDOK;
        });
    }
    ~BoxCapture() { platform::setMessageBoxHandler(previous_); }
    std::vector<std::string> texts() const
    {
        std::vector<std::string> out;
        for (const Box& b : boxes)
            out.push_back(b.text);
        return out;
    }
    std::vector<Box> boxes;

private:
    platform::MessageBoxHandler previous_;
};

} // namespace tunertest
