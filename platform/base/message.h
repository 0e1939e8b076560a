// Window handles and message posting: what a reader thread or the socket layer
// needs to hand an event to the UI thread without knowing the window framework.
#pragma once

#include "platform/base/wintypes.h"

// Anything that can receive window messages. PostMessage must be safe to call
// from any thread; SendMessage runs the message at once on the calling (UI)
// thread.
class MessageTarget {
public:
    virtual ~MessageTarget() = default;
    virtual bool PostMessage(UINT msg, WPARAM wParam, LPARAM lParam) = 0;
    virtual LRESULT SendMessage(UINT msg, WPARAM wParam, LPARAM lParam) = 0;
};

using HWND = MessageTarget*;

// Queues the message for the window; false when there is no window.
inline BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return hwnd != nullptr && hwnd->PostMessage(msg, wParam, lParam) ? TRUE : FALSE;
}

inline LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return hwnd != nullptr ? hwnd->SendMessage(msg, wParam, lParam) : 0;
}
