// Small system services: pausing the calling thread and the timer resolution.
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
