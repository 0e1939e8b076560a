// Termination signals (SIGTERM, SIGINT, SIGHUP) turned into a window message:
// the handler only writes to a pipe; the UI thread posts the message. And
// the last step of an exit that the program did not choose.
#pragma once

#include <functional>

#include "platform/base/message.h"

// From now on each termination signal posts `msg` to `window`.
void PostMessageOnTerminationSignals(HWND window, UINT msg);

// While one is alive, an exit of the process from anywhere but the end of
// main (the toolkit calls exit() when the display goes away) first runs
// `end`. At most one lives at a time; `end` must need no window system.
class ForcedExitHook {
public:
    explicit ForcedExitHook(std::function<void()> end);
    ~ForcedExitHook();
    ForcedExitHook(const ForcedExitHook&) = delete;
    ForcedExitHook& operator=(const ForcedExitHook&) = delete;
};
