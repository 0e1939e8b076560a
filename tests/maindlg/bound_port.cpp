// The listener's port, through the socket layer.
#include "platform/sockets/winsock.h"

namespace relaytest {

int BoundPort(SOCKET s)
{
    ws::SOCKADDR_IN a{};
    int len = sizeof a;
    if (ws::getsockname(s, &a, &len) != 0)
        return -1;
    return ws::ntohs(a.sin_port);
}

}  // namespace relaytest

namespace relaytest {

void ShrinkSendBuffer(SOCKET s)
{
    const int size = 4096;
    ws::setsockopt(s, ws::SOL_SOCKET, ws::SO_SNDBUF, reinterpret_cast<const char*>(&size), sizeof size);
}

int GiveUpSeconds(SOCKET s)
{
    int seconds = -1;
    int len = sizeof seconds;
    if (ws::getsockopt(s, ws::IPPROTO_TCP, ws::TCP_MAXRT, reinterpret_cast<char*>(&seconds), &len) != 0)
        return -1;
    return seconds;
}

}  // namespace relaytest
