// The one place where a system call that a signal interrupted is run again.
#pragma once

#include <cerrno>
#include <string_view>
#include <unistd.h>

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

// Writes every byte, going on after a short write; false, with errno set, at
// the first write that fails.
inline bool WriteWholeRetrying(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = Retry([&] { return ::write(fd, data.data(), data.size()); });
        if (n < 0)
            return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}
