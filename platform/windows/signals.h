// Termination signals (SIGTERM, SIGINT, SIGHUP) turned into a window message:
// the handler only writes to a pipe; the UI thread posts the message.
#pragma once

#include "platform/base/message.h"

// From now on each termination signal posts `msg` to `window`.
void PostMessageOnTerminationSignals(HWND window, UINT msg);
