// The listener's port, through the socket layer.
#include "platform/winsock.h"

namespace relaytest {

int BoundPort(SOCKET s)
{
    ws::SOCKADDR_IN a{};
    int len = sizeof a;
    ws::getsockname(s, &a, &len);
    return ws::ntohs(a.sin_port);
}

}  // namespace relaytest
