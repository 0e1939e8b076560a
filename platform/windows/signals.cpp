// Self-pipe for termination signals.
#include "platform/windows/signals.h"

#include "platform/windows/menu.h"
#include "platform/windows/msgbox.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_pipe[2] = {-1, -1};
std::function<void()> g_forcedExitEnd;

void RunForcedExitEnd()
{
    // Taken out first: an exit from inside `end` must not run it again.
    const std::function<void()> end = std::move(g_forcedExitEnd);
    g_forcedExitEnd = nullptr;
    if (end)
        end();
}

void OnSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(g_pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

void PostMessageOnTerminationSignals(HWND window, UINT msg)
{
    if (g_pipe[0] < 0) {
        if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
    }
    // The notifier lives and dies with the window it posts to.
    auto* owner = dynamic_cast<QObject*>(window);
    if (owner == nullptr)
        return;
    auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [window, msg] {
        char buf[64];
        while (read(g_pipe[0], buf, sizeof buf) > 0) {}
        // A box waiting for an answer or an open menu, now or later, would
        // hold the end back.
        EndMessageBoxes();
        EndPopupMenus();
        PostMessageA(window, msg, 0, 0);
    });
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaction(sig, &sa, nullptr);
}

ForcedExitHook::ForcedExitHook(std::function<void()> end)
{
    static const bool registered = std::atexit(RunForcedExitEnd) == 0;
    (void)registered;
    g_forcedExitEnd = std::move(end);
}

ForcedExitHook::~ForcedExitHook()
{
    g_forcedExitEnd = nullptr;
}
