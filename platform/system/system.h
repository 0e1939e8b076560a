// Small system services: pausing the calling thread, the timer resolution and
// the open-file limit.
#pragma once

#include <functional>

#include "platform/base/wintypes.h"

// Blocks the calling thread; dispatches nothing meanwhile.
void Sleep(DWORD ms);
// Tests see the waits instead: while a hook is set, Sleep calls it and
// returns at once. An empty function restores real waits.
void SetSleepHookForTesting(std::function<void(DWORD ms)> hook);

// The system timer resolution requests: kept as calls and counted (Linux
// timers need no raised resolution).
UINT timeBeginPeriod(UINT periodMs);
UINT timeEndPeriod(UINT periodMs);
int TimerPeriodDepthForTesting();

// Raises the process's soft limit of open files to its hard limit, so that
// callers who keep their connections do not exhaust the descriptors at the
// common default of 1024. Nothing in the program waits with select, which
// could not take descriptors above 1023. False when the limit stays as it was.
bool RaiseOpenFileLimit();
