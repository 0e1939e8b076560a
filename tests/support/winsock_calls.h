// What tests ask of the socket layer's sockets that the program never does:
// connecting a client, reading a socket's own port, setting the buffer sizes,
// a close that resets, and reading back the give-up time. Each works on the
// system's descriptor behind a layer handle.
#pragma once

#include "platform/sockets/winsock.h"

namespace wstest {

// The loopback address, in host byte order.
constexpr DWORD kLoopback = 0x7F000001u;

// Network to host byte order.
WORD NetToHost16(WORD v);
DWORD NetToHost32(DWORD v);

// Connects the socket to the address, waiting while the socket blocks: 0, or
// the system's error (EINPROGRESS for a non-blocking socket still connecting).
int Connect(SOCKET s, const ws::SOCKADDR_IN& address);
// The port the socket is bound to, or -1.
int BoundPort(SOCKET s);
// Sets the system's send or receive buffer to about `bytes`.
bool SetSendBuffer(SOCKET s, int bytes);
bool SetReceiveBuffer(SOCKET s, int bytes);
// Makes closesocket reset the connection instead of closing it in order.
bool ResetOnClose(SOCKET s);
// The seconds WS_TCP_MAXRT set on the socket, or -1.
int GiveUpSeconds(SOCKET s);

}  // namespace wstest
