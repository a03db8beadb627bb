// The packets that carry one message and its result over a window's socket.
#pragma once

#include "platform/winmsg/winmsg.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform::winmsg::wire {

constexpr uint32_t kRequestMagic = 0x314D574Bu; // "KWM1"
constexpr uint32_t kReplyMagic = 0x524D574Bu;   // "KWMR"
constexpr size_t kRequestHeader = 40;
constexpr size_t kReplySize = 16;
constexpr size_t kMaxRequest = kRequestHeader + kMaxTitle + kMaxCopyData;

struct Request {
    std::string title;
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;          // dwData for WM_COPYDATA
    const uint8_t* data = nullptr; // WM_COPYDATA payload (points into the packet)
    DWORD dataSize = 0;
};

// Empty when the title or payload is too large.
std::vector<uint8_t> encodeRequest(const std::string& title, UINT msg, WPARAM wParam, LPARAM lParam,
                                   const void* data, DWORD dataSize);
// False for anything that is not exactly one well-formed request.
bool decodeRequest(const uint8_t* packet, size_t size, Request& out);

std::vector<uint8_t> encodeReply(LRESULT result);
bool decodeReply(const uint8_t* packet, size_t size, LRESULT& out);

} // namespace platform::winmsg::wire
