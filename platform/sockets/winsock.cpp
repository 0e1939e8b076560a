// The Windows Sockets layer on non-blocking POSIX sockets: a table from the
// layer's handles to file descriptors, and one epoll set, watched from the Qt
// event loop, that turns readiness into WSAAsyncSelect notifications.
//
// Each socket sits in the epoll set with EPOLLONESHOT and only for the
// conditions that may still post something, so a condition nobody consumes
// (unread bytes, an end of stream) never wakes the loop over and over.

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <bit>
#include <chrono>
#include <climits>
#include <string>
#include <cstring>
#include <map>
#include <set>

#include "platform/sockets/winsock.h"

#include "platform/base/eintr.h"
#include "platform/base/stderrline.h"
#include "platform/windows/postbatch.h"

namespace ws {
namespace {

constexpr SOCKET kFirstHandle = 1000;

// How long a listener rests after an accept that found no descriptor.
int g_acceptPauseMs = 250;
// A shortage of descriptors is over once a listener has gone this long
// without an accept that failed for it.
constexpr std::chrono::seconds kShortageOver{5};

// Errors of accept that say the process or the system has run out of
// descriptors or buffers: trying again at once would fail again.
bool IsOutOfResources(int err)
{
    return err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM;
}

struct Entry {
    int fd = -1;
    HWND hwnd = nullptr;
    UINT msg = 0;
    long events = 0;           // the registered FD_* set
    bool nonBlocking = false;  // set by WSAAsyncSelect, inherited by accept
    bool listening = false;
    bool inEpoll = false;
    bool acceptArmed = true;    // FD_ACCEPT may be posted (re-enabled by accept)
    bool readArmed = true;      // FD_READ may be posted (re-enabled by recv)
    bool writePending = false;  // a send would block: FD_WRITE when writable
    bool peerClosed = false;    // end of stream, reset or error seen
    bool closePosted = false;   // FD_CLOSE is posted once per socket
    int closeError = 0;         // the error word for FD_CLOSE
    bool sentShutdown = false;  // shutdown(SD_SEND or SD_BOTH) was called
    bool rearmDue = false;      // to be re-armed once its round's notifications are handled
    bool fdShortage = false;    // accepts fail for lack of descriptors; reported once
    std::chrono::steady_clock::time_point lastShortAccept;  // the last accept that failed so
};

bool ShortageGoesOn(const Entry& e, std::chrono::steady_clock::time_point now)
{
    return e.fdShortage && now - e.lastShortAccept < kShortageOver;
}

// One stderr line when a shortage begins, whatever number of callers it
// turns away meanwhile, and one when an accept works after it is over.
void NoteShortAccept(Entry& e, int err)
{
    const auto now = std::chrono::steady_clock::now();
    if (!ShortageGoesOn(e, now)) {
        WriteStderrLine("TCP listener: cannot accept a caller: " + std::string(std::strerror(err)) +
                        "; trying again every " + std::to_string(g_acceptPauseMs) + " ms");
    }
    e.fdShortage = true;
    e.lastShortAccept = now;
}

void NoteAcceptWorked(Entry& e)
{
    if (!e.fdShortage || ShortageGoesOn(e, std::chrono::steady_clock::now()))
        return;
    e.fdShortage = false;
    WriteStderrLine("TCP listener: accepting callers again");
}

thread_local int t_lastError = 0;
int g_startupFailure = 0;
int g_startupCount = 0;

int Fail(int error)
{
    t_lastError = error;
    return SOCKET_ERROR;
}

// The Windows Sockets code for a system errno.
int MapErrno(int err)
{
    switch (err) {
    case EAGAIN: return WSAEWOULDBLOCK;
    case EINTR: return WSAEINTR;
    case EACCES:
    case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE:
    case ENFILE: return WSAEMFILE;
    case EINPROGRESS: return WSAEWOULDBLOCK;
    case EALREADY: return WSAEALREADY;
    case EBADF:
    case ENOTSOCK: return WSAENOTSOCK;
    case EMSGSIZE: return WSAEMSGSIZE;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET: return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    default: return WSAEINVAL;
    }
}

// The system errors MapErrno turns into each code, the first one standing
// for the code in words.
constexpr int kMappedErrnos[] = {
    EAGAIN,        EINTR,           EACCES,          EPERM,        EFAULT,       EINVAL,
    EMFILE,        ENFILE,          EALREADY,        ENOTSOCK,     EBADF,        EMSGSIZE,
    ENOPROTOOPT,   EPROTONOSUPPORT, ESOCKTNOSUPPORT, EOPNOTSUPP,   EAFNOSUPPORT, EADDRINUSE,
    EADDRNOTAVAIL, ENETDOWN,        ENETUNREACH,     ECONNABORTED, ECONNRESET,   ENOBUFS,
    EISCONN,       ENOTCONN,        ETIMEDOUT,       ECONNREFUSED, EHOSTUNREACH,
};

sockaddr_in ToSystem(const SOCKADDR_IN& a)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = a.sin_port;
    sa.sin_addr.s_addr = a.sin_addr.s_addr;
    return sa;
}

SOCKADDR_IN FromSystem(const sockaddr_in& sa)
{
    SOCKADDR_IN a{};
    a.sin_family = WS_AF_INET;
    a.sin_port = sa.sin_port;
    a.sin_addr.s_addr = sa.sin_addr.s_addr;
    return a;
}

int BytesUnread(int fd)
{
    int n = 0;
    return ::ioctl(fd, FIONREAD, &n) == 0 ? n : 0;
}

// The socket's pending error, read (and cleared) once when its end is seen.
int PendingError(int fd)
{
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err == 0)
        return 0;
    // A reset that follows the peer's own close reports EPIPE; for the window
    // it is the same reset.
    return err == EPIPE ? WSAECONNRESET : MapErrno(err);
}

