#include "support/winsock_calls.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace wstest {

WORD NetToHost16(WORD v)
{
    return ntohs(v);
}

DWORD NetToHost32(DWORD v)
{
    return ntohl(v);
}

int Connect(SOCKET s, const ws::SOCKADDR_IN& address)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = address.sin_port;
    sa.sin_addr.s_addr = address.sin_addr.s_addr;
    const int fd = ws::DescriptorForTesting(s);
    if (fd < 0)
        return EBADF;
    return ::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0 ? 0 : errno;
}

int BoundPort(SOCKET s)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(ws::DescriptorForTesting(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return -1;
    return ntohs(sa.sin_port);
}

namespace {

template <typename T> bool SetOption(SOCKET s, int level, int name, const T& value)
{
    return ::setsockopt(ws::DescriptorForTesting(s), level, name, &value, sizeof value) == 0;
}

}  // namespace

bool SetSendBuffer(SOCKET s, int bytes)
{
    return SetOption(s, SOL_SOCKET, SO_SNDBUF, bytes);
}

bool SetReceiveBuffer(SOCKET s, int bytes)
{
    return SetOption(s, SOL_SOCKET, SO_RCVBUF, bytes);
}

bool ResetOnClose(SOCKET s)
{
    return SetOption(s, SOL_SOCKET, SO_LINGER, linger{1, 0});
}

int GiveUpSeconds(SOCKET s)
{
    unsigned ms = 0;
    socklen_t len = sizeof ms;
    if (::getsockopt(ws::DescriptorForTesting(s), IPPROTO_TCP, TCP_USER_TIMEOUT, &ms, &len) != 0)
        return -1;
    return static_cast<int>(ms / 1000);
}

}  // namespace wstest
