// Sleep and the timer resolution calls.
#include "platform/system.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {
std::atomic<int> g_periodDepth{0};
}

void Sleep(DWORD ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

UINT timeBeginPeriod(UINT)
{
    ++g_periodDepth;
    return 0;
}

UINT timeEndPeriod(UINT)
{
    --g_periodDepth;
    return 0;
}

int TimerPeriodDepthForTesting()
{
    return g_periodDepth.load();
}