bool IsWritableConnected(int fd)
{
    pollfd p{fd, POLLOUT, 0};
    if (Retry([&] { return ::poll(&p, 1, 0); }) != 1 || !(p.revents & POLLOUT))
        return false;
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    return ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) == 0;
}

class Layer {
public:
    static Layer& Get()
    {
        static Layer layer;
        return layer;
    }

    Entry* Find(SOCKET s)
    {
        auto it = m_sockets.find(s);
        return it == m_sockets.end() ? nullptr : &it->second;
    }

    SOCKET Add(int fd, bool nonBlocking)
    {
        const SOCKET s = m_next++;
        Entry e;
        e.fd = fd;
        e.nonBlocking = nonBlocking;
        m_sockets.emplace(s, e);
        return s;
    }

    // No notification goes to the window any more: its sockets stay open but
    // fall silent.
    void ForgetWindow(HWND hwnd)
    {
        for (auto& [s, e] : m_sockets) {
            if (e.hwnd != hwnd)
                continue;
            e.hwnd = nullptr;
            e.events = 0;
            Rearm(s, e);
        }
    }

    void Remove(SOCKET s)
    {
        auto it = m_sockets.find(s);
        if (it == m_sockets.end())
            return;
        if (it->second.inEpoll)
            ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, it->second.fd, nullptr);
        ::close(it->second.fd);
        m_sockets.erase(it);
        m_pausedListeners.erase(s);
        // The descriptor just freed may be what a resting listener waits for.
        const std::set<SOCKET> paused = m_pausedListeners;
        for (SOCKET listener : paused)
            ResumeAccepting(listener);
    }

    // An accept found no descriptor: FD_ACCEPT rests until the pause ends or
    // a socket is closed, instead of coming again at once for the same
    // caller.
    void PauseAccepting(SOCKET s, Entry& e, int err)
    {
        e.acceptArmed = false;
        Rearm(s, e);
        NoteShortAccept(e, err);
        if (m_notifier.isNull() || !m_pausedListeners.insert(s).second)
            return;
        QTimer::singleShot(g_acceptPauseMs, m_notifier.data(), [this, s] { ResumeAccepting(s); });
    }

    void ResumeAccepting(SOCKET s)
    {
        Entry* e = Find(s);
        if (e == nullptr || m_pausedListeners.erase(s) == 0)
            return;
        e->acceptArmed = true;
        Rearm(s, *e);
    }

    // The epoll set and its notifier, made on first use; false when there is
    // no application object to deliver the events.
    bool EnsureWatcher()
    {
        if (m_epoll < 0) {
            m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
            if (m_epoll < 0)
                return false;
        }
        if (m_notifier.isNull()) {
            QCoreApplication* app = QCoreApplication::instance();
            if (app == nullptr)
                return false;
            auto* notifier = new QSocketNotifier(m_epoll, QSocketNotifier::Read, app);
            QObject::connect(notifier, &QSocketNotifier::activated, notifier, [this] { Drain(); });
            m_notifier = notifier;
        }
        return true;
    }

    void Post(SOCKET s, const Entry& e, long event, int error)
    {
        PostMessageA(e.hwnd, e.msg, s, MAKELPARAM(static_cast<WORD>(event), static_cast<WORD>(error)));
    }

    // Puts the socket in the epoll set for exactly the conditions that can
    // still post a notification, or takes it out when there are none.
    void Rearm(SOCKET s, Entry& e)
    {
        e.rearmDue = false;
        std::uint32_t mask = 0;
        if (e.listening) {
            if ((e.events & WS_FD_ACCEPT) && e.acceptArmed)
                mask |= EPOLLIN;
        } else {
            if (!e.peerClosed) {
                if ((e.events & WS_FD_READ) && e.readArmed)
                    mask |= EPOLLIN;
                if ((e.events & WS_FD_CLOSE) && !e.closePosted)
                    mask |= EPOLLRDHUP;
                // An end of stream is readable for ever; it must show as
                // EPOLLRDHUP so that it is never taken for unread bytes.
                if (mask & EPOLLIN)
                    mask |= EPOLLRDHUP;
            }
            if ((e.events & WS_FD_WRITE) && e.writePending)
                mask |= EPOLLOUT;
        }
        if (mask == 0) {
            if (e.inEpoll)
                ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, e.fd, nullptr);
            e.inEpoll = false;
            return;
        }
        if (m_epoll < 0)
            return;
        epoll_event ev{};
        ev.events = mask | EPOLLONESHOT;
        ev.data.u64 = s;
        if (::epoll_ctl(m_epoll, e.inEpoll ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, e.fd, &ev) == 0)
            e.inEpoll = true;
    }

    // After the end of the stream has been seen (epoll reports it only once):
    // FD_READ for bytes still unread, then FD_CLOSE, each if the set asks for
    // it and it is due.
    void PostAfterEnd(SOCKET s, Entry& e)
    {
        if (!e.peerClosed)
            return;
        if ((e.events & WS_FD_READ) && e.readArmed && BytesUnread(e.fd) > 0) {
            e.readArmed = false;
            Post(s, e, WS_FD_READ, 0);
        }
        if ((e.events & WS_FD_CLOSE) && !e.closePosted) {
            e.closePosted = true;
            Post(s, e, WS_FD_CLOSE, e.closeError);
        }
    }

    unsigned long ReadyReports() const { return m_readyReports; }

