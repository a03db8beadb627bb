// MessageBoxA. The application installs a handler that shows a real box; without
// one, and always under KEST_MESSAGEBOX=stderr, the box is written to stderr as
// "CAPTION: TEXT" and answered with its default button.
#pragma once

#include "platform/win32/types.h"

#include <functional>

using HWND = void*;

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONWARNING = 0x30;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr UINT MB_DEFBUTTON2 = 0x100;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

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
// The button a box of this type answers with when nobody is asked.
int defaultMessageBoxAnswer(UINT type);
// Writes "CAPTION: TEXT" (text's trailing line feeds trimmed) to stderr.
void writeMessageBoxToStderr(LPCSTR caption, LPCSTR text);

} // namespace platform
