// The notification-area (tray) icon, known to the shell by its window and id.
#pragma once

#include <functional>

#include "platform/base/message.h"
#include "platform/windows/paint.h"
#include "platform/base/wintypes.h"

constexpr DWORD NIM_ADD = 0;
constexpr DWORD NIM_MODIFY = 1;
constexpr DWORD NIM_DELETE = 2;
// The structure size and tip length the program hands the shell: the tip
// holds at most this many bytes before its terminating zero.
constexpr DWORD NOTIFYICONDATAA_SIZE = 508;
constexpr size_t NOTIFYICON_TIP_CHARS = 63;

constexpr UINT NIF_MESSAGE = 0x1;
constexpr UINT NIF_ICON = 0x2;
constexpr UINT NIF_TIP = 0x4;

struct NOTIFYICONDATAA {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    char szTip[128];  // code-page text
};

// Adds, changes or removes the icon, known by (hWnd, uID). A click on it
// posts uCallbackMessage to hWnd with uID as wParam and as lParam
// WM_LBUTTONUP or WM_RBUTTONUP (WM_LBUTTONDBLCLK for the second click of a
// double click, WM_MBUTTONUP for the middle button). Adding an icon that is
// there, or changing or removing one that is not, fails, and so does adding
// one while no tray host is running; the reason is then in TrayLastError().
BOOL Shell_NotifyIconA(DWORD message, NOTIFYICONDATAA* data);
DWORD TrayLastError();

// Tests stand in for the shell: the hook gets every request and returns its
// result and error code. An empty function restores the real tray.
using TrayShellHook = std::function<BOOL(DWORD message, const NOTIFYICONDATAA& data, DWORD& error)>;
void SetTrayShellForTesting(TrayShellHook hook);

// The message id "TaskbarCreated" is registered as (never WM_NULL); posted to
// the registered window when a tray host appears again: a notifier host on
// the session bus, or an X11 tray taking the tray selection.
UINT RegisterTaskbarCreatedMessage(HWND window);
