// The one place where a system call that a signal interrupted is run again.
#pragma once

#include <cerrno>

// Runs the call again while it fails with EINTR; returns its last result.
// Not for connect(): an interrupted connect goes on in the background and
// must not be started a second time.
template <typename Call> auto Retry(Call call)
{
    for (;;) {
        auto result = call();
        if (result != -1 || errno != EINTR)
            return result;
    }
}
