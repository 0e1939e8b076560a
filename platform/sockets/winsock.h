// Windows Sockets 1.1 as the relay uses it: TCP sockets named by handles that
// are never reused, and WSAAsyncSelect notifications posted to a window.
//
// Everything lives in namespace ws, since socket, bind, send and the other
// names would collide with the C library's. The constants keep the values of
// Windows Sockets and its names with a WS_ prefix (WS_AF_INET, WS_FD_READ),
// its error codes their WSA names, and the byte-order calls are named
// HostToNet16 and HostToNet32: none of them is a name the system's socket
// headers define as a macro, so this header may come before or after those.
// The layer translates the values to the system's own. Code outside platform/
// needs no system socket header. The layer is used from the UI thread only.
#pragma once

#include <string>

#include "platform/base/message.h"
#include "platform/base/wintypes.h"

namespace ws {

// The version the relay asks for and the only one the layer grants (1.1).
constexpr WORD WINSOCK_VERSION = 0x0101;

constexpr int WS_AF_INET = 2;
constexpr int WS_SOCK_STREAM = 1;
constexpr int WS_IPPROTO_TCP = 6;

// setsockopt levels and options.
constexpr int WS_TCP_NODELAY = 0x0001;  // level WS_IPPROTO_TCP, an int
// Level WS_IPPROTO_TCP, an int: seconds that sent data or a FIN may stay
// unacknowledged before the system gives up and resets the connection.
constexpr int WS_TCP_MAXRT = 5;
// Level WS_SOL_SOCKET, a LINGER: with l_onoff set and l_linger 0, closesocket
// resets the connection and throws away what was not sent.
constexpr int WS_SOL_SOCKET = 0xFFFF;
constexpr int WS_SO_LINGER = 0x0080;
struct LINGER {
    WORD l_onoff;
    WORD l_linger;  // seconds
};

// The IPv4 address of every interface, in host byte order; put it through
// HostToNet32.
constexpr DWORD WS_INADDR_ANY = 0x00000000u;

// listen's backlog for the largest the system allows.
constexpr int WS_SOMAXCONN = 0x7FFFFFFF;

// shutdown directions.
constexpr int WS_SD_RECEIVE = 0;
constexpr int WS_SD_SEND = 1;
constexpr int WS_SD_BOTH = 2;

// WSAAsyncSelect events: the low word of a notification's lParam.
constexpr long WS_FD_READ = 0x01;
constexpr long WS_FD_WRITE = 0x02;
constexpr long WS_FD_ACCEPT = 0x08;
constexpr long WS_FD_CLOSE = 0x20;

// Error codes of WSAGetLastError, WSAStartup and a notification's high word.
constexpr int WSAEINTR = 10004;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAENOPROTOOPT = 10042;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAESOCKTNOSUPPORT = 10044;
constexpr int WSAEOPNOTSUPP = 10045;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;

struct WSADATA {
    WORD wVersion;      // the version granted
    WORD wHighVersion;  // the highest version the layer offers
    char szDescription[257];
    char szSystemStatus[129];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
};

struct IN_ADDR {
    DWORD s_addr;  // network byte order
};

// An IPv4 socket address, 16 bytes as callers size it.
struct SOCKADDR_IN {
    short sin_family;  // AF_INET
    WORD sin_port;     // network byte order
    IN_ADDR sin_addr;
    char sin_zero[8];
};
static_assert(sizeof(SOCKADDR_IN) == 16);

// Starts the layer. Returns 0 and fills data with version 1.1 when version asks
// for 1.1 or more; otherwise an error code (WSAVERNOTSUPPORTED, WSAEFAULT, or
// the code a test asked for). The other calls work without it.
[[nodiscard]] int WSAStartup(WORD version, WSADATA* data);
// Balances one successful WSAStartup; WSANOTINITIALISED when none is left.
int WSACleanup();
// From now on WSAStartup fails with error (non-zero), or works again (0).
void SetWSAStartupFailureForTesting(int error);

// The error of the last failed call on this thread.
int WSAGetLastError();
void WSASetLastError(int error);
// An error code in the system's words, such as "Address already in use".
std::string WSAErrorText(int error);

// Host to network byte order (htons and htonl).
WORD HostToNet16(WORD v);
DWORD HostToNet32(DWORD v);

// A new TCP socket (AF_INET, SOCK_STREAM, protocol 0 or IPPROTO_TCP), blocking
// until WSAAsyncSelect; INVALID_SOCKET on failure. Handles count up from 1000
// and are never handed out twice in a process.
[[nodiscard]] SOCKET socket(int af, int type, int protocol);
// WS_TCP_NODELAY and WS_TCP_MAXRT (level WS_IPPROTO_TCP, an int each) and
// WS_SO_LINGER (level WS_SOL_SOCKET); WSAENOPROTOOPT for others.
int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
// Each returns 0, or SOCKET_ERROR with the reason in WSAGetLastError
// (WSAENOTSOCK for a handle that is not open).
[[nodiscard]] int bind(SOCKET s, const SOCKADDR_IN* name, int namelen);
[[nodiscard]] int listen(SOCKET s, int backlog);
// The next waiting caller's socket, with its address in addr when addr is
// given (*addrlen at least 16). Re-enables FD_ACCEPT. The new socket is
// non-blocking when the listener is. When the process or the system is out
// of descriptors or buffers (WSAEMFILE, WSAENOBUFS), FD_ACCEPT is re-enabled
// only after a pause, or as soon as this layer closes a socket, so that a
// caller left waiting never makes the loop spin; each such episode writes one
// line to stderr.
[[nodiscard]] SOCKET accept(SOCKET s, SOCKADDR_IN* addr, int* addrlen);
// Bytes read (0 at the end of the stream) or SOCKET_ERROR; flags must be 0.
// Re-enables FD_READ, which is posted again at once while unread bytes remain.
int recv(SOCKET s, char* buf, int len, int flags);
// Bytes taken or SOCKET_ERROR; flags must be 0. Never raises SIGPIPE. A send
// that would block or takes only part of the bytes makes FD_WRITE due.
int send(SOCKET s, const char* buf, int len, int flags);
int shutdown(SOCKET s, int how);
// Closes the socket; notifications already posted for it still arrive.
int closesocket(SOCKET s);

// Posts msg to hwnd once per event of the set: wParam the socket, lParam
// MAKELPARAM(event, error). Makes the socket non-blocking and replaces any
// earlier set (0 stops the notifications). FD_ACCEPT comes again after accept,
// FD_READ after recv; FD_CLOSE comes once per socket, also while unread bytes
// remain, after their FD_READ, with WSAECONNRESET when the peer reset the
// connection; FD_WRITE comes at once when the set asks for it and the
// connected socket can take bytes, and later when it can take bytes again
// after a send that would block. The window must outlive the registration:
// close the socket or register 0 before the window goes. Needs the
// application object (the UI thread's event loop delivers the events).
[[nodiscard]] int WSAAsyncSelect(SOCKET s, HWND hwnd, UINT msg, long events);

// Stops every notification to the window, for a window about to go; its
// sockets stay open.
void ForgetWindow(HWND hwnd);

// The system's descriptor behind an open handle, -1 for any other: a test
// reaches with it what the program never asks of a socket (connecting, its
// own address, the buffer sizes).
int DescriptorForTesting(SOCKET s);
// How many readiness reports the layer has taken from the system so far: a
// test sees with it that a quiet socket does not wake the event loop.
unsigned long ReadyReportsForTesting();
// The pause after an accept that found no descriptor (250 ms unless set).
void SetAcceptPauseForTesting(int milliseconds);

}  // namespace ws
