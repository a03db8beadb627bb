#include "platform/winmsg/registry.h"
#include "platform/winmsg/wire.h"

#include "platform/win32/device.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

namespace platform::winmsg::detail {

namespace {

// A stopped (or dead) process cannot answer: SMTO_ABORTIFHUNG gives up on it.
bool processStopped(pid_t pid)
{
    if (pid <= 0)
        return false;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    FILE* file = std::fopen(path, "r");
    if (file == nullptr)
        return true;
    char line[512];
    const size_t size = std::fread(line, 1, sizeof line - 1, file);
    std::fclose(file);
    line[size] = '\0';
    // "pid (comm) S ..." where comm may itself hold parentheses.
    const char* close = nullptr;
    for (const char* p = line; *p != '\0'; ++p)
        if (*p == ')')
            close = p;
    if (close == nullptr || close[1] != ' ')
        return false;
    const char state = close[2];
    return state == 'T' || state == 't' || state == 'Z' || state == 'X';
}

// Waits for the descriptor until the deadline (-1: none); false on timeout,
// hang-up or a stopped receiver.
bool waitFor(int fd, short events, int64_t deadline, bool abortIfHung, pid_t pid)
{
    for (;;) {
        int slice = 100;
        if (deadline >= 0) {
            const int64_t left = deadline - nowMs();
            if (left <= 0)
                return false;
            slice = static_cast<int>(std::min<int64_t>(left, slice));
        }
        pollfd watched{fd, events, 0};
        const int ready = ::poll(&watched, 1, slice);
        if (ready > 0)
            return (watched.revents & events) != 0;
        if (ready < 0 && errno != EINTR)
            return false;
        if (abortIfHung && processStopped(pid))
            return false;
    }
}

bool sendRemote(const Address& target, UINT msg, WPARAM wParam, LPARAM lParam, int timeoutMs,
                bool abortIfHung, LRESULT& result)
{
    std::vector<uint8_t> request;
    if (msg == WM_COPYDATA) {
        const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (copy == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        request = wire::encodeRequest(target.title, msg, wParam, static_cast<LPARAM>(copy->dwData), copy->lpData,
                                      copy->cbData);
    } else {
        request = wire::encodeRequest(target.title, msg, wParam, lParam, nullptr, 0);
    }
    if (request.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }

    const int64_t start = nowMs();
    const int64_t deadline = timeoutMs < 0 ? -1 : start + timeoutMs;
    const int fd = connectTo(target, timeoutMs);
    if (fd < 0) {
        SetLastError(timeoutMs >= 0 && nowMs() >= deadline ? ERROR_TIMEOUT : ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    uid_t uid;
    pid_t pid = 0;
    peerCredentials(fd, uid, pid);
    bool ok = !(abortIfHung && processStopped(pid));
    if (ok && ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
        ok = errno == EAGAIN && waitFor(fd, POLLOUT, deadline, abortIfHung, pid)
            && ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size());
    }
    if (ok)
        ok = waitFor(fd, POLLIN, deadline, abortIfHung, pid);
    if (ok) {
        uint8_t reply[wire::kReplySize + 1];
        const ssize_t size = ::recv(fd, reply, sizeof reply, MSG_DONTWAIT);
        ok = size > 0 && wire::decodeReply(reply, static_cast<size_t>(size), result);
    }
    ::close(fd);
    if (!ok)
        SetLastError(deadline >= 0 && nowMs() >= deadline ? ERROR_TIMEOUT : ERROR_INVALID_WINDOW_HANDLE);
    return ok;
}

bool send(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, int timeoutMs, bool abortIfHung, LRESULT& result)
{
    Address target;
    if (!addressOf(hwnd, target)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    if (Window::Impl* own = localOnThisThread(target)) {
        result = deliverLocal(own, msg, wParam, lParam);
        return true;
    }
    return sendRemote(target, msg, wParam, lParam, timeoutMs, abortIfHung, result);
}

} // namespace

} // namespace platform::winmsg::detail

using namespace platform::winmsg;

HWND platform::winmsg::findWindow(const std::string& instance, const std::string& title)
{
    if (title.size() > kMaxTitle)
        return nullptr;
    const detail::Address address{instance, title};
    if (!detail::isLocal(address)) {
        const int fd = detail::connectTo(address, 200);
        if (fd < 0)
            return nullptr;
        ::close(fd);
    }
    return detail::handleFor(address);
}

HWND FindWindowA(LPCSTR, LPCSTR windowName)
{
    return windowName != nullptr ? findWindow({}, windowName) : nullptr;
}

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    return detail::send(hwnd, msg, wParam, lParam, -1, false, result) ? result : 0;
}

LRESULT SendMessageTimeoutA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT flags, UINT timeoutMs,
                            PDWORD_PTR result)
{
    LRESULT answer = 0;
    const int timeout = static_cast<int>(std::min<UINT>(timeoutMs, 0x7FFFFFFF));
    if (!detail::send(hwnd, msg, wParam, lParam, timeout, (flags & SMTO_ABORTIFHUNG) != 0, answer))
        return 0;
    if (result != nullptr)
        *result = static_cast<DWORD_PTR>(answer);
    return 1;
}
