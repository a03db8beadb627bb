// TransponderChange (TransponderChangeInstance for a named copy): finds the
// receiver's main window by its title, among the windows of that copy, and
// sends it the tuning as a fixed sequence of synchronous WM_USER messages.
#include "kestapi/kestapi.h"

#include "platform/instance/instance_name.h"
#include "platform/win32/device.h"
#include "platform/winmsg/winmsg.h"

#include <string>
#include <utility>
#include <vector>

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
constexpr WPARAM kSetStream = 0x1050000;
constexpr WPARAM kSetPlsMode = 0x1060000;
constexpr WPARAM kSetPlsCode = 0x1070000;

struct StreamSelection {
    int32_t streamId;
    int32_t plsMode;
    uint32_t plsCode;
};

// 32-bit values travel as the signed 32-bit lParam the receiver reads back.
LPARAM asLParam(uint32_t value) { return static_cast<LPARAM>(static_cast<int32_t>(value)); }

// The first receiver window of the copy named `name` (empty: the one without a name).
HWND findReceiver(const std::string& name)
{
    for (const char* title : kReceiverTitles)
        if (HWND window = platform::winmsg::findWindow(name, instance::windowTitle(title, name)))
            return window;
    return nullptr;
}

int sendTuning(const char* name, const TransponderInfo* info, const StreamSelection* stream)
{
    const std::string instanceName = name != nullptr ? name : "";
    if (info == nullptr || (!instanceName.empty() && !instance::validName(instanceName)))
        return KESTAPI_NO_RECEIVER;
    HWND window = findReceiver(instanceName);
    if (window == nullptr)
        return KESTAPI_NO_RECEIVER;
    std::vector<std::pair<WPARAM, LPARAM>> sequence{
        {kSetFrequency, asLParam(info->frequencyKhz / 1000)},
        {kSetSymbolRate, asLParam(info->symbolRate / 1000)},
        {kSetPolarisation, info->horizontal == 0 ? 1 : 0},
        {kForwarded, asLParam(info->forwarded)},
    };
    if (stream != nullptr) {
        sequence.emplace_back(kSetStream, asLParam(static_cast<uint32_t>(stream->streamId)));
        sequence.emplace_back(kSetPlsMode, asLParam(static_cast<uint32_t>(stream->plsMode)));
        sequence.emplace_back(kSetPlsCode, asLParam(stream->plsCode));
    }
    sequence.emplace_back(kApplyTuning, 0);
    sequence.emplace_back(kAddPid, asLParam(info->pid1));
    sequence.emplace_back(kAddPid, asLParam(info->pid2));
    // The receiver's answers carry nothing; only whether each message arrived counts.
    // After one that did not, the rest would tune a receiver that is gone or hung.
    for (const auto& [command, value] : sequence) {
        SetLastError(ERROR_SUCCESS);
        SendMessageA(window, WM_USER, command, value);
        if (GetLastError() != ERROR_SUCCESS)
            return KESTAPI_NOT_DELIVERED;
    }
    return KESTAPI_OK;
}

} // namespace

extern "C" int TransponderChange(uint32_t, const TransponderInfo* info) { return sendTuning(nullptr, info, nullptr); }

extern "C" int TransponderChangeStream(uint32_t, const TransponderInfo* info, int32_t streamId, int32_t plsMode,
                                       uint32_t plsCode)
{
    const StreamSelection stream{streamId, plsMode, plsCode};
    return sendTuning(nullptr, info, &stream);
}

extern "C" int TransponderChangeInstance(const char* name, uint32_t, const TransponderInfo* info)
{
    return sendTuning(name, info, nullptr);
}