private:
    Layer() = default;

    void Drain()
    {
        epoll_event events[64];
        const int n = Retry([&] { return ::epoll_wait(m_epoll, events, 64, 0); });
        // The notifications reach their windows when this round ends, without
        // another pass through the event loop. A socket whose FD_READ or
        // FD_ACCEPT went out is re-armed by the recv or accept that answers
        // it; only one left unanswered is re-armed here, afterwards.
        {
            PostBatch batch;
            for (int i = 0; i < n; ++i, ++m_readyReports)
                OnReady(static_cast<SOCKET>(events[i].data.u64), events[i].events);
        }
        for (int i = 0; i < n; ++i) {
            const SOCKET s = static_cast<SOCKET>(events[i].data.u64);
            if (Entry* e = Find(s); e != nullptr && e->rearmDue)
                Rearm(s, *e);
        }
    }

    void OnReady(SOCKET s, std::uint32_t revents)
    {
        Entry* e = Find(s);
        if (e == nullptr)
            return;  // closed since; its handle is never given out again
        if (e->listening) {
            if ((revents & EPOLLIN) && (e->events & WS_FD_ACCEPT) && e->acceptArmed) {
                e->acceptArmed = false;
                Post(s, *e, WS_FD_ACCEPT, 0);
                e->rearmDue = true;  // accept re-arms it
                return;
            }
            Rearm(s, *e);
            return;
        }
        const bool ended = (revents & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0;
        if (ended && !e->peerClosed) {
            e->peerClosed = true;
            e->closeError = PendingError(e->fd);
        }
        // Unread bytes first, then the close that came with them. Before the
        // end, readability itself says bytes are there.
        const bool unread = ended ? BytesUnread(e->fd) > 0 : (revents & EPOLLIN) != 0;
        const bool readPosted = (e->events & WS_FD_READ) && e->readArmed && unread;
        if (readPosted) {
            e->readArmed = false;
            Post(s, *e, WS_FD_READ, 0);
        }
        PostAfterEnd(s, *e);
        // On a connection that is gone a send fails at once: FD_WRITE then too,
        // so that the writer learns of it.
        if ((revents & (EPOLLOUT | EPOLLHUP | EPOLLERR)) && (e->events & WS_FD_WRITE) && e->writePending) {
            e->writePending = false;
            Post(s, *e, WS_FD_WRITE, 0);
        }
        if (readPosted)
            e->rearmDue = true;  // recv re-arms it
        else
            Rearm(s, *e);
    }

    std::map<SOCKET, Entry> m_sockets;
    std::set<SOCKET> m_pausedListeners;  // resting after running out of descriptors
    SOCKET m_next = kFirstHandle;
    int m_epoll = -1;
    QPointer<QSocketNotifier> m_notifier;
    unsigned long m_readyReports = 0;
};

}  // namespace

