// The process's own view of windows: a stable handle per title, and the
// windows this process has registered (so that sends to them need no socket).
#pragma once

#include "platform/winmsg/winmsg.h"

#include <string>
#include <thread>

namespace platform::winmsg::detail {

HWND handleFor(const std::string& title);
// False for handles this process never gave out.
bool titleOf(HWND hwnd, std::string& title);

void addLocal(const std::string& title, Window::Impl* window, std::thread::id owner);
void removeLocal(const std::string& title, const Window::Impl* window);
// The own window with this title when the calling thread pumps it, else null.
Window::Impl* localOnThisThread(const std::string& title);
bool isLocal(const std::string& title);
// Calls the window's handler directly.
LRESULT deliverLocal(Window::Impl* window, UINT msg, WPARAM wParam, LPARAM lParam);

// Connected, non-blocking socket to the window of the title, or -1. A window
// whose backlog is full is waited for up to maxWaitMs (-1: as long as it lives).
int connectTo(const std::string& title, int maxWaitMs);
// The uid and pid of a socket's peer; false when unknown.
bool peerCredentials(int fd, uid_t& uid, pid_t& pid);
int64_t nowMs();

} // namespace platform::winmsg::detail
