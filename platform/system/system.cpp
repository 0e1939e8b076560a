// Sleep, the timer resolution calls and the open-file limit.
#include "platform/system/system.h"

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {
std::atomic<int> g_periodDepth{0};
std::function<void(DWORD)> g_sleepHook;  // set and used on the UI thread only
}  // namespace

void Sleep(DWORD ms)
{
    if (g_sleepHook) {
        g_sleepHook(ms);
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void SetSleepHookForTesting(std::function<void(DWORD)> hook)
{
    g_sleepHook = std::move(hook);
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

bool RaiseOpenFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max)
        return false;
    limit.rlim_cur = limit.rlim_max;
    return setrlimit(RLIMIT_NOFILE, &limit) == 0;
}