int WSAStartup(WORD version, WSADATA* data)
{
    if (g_startupFailure != 0)
        return g_startupFailure;
    if (data == nullptr)
        return WSAEFAULT;
    const int major = version & 0xFF;
    const int minor = (version >> 8) & 0xFF;
    if (major < 1 || (major == 1 && minor < 1))
        return WSAVERNOTSUPPORTED;
    std::memset(data, 0, sizeof *data);
    data->wVersion = WINSOCK_VERSION;
    data->wHighVersion = WINSOCK_VERSION;
    std::strcpy(data->szDescription, "Skiffa sockets");
    std::strcpy(data->szSystemStatus, "Running");
    data->iMaxSockets = 0xFFFF;
    data->iMaxUdpDg = 0;
    ++g_startupCount;
    return 0;
}

int WSACleanup()
{
    if (g_startupCount == 0)
        return Fail(WSANOTINITIALISED);
    --g_startupCount;
    return 0;
}

void SetWSAStartupFailureForTesting(int error)
{
    g_startupFailure = error;
}

std::string WSAErrorText(int error)
{
    for (int err : kMappedErrnos) {
        if (MapErrno(err) == error)
            return std::strerror(err);
    }
    return "error " + std::to_string(error);
}

int WSAGetLastError()
{
    return t_lastError;
}

void WSASetLastError(int error)
{
    t_lastError = error;
}

WORD HostToNet16(WORD v)
{
    if constexpr (std::endian::native == std::endian::little)
        return static_cast<WORD>((v >> 8) | (v << 8));
    return v;
}

DWORD HostToNet32(DWORD v)
{
    if constexpr (std::endian::native == std::endian::little)
        return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
    return v;
}

SOCKET socket(int af, int type, int protocol)
{
    if (af != WS_AF_INET) {
        t_lastError = WSAEAFNOSUPPORT;
        return INVALID_SOCKET;
    }
    if (type != WS_SOCK_STREAM) {
        t_lastError = WSAESOCKTNOSUPPORT;
        return INVALID_SOCKET;
    }
    if (protocol != 0 && protocol != WS_IPPROTO_TCP) {
        t_lastError = WSAEPROTONOSUPPORT;
        return INVALID_SOCKET;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        t_lastError = MapErrno(errno);
        return INVALID_SOCKET;
    }
    return Layer::Get().Add(fd, false);
}

int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen)
{
    Entry* e = Layer::Get().Find(s);
    if (e == nullptr)
        return Fail(WSAENOTSOCK);
    if (optval == nullptr)
        return Fail(WSAEFAULT);
    int r = -1;
    if (level == WS_IPPROTO_TCP && optname == WS_TCP_NODELAY) {
        if (optlen < static_cast<int>(sizeof(int)))
            return Fail(WSAEFAULT);
        int v;
        std::memcpy(&v, optval, sizeof v);
        v = v != 0 ? 1 : 0;
        r = ::setsockopt(e->fd, IPPROTO_TCP, TCP_NODELAY, &v, sizeof v);
    } else if (level == WS_IPPROTO_TCP && optname == WS_TCP_MAXRT) {
        if (optlen < static_cast<int>(sizeof(int)))
            return Fail(WSAEFAULT);
        int seconds;
        std::memcpy(&seconds, optval, sizeof seconds);
        if (seconds < 0 || seconds > INT_MAX / 1000)
            return Fail(WSAEINVAL);
        // Linux counts it in milliseconds; 0 leaves the system's own retries.
        const unsigned ms = static_cast<unsigned>(seconds) * 1000u;
        r = ::setsockopt(e->fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &ms, sizeof ms);
    } else if (level == WS_SOL_SOCKET && optname == WS_SO_LINGER) {
        if (optlen < static_cast<int>(sizeof(LINGER)))
            return Fail(WSAEFAULT);
        LINGER l;
        std::memcpy(&l, optval, sizeof l);
        const linger sys{l.l_onoff != 0 ? 1 : 0, l.l_linger};
        r = ::setsockopt(e->fd, SOL_SOCKET, SO_LINGER, &sys, sizeof sys);
    } else {
        return Fail(WSAENOPROTOOPT);
    }
    return r == 0 ? 0 : Fail(MapErrno(errno));
}

