// The process's own view of windows: a stable handle per title, and the
// windows this process has registered (so that sends to them need no socket).
#pragma once

#include "platform/winmsg/winmsg.h"

#include <string>
#include <thread>

namespace platform::winmsg::detail {

// A window is its title in the folder of one copy ("" : the unnamed copy).
struct Address {
    std::string instance;
    std::string title;
    bool operator<(const Address& other) const
    {
        return instance != other.instance ? instance < other.instance : title < other.title;
    }
};

HWND handleFor(const Address& address);
// False for handles this process never gave out.
bool addressOf(HWND hwnd, Address& address);

void addLocal(const Address& address, Window::Impl* window, std::thread::id owner);
void removeLocal(const Address& address, const Window::Impl* window);
// The own window at this address when the calling thread pumps it, else null.
Window::Impl* localOnThisThread(const Address& address);
bool isLocal(const Address& address);
// Calls the window's handler directly.
LRESULT deliverLocal(Window::Impl* window, UINT msg, WPARAM wParam, LPARAM lParam);

// Connected, non-blocking socket to the window at the address, or -1. A window
// whose backlog is full is waited for up to maxWaitMs (-1: as long as it lives).
int connectTo(const Address& address, int maxWaitMs);
// The uid and pid of a socket's peer; false when unknown.
bool peerCredentials(int fd, uid_t& uid, pid_t& pid);
int64_t nowMs();

} // namespace platform::winmsg::detail
