// TransponderChange (TransponderChangeInstance for a named copy): finds the
// receiver's main window by its title and sends it the tuning as a fixed
// sequence of synchronous WM_USER messages.
#include "kestapi/kestapi.h"

#include "app/instance_name.h"
#include "platform/winmsg/winmsg.h"

#include <string>

namespace {

// Titles tried in this order; the first window found gets the messages.
constexpr const char* kReceiverTitles[] = {
    "Kest Ip Data 1.04 @ Kest Spruce DVB-S2", "Kest Ip Data 1.04 @ Kest Maple DVB-S2",
    "Kest Ip Data 1.04 @ Kest Larch DVB-S2",  "Kest Ip Data 1.04 @ Kest Cedar DVB-S2",
    "Kest Ip Data 1.04 @ Kest Birch DVB-S",
};

// Commands in wParam; the value goes in lParam.
constexpr WPARAM kSetFrequency = 0x1010000;
constexpr WPARAM kSetSymbolRate = 0x1020000;
constexpr WPARAM kSetPolarisation = 0x1030000;
constexpr WPARAM kForwarded = 0x1040000;
constexpr WPARAM kApplyTuning = 0x2000000;
constexpr WPARAM kAddPid = 0x1090000;

// 32-bit values travel as the signed 32-bit lParam the receiver reads back.
LPARAM asLParam(uint32_t value) { return static_cast<LPARAM>(static_cast<int32_t>(value)); }

// The first receiver window of the copy named `name` (empty: the one without a name).
HWND findReceiver(const std::string& name)
{
    for (const char* title : kReceiverTitles)
        if (HWND window = FindWindowA(nullptr, instance::windowTitle(title, name).c_str()))
            return window;
    return nullptr;
}

} // namespace

extern "C" int TransponderChangeInstance(const char* name, uint32_t, const TransponderInfo* info)
{
    const std::string instanceName = name != nullptr ? name : "";
    if (info == nullptr || (!instanceName.empty() && !instance::validName(instanceName)))
        return KESTAPI_NO_RECEIVER;
    HWND window = findReceiver(instanceName);
    if (window == nullptr)
        return KESTAPI_NO_RECEIVER;
    SendMessageA(window, WM_USER, kSetFrequency, asLParam(info->frequencyKhz / 1000));
    SendMessageA(window, WM_USER, kSetSymbolRate, asLParam(info->symbolRate / 1000));
    SendMessageA(window, WM_USER, kSetPolarisation, info->horizontal == 0 ? 1 : 0);
    SendMessageA(window, WM_USER, kForwarded, asLParam(info->forwarded));
    SendMessageA(window, WM_USER, kApplyTuning, 0);
    SendMessageA(window, WM_USER, kAddPid, asLParam(info->pid1));
    SendMessageA(window, WM_USER, kAddPid, asLParam(info->pid2));
    return KESTAPI_OK;
}

extern "C" int TransponderChange(uint32_t unused, const TransponderInfo* info)
{
    return TransponderChangeInstance(nullptr, unused, info);
}
