// Small system services: pausing the calling thread and the timer resolution.
#pragma once

#include "platform/wintypes.h"

// Blocks the calling thread; dispatches nothing meanwhile.
void Sleep(DWORD ms);

// The system timer resolution requests: kept as calls and counted (Linux
// timers need no raised resolution).
UINT timeBeginPeriod(UINT periodMs);
UINT timeEndPeriod(UINT periodMs);
int TimerPeriodDepthForTesting();
