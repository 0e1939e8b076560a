// A TCP port for a listener a test starts, chosen where no other test's
// outgoing connection can take it between the choice and the listen.
#pragma once

#include <atomic>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace scratch {

// The low end of the kernel's range for the local ports of outgoing
// connections; 32768, Linux's default, when it cannot be read.
inline int EphemeralPortsStart()
{
    std::ifstream in("/proc/sys/net/ipv4/ip_local_port_range");
    int low = 0;
    return in >> low && low > 0 ? low : 32768;
}

// True when a listener could take `port` on every interface right now.
inline bool PortIsFree(int port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

// A port nobody uses right now, below the ephemeral range: a port 0 bind
// would hand out one the kernel may give the next outgoing connection of a
// test running alongside (ctest -j), and the listener would then fail. The
// ports come from [1024, low end): a process starts at a place derived from
// its id, spread over that span so that processes started one after the
// other start far apart, and each call takes the next port, passing over
// ports in use. -1 when none is free.
inline int FreeTcpPort()
{
    constexpr int kFirst = 1024;
    static const int span = EphemeralPortsStart() - kFirst;
    if (span <= 0)
        return -1;
    // Knuth's multiplicative hash spreads neighbouring process ids apart.
    static const unsigned start = static_cast<unsigned>(
        (static_cast<unsigned long long>(::getpid()) * 2654435761ULL) % static_cast<unsigned>(span));
    static std::atomic<unsigned> calls{0};
    for (int tries = 0; tries < span; ++tries) {
        const unsigned step = calls.fetch_add(1);
        const int port = kFirst + static_cast<int>((start + step) % static_cast<unsigned>(span));
        if (PortIsFree(port))
            return port;
    }
    return -1;
}

}  // namespace scratch
