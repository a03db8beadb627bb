// Window messages between the processes of one user: windows registered under
// an exact title, FindWindowA, SendMessageA and SendMessageTimeoutA (WM_COPYDATA
// carries its payload; every other message passes wParam and lParam as values).
//
// A title is held by at most one window at a time, system-wide for this user:
// registration takes a lock file and binds a Unix-domain socket in the per-user
// directory (mode 0700): $XDG_RUNTIME_DIR/kest-windows; without that variable,
// or with one too long for socket names, /run/user/UID/kest-windows when it
// exists, else /tmp/kest-windows-UID unless another user or a link holds it.
// Each named copy of the receiver has a folder of its own beside that one,
// kest-windows@NAME (kest-windows-UID@NAME), so its windows and titles are
// apart from every other copy's; FindWindowA looks among the unnamed copy's.
// Registrations of dead processes are ignored and replaced. Messages are
// handled on the thread that pumps the window (Window::dispatch or pump), one
// at a time: while a handler runs, even one that pumps again, the next message
// waits for the answer to the one before.
#pragma once

#include "platform/win32/messagebox.h" // HWND
#include "platform/win32/types.h"

#include <functional>
#include <memory>
#include <string>

using UINT_PTR = uintptr_t;
using ULONG_PTR = uintptr_t;
using DWORD_PTR = uintptr_t;
using PDWORD_PTR = DWORD_PTR*;
using PVOID = void*;

constexpr UINT WM_COPYDATA = 0x004A;
constexpr UINT WM_USER = 0x0400;

// GetLastError after a message that was not delivered: the window is gone (or
// never answered), or the timeout passed.
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_TIMEOUT = 1460;

constexpr UINT SMTO_NORMAL = 0x0000;
constexpr UINT SMTO_BLOCK = 0x0001;
constexpr UINT SMTO_ABORTIFHUNG = 0x0002;

struct COPYDATASTRUCT {
    ULONG_PTR dwData;
    DWORD cbData;
    PVOID lpData;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
};

// Finds a window of any process of this user by exact title; className is ignored.
HWND FindWindowA(LPCSTR className, LPCSTR windowName);
// Delivers and waits for the receiver's result; 0 when the window is gone.
// When the message was not delivered, or its answer never came, the thread's
// last error (GetLastError) is set; it is left as it was otherwise.
LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// As SendMessageA, giving up after timeoutMs (and at once with SMTO_ABORTIFHUNG
// when the receiving process is stopped). Returns 0 on timeout or failure, with
// the last error set.
LRESULT SendMessageTimeoutA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT flags,
                            UINT timeoutMs, PDWORD_PTR result);

namespace platform::winmsg {

using Handler = std::function<LRESULT(UINT msg, WPARAM wParam, LPARAM lParam)>;

// Largest WM_COPYDATA payload and title that travel between processes.
constexpr DWORD kMaxCopyData = 64 * 1024;
constexpr size_t kMaxTitle = 1024;

// A registered window. Not copyable; unregisters when destroyed.
class Window {
public:
    // instance: the named copy whose folder takes the window ("": the unnamed copy).
    Window(std::string title, Handler handler, std::string instance = {});
    ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // False when another live window holds the title (or the directory is unusable).
    bool registered() const;
    HWND hwnd() const;
    const std::string& title() const;
    const std::string& instance() const;

    // Readable when messages wait; watch it (QSocketNotifier, poll) and call dispatch().
    int fd() const;
    // Accepts new connections and handles at most one ready message, without
    // blocking; does nothing while a handler of this window runs.
    void dispatch();
    // Waits up to timeoutMs (-1: forever) for messages and handles one. Called
    // from a handler of this window, it only waits (never for ever).
    void pump(int timeoutMs);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// FindWindowA among the windows of the named copy ("": the unnamed copy's).
// Safe to call from any thread, for any copy, at the same time.
HWND findWindow(const std::string& instance, const std::string& title);

// The folder of a copy's windows (created when missing); empty when it is
// unusable or the name is not a valid instance name, and then *problem says why.
std::string windowDirectory(const std::string& instance = {}, std::string* problem = nullptr);
// Where the socket of a title lives (tests and diagnostics).
std::string socketPath(const std::string& title, const std::string& instance = {});

} // namespace platform::winmsg
