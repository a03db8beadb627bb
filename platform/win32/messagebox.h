// MessageBoxA, with the OK button only (the system asks no questions through it).
// The application installs a handler that shows a real box (or, under
// KEST_MESSAGEBOX=stderr, writes it as below); without one the box is written
// to stderr as the line "CAPTION: TEXT" and answered IDOK.
#pragma once

#include "platform/win32/types.h"

#include <functional>

using HWND = void*;

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONWARNING = 0x30;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr int IDOK = 1;

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
// The active top-level window of the calling thread, as the installed provider
// reports it (the Qt layer: the active window, on the GUI thread only); null
// without one. It is meaningful only as the owner of a MessageBoxA.
HWND GetActiveWindow();

namespace platform {

// The handler gets the owner as MessageBoxA got it.
using MessageBoxHandler = std::function<int(HWND owner, LPCSTR text, LPCSTR caption, UINT type)>;
MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler);
using ActiveWindowProvider = std::function<HWND()>;
ActiveWindowProvider setActiveWindowProvider(ActiveWindowProvider provider);

// True when KEST_MESSAGEBOX=stderr asks for headless boxes.
bool messageBoxesToStderr();
// Writes "CAPTION: TEXT" to stderr as one line: line breaks inside become a
// space, trailing ones are dropped. The bytes go out as given: callers pass UTF-8.
void writeMessageBoxToStderr(LPCSTR caption, LPCSTR text);

} // namespace platform