int bind(SOCKET s, const SOCKADDR_IN* name, int namelen)
{
    Entry* e = Layer::Get().Find(s);
    if (e == nullptr)
        return Fail(WSAENOTSOCK);
    if (name == nullptr || namelen < static_cast<int>(sizeof(SOCKADDR_IN)))
        return Fail(WSAEFAULT);
    if (name->sin_family != WS_AF_INET)
        return Fail(WSAEAFNOSUPPORT);
    const sockaddr_in sa = ToSystem(*name);
    // Windows lets a port be bound again while old connections of it linger in
    // TIME_WAIT; Linux does so only with SO_REUSEADDR, which still refuses a
    // port that another socket listens on.
    const int reuse = 1;
    ::setsockopt(e->fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    if (::bind(e->fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0)
        return Fail(MapErrno(errno));
    return 0;
}

int listen(SOCKET s, int backlog)
{
    Layer& layer = Layer::Get();
    Entry* e = layer.Find(s);
    if (e == nullptr)
        return Fail(WSAENOTSOCK);
    // The system cuts a backlog above its own limit (net.core.somaxconn), as
    // WS_SOMAXCONN is, to that limit.
    if (::listen(e->fd, backlog) != 0)
        return Fail(MapErrno(errno));
    e->listening = true;
    layer.Rearm(s, *e);
    return 0;
}

SOCKET accept(SOCKET s, SOCKADDR_IN* addr, int* addrlen)
{
    Layer& layer = Layer::Get();
    Entry* e = layer.Find(s);
    if (e == nullptr) {
        t_lastError = WSAENOTSOCK;
        return INVALID_SOCKET;
    }
    if (!e->listening) {
        t_lastError = WSAEINVAL;
        return INVALID_SOCKET;
    }
    if (addr != nullptr && (addrlen == nullptr || *addrlen < static_cast<int>(sizeof(SOCKADDR_IN)))) {
        t_lastError = WSAEFAULT;
        return INVALID_SOCKET;
    }
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    const int flags = SOCK_CLOEXEC | (e->nonBlocking ? SOCK_NONBLOCK : 0);
    const int fd = Retry([&] { return ::accept4(e->fd, reinterpret_cast<sockaddr*>(&sa), &len, flags); });
    const int err = errno;
    const bool nonBlocking = e->nonBlocking;
    if (fd < 0 && IsOutOfResources(err)) {
        layer.PauseAccepting(s, *e, err);
        t_lastError = MapErrno(err);
        return INVALID_SOCKET;
    }
    if (fd >= 0)
        NoteAcceptWorked(*e);
    e->acceptArmed = true;
    layer.Rearm(s, *e);
    if (fd < 0) {
        t_lastError = MapErrno(err);
        return INVALID_SOCKET;
    }
    if (addr != nullptr) {
        *addr = FromSystem(sa);
        *addrlen = sizeof(SOCKADDR_IN);
    }
    return layer.Add(fd, nonBlocking);
}

namespace {

// The socket's entry for recv or send, once the arguments pass the checks
// both make; null, with the error set, when they do not.
Entry* TransferEntry(Layer& layer, SOCKET s, const char* buf, int len, int flags)
{
    Entry* e = layer.Find(s);
    const int error = e == nullptr                             ? WSAENOTSOCK
                      : flags != 0                             ? WSAEOPNOTSUPP
                      : len < 0 || (buf == nullptr && len > 0) ? WSAEFAULT
                                                               : 0;
    if (error != 0) {
        t_lastError = error;
        return nullptr;
    }
    return e;
}

}  // namespace

int recv(SOCKET s, char* buf, int len, int flags)
{
    Layer& layer = Layer::Get();
    Entry* e = TransferEntry(layer, s, buf, len, flags);
    if (e == nullptr)
        return SOCKET_ERROR;
    const ssize_t n = Retry([&] { return ::recv(e->fd, buf, static_cast<size_t>(len), 0); });
    const int err = errno;
    // Every recv re-enables FD_READ. Bytes still unread are announced by the
    // readiness the re-arming asks for; after the end of the stream epoll
    // reports nothing more, so they are announced here.
    e->readArmed = true;
    if ((e->events & WS_FD_READ) && e->peerClosed && BytesUnread(e->fd) > 0) {
        e->readArmed = false;
        layer.Post(s, *e, WS_FD_READ, 0);
    }
    layer.Rearm(s, *e);
    if (n < 0)
        return Fail(MapErrno(err));
    return static_cast<int>(n);
}

int send(SOCKET s, const char* buf, int len, int flags)
{
    Layer& layer = Layer::Get();
    Entry* e = TransferEntry(layer, s, buf, len, flags);
    if (e == nullptr)
        return SOCKET_ERROR;
    // MSG_NOSIGNAL: a peer that has gone gives an error, never SIGPIPE.
    const ssize_t n = Retry([&] { return ::send(e->fd, buf, static_cast<size_t>(len), MSG_NOSIGNAL); });
    const int err = errno;
    if ((n < 0 && (err == EAGAIN || err == EWOULDBLOCK)) || (n >= 0 && n < len)) {
        e->writePending = true;
        layer.Rearm(s, *e);
    }
    if (n < 0) {
        if (err == EPIPE)
            return Fail(e->sentShutdown ? WSAESHUTDOWN : WSAECONNRESET);
        return Fail(MapErrno(err));
    }
    return static_cast<int>(n);
}

int shutdown(SOCKET s, int how)
{
    Entry* e = Layer::Get().Find(s);
    if (e == nullptr)
        return Fail(WSAENOTSOCK);
    int sysHow;
    switch (how) {
    case WS_SD_RECEIVE: sysHow = SHUT_RD; break;
    case WS_SD_SEND: sysHow = SHUT_WR; break;
    case WS_SD_BOTH: sysHow = SHUT_RDWR; break;
    default: return Fail(WSAEINVAL);
    }
    if (::shutdown(e->fd, sysHow) != 0)
        return Fail(MapErrno(errno));
    if (how != WS_SD_RECEIVE)
        e->sentShutdown = true;
    return 0;
}

int closesocket(SOCKET s)
{
    Layer& layer = Layer::Get();
    if (layer.Find(s) == nullptr)
        return Fail(WSAENOTSOCK);
    layer.Remove(s);
    return 0;
}

int WSAAsyncSelect(SOCKET s, HWND hwnd, UINT msg, long events)
{
    Layer& layer = Layer::Get();
    Entry* e = layer.Find(s);
    if (e == nullptr)
        return Fail(WSAENOTSOCK);
    if (events != 0 && hwnd == nullptr)
        return Fail(WSAEINVAL);
    if (events != 0 && !layer.EnsureWatcher())
        return Fail(WSASYSNOTREADY);
    if (!e->nonBlocking) {
        const int fl = ::fcntl(e->fd, F_GETFL);
        if (fl < 0 || ::fcntl(e->fd, F_SETFL, fl | O_NONBLOCK) != 0)
            return Fail(MapErrno(errno));
        e->nonBlocking = true;
    }
    // An event that joins the set starts armed; one that stays keeps its state,
    // so a notification already posted is not posted a second time.
    const long added = events & ~e->events;
    if (added & WS_FD_ACCEPT)
        e->acceptArmed = true;
    if (added & WS_FD_READ)
        e->readArmed = true;
    e->hwnd = hwnd;
    e->msg = msg;
    e->events = events;
    // An end already seen is not reported by epoll again.
    layer.PostAfterEnd(s, *e);
    if ((events & WS_FD_WRITE) && !e->listening) {
        if (IsWritableConnected(e->fd)) {
            e->writePending = false;
            layer.Post(s, *e, WS_FD_WRITE, 0);
        } else {
            e->writePending = true;
        }
    }
    layer.Rearm(s, *e);
    return 0;
}

void ForgetWindow(HWND hwnd)
{
    Layer::Get().ForgetWindow(hwnd);
}

int DescriptorForTesting(SOCKET s)
{
    const Entry* e = Layer::Get().Find(s);
    return e == nullptr ? -1 : e->fd;
}

unsigned long ReadyReportsForTesting()
{
    return Layer::Get().ReadyReports();
}

void SetAcceptPauseForTesting(int milliseconds)
{
    g_acceptPauseMs = milliseconds;
}

}  // namespace ws
