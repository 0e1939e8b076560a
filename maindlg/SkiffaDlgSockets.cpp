// The telnet side of the relay: the listener, callers' sockets, the option
// offers and the skipping of their replies, IAC undoubling towards the host,
// refusals while every line is busy, and the end of a call at the caller's
// close.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/windows/msgbox.h"
#include "platform/sockets/winsock.h"
#include "relay/telnet.h"
#include "resources/resource.h"
#include "serial/DebugLog.h"
#include "serial/SerialPort.h"
#include "resources/ResString.h"
#include "maindlg/SkiffaDlg.h"
#include "relay/Summaries.h"

namespace {

// Notification sets of a caller's socket, without and with writability.
constexpr long kCallerEvents = ws::WS_FD_READ | ws::WS_FD_CLOSE;

// The bytes read from a caller at once.
constexpr int kReceiveSize = 2048;

const BYTE kOfferBinary[3] = {TELNET_IAC, TELNET_WILL, TELNET_OPT_BINARY};
const BYTE kOfferEcho[3] = {TELNET_IAC, TELNET_WILL, TELNET_OPT_ECHO};

std::string RowAndSocket(int row, SOCKET s)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d,%lld", row, static_cast<long long>(static_cast<std::intptr_t>(s)));
    return buf;
}

}  // namespace

void CSkiffaDlg::StartListen()
{
    m_sockListen = ws::socket(ws::WS_AF_INET, ws::WS_SOCK_STREAM, 0);
    const int noDelay = 1;
    ws::setsockopt(m_sockListen, ws::WS_IPPROTO_TCP, ws::WS_TCP_NODELAY,
                   reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    const std::string failure = ListenOn(m_nPort);
    if (!failure.empty())
        MessageBox(LoadResString(IDS_LISTEN_FAILED), LoadResString(IDS_APP_TITLE), MB_ICONSTOP,
                   "TCP port " + std::to_string(m_nPort) + ": " + failure);
}

// Binds the listening socket to the port on every interface and listens:
// empty when it does, else why not, in the system's words.
std::string CSkiffaDlg::ListenOn(int port)
{
    if (m_sockListen == INVALID_SOCKET)
        return ws::WSAErrorText(ws::WSAGetLastError());
    // A number that is no TCP port is refused, rather than cut to 16 bits
    // or, as 0, left to the system to pick a port nobody knows of.
    if (port < 1 || port > 65535)
        return "not a TCP port (1 to 65535)";
    ws::SOCKADDR_IN addr{};
    addr.sin_family = ws::WS_AF_INET;
    addr.sin_port = ws::HostToNet16(static_cast<WORD>(port));
    addr.sin_addr.s_addr = ws::HostToNet32(ws::WS_INADDR_ANY);
    if (ws::bind(m_sockListen, &addr, sizeof addr) == SOCKET_ERROR)
        return ws::WSAErrorText(ws::WSAGetLastError());
    // A listener that cannot report its callers is no listener. The backlog
    // is the largest the system allows: a caller beyond a full backlog is
    // left looking connected and never handed over.
    if (ws::WSAAsyncSelect(m_sockListen, this, WM_SOCKET_NOTIFY, ws::WS_FD_ACCEPT) == SOCKET_ERROR ||
        ws::listen(m_sockListen, ws::WS_SOMAXCONN) == SOCKET_ERROR)
        return ws::WSAErrorText(ws::WSAGetLastError());
    return {};
}

LRESULT CSkiffaDlg::OnSocketNotify(WPARAM wParam, LPARAM lParam)
{
    const SOCKET s = static_cast<SOCKET>(wParam);
    const WORD event = LOWORD(lParam);
    const WORD error = HIWORD(lParam);
    switch (event) {
    case ws::WS_FD_READ:
        if (error == 0) {
            const auto it = m_mapSocket.find(s);
            if (it != m_mapSocket.end() && static_cast<size_t>(it->second) < m_aPort.size())
                OnSocketReceive(it->second);
        }
        break;
    case ws::WS_FD_ACCEPT:
        if (error == 0)
            OnAccept();
        break;
    case ws::WS_FD_CLOSE: OnCallerClosed(s); break;
    case ws::WS_FD_WRITE: m_callerOutput.OnWritable(s); break;
    default: break;
    }
    return 1;
}

namespace {

// Callers accepted in one turn of the event loop at most; the listener's next
// notification brings the rest after serial data, timers and signals.
constexpr int kMaxAcceptsPerTurn = 32;

// Seconds a caller's socket keeps sending data or its end unacknowledged
// before the system gives up and the call ends as on a reset; and as long a
// caller who was asked to end the call may take to close.
constexpr int kCallerGiveUpSeconds = 120;
std::chrono::milliseconds g_closeGiveUp = std::chrono::seconds(kCallerGiveUpSeconds);

}  // namespace

// Every caller waiting now, not only the first: a burst is taken in one
// turn, up to its bound.
void CSkiffaDlg::OnAccept()
{
    for (int i = 0; i < kMaxAcceptsPerTurn && AcceptCaller(); ++i) {}
}

// One caller from the listener, given a line or refused; false when none
// was waiting (or accept failed).
bool CSkiffaDlg::AcceptCaller()
{
    ws::SOCKADDR_IN addr{};
    int addrLen = sizeof addr;
    const SOCKET s = ws::accept(m_sockListen, &addr, &addrLen);
    if (s == INVALID_SOCKET)
        return false;
    if (ws::WSAAsyncSelect(s, this, WM_SOCKET_NOTIFY, kCallerEvents) == SOCKET_ERROR) {
        ws::closesocket(s);
        return true;
    }
    // A caller whose network drops without a word must not hold his line
    // for the quarter of an hour the system would otherwise keep trying.
    const int giveUp = kCallerGiveUpSeconds;
    ws::setsockopt(s, ws::WS_IPPROTO_TCP, ws::WS_TCP_MAXRT, reinterpret_cast<const char*>(&giveUp),
                   sizeof giveUp);
    const int row = FreeLine();
    if (row < 0) {
        // Every line busy: the FULL text, then the end of the stream. The
        // socket is closed when the caller's close arrives.
        if (m_bDebugLog)
            WriteDebugLog("full", nullptr, 0);
        SendToSocket(s, m_strFull.data(), m_strFull.size());
        AskCallerToClose(s);
        WriteLog(-1);
        UpdatePortList();
        return true;
    }
    CPortInfo& p = Port(row);
    p.m_sock = s;
    p.m_strAddress = IpToString(addr.sin_addr.s_addr);
    p.m_bNegotiating = true;
    p.m_nNegotiateCount = 0;
    p.m_bReadHeld = false;
    m_mapSocket[s] = row;
    CallStart(row);
    if (m_bDebugLog) {
        const std::string text = RowAndSocket(row, s);
        WriteDebugLog("connect", text.data(), static_cast<int>(text.size()));
    }
    SendToSocket(s, kOfferBinary, sizeof kOfferBinary);
    SendToSocket(s, kOfferEcho, sizeof kOfferEcho);
    UpdatePortList();
    return true;
}

// The first line that can take a call: idle, without a caller, its port open
// and its device there, and its host told of the last call's end (a host
// that has not yet taken that call's bytes would hear the RINGs only after
// them). -1 when there is none.
int CSkiffaDlg::FreeLine()
{
    for (size_t i = 0; i < m_aPort.size(); ++i) {
        const int row = static_cast<int>(i);
        const CPortInfo& p = m_aPort[i];
        if (p.m_nState == LINE_IDLE && !p.HasCaller() && p.m_pComm != nullptr &&
            !RetireLineIfDeviceGone(row) && !p.m_pComm->HangUpWaiting())
            return row;
    }
    return -1;
}

void CSkiffaDlg::OnSocketReceive(int row)
{
    // While the host's output queue is full the read waits for room
    // (OnComRoom); meanwhile TCP holds the caller back.
    if (HostQueueFull(row)) {
        Port(row).m_bReadHeld = true;
        return;
    }
    ReceiveFromCaller(row, false);
}

// True when the row's port holds as much for its host as it may; the port
// then posts WM_COMROOM once it has room again.
bool CSkiffaDlg::HostQueueFull(int row)
{
    CSerialPort* port = Port(row).m_pComm;
    return port != nullptr && port->OutputFull(WM_COMROOM);
}

// Reads the row's caller until the end of his stream, every byte to the host
// as any read's, however full the host's queue: the system bounds what his
// socket still holds.
void CSkiffaDlg::ReadCallerToEnd(int row)
{
    while (ReceiveFromCaller(row, true) > 0) {}
}

// The host's output queue has room again: a read that waited for it goes on.
LRESULT CSkiffaDlg::OnComRoom(WPARAM wParam, LPARAM lParam)
{
    if (wParam >= m_aPort.size())
        return 0;
    CPortInfo& p = m_aPort[wParam];
    // A message from a port since closed and replaced is not for this one.
    if (p.m_pComm != nullptr && static_cast<DWORD>(lParam) != p.m_pComm->Generation())
        return 0;
    const bool read = p.m_bReadHeld;
    p.m_bReadHeld = false;
    if (read && p.HasCaller())
        OnSocketReceive(static_cast<int>(wParam));
    return 0;
}

// One read from the row's caller and its bytes to the host; the number of
// bytes read (0 or less at the end of the stream or on an error).
int CSkiffaDlg::ReceiveFromCaller(int row, bool atClose)
{
    CPortInfo& p = Port(row);
    BYTE buf[kReceiveSize];
    const int n = ws::recv(p.m_sock, reinterpret_cast<char*>(buf), sizeof buf, 0);
    const bool skipping = p.m_bNegotiating;
    BYTE out[kReceiveSize];
    const int count = CallerBytesToHost(buf, n, p.m_bNegotiating, p.m_nNegotiateCount, p.m_bIacPending, out);
    // A read of the option replies writes only the data after them and is
    // not the caller's traffic; every later read is, an empty one too, but
    // for the one at his close that finds nothing more.
    if (skipping || (atClose && n <= 0)) {
        if (count > 0)
            WriteToHost(row, out, count);
        return n;
    }
    WriteToHost(row, out, count);
    p.m_nNoCommCounter = 0;
    return n;
}

void CSkiffaDlg::OnCallerClosed(SOCKET s)
{
    const auto it = m_mapSocket.find(s);
    if (it == m_mapSocket.end()) {
        CloseCallerSocket(s);
        UpdatePortList();
        return;
    }
    const int row = it->second;
    const bool rowExists = static_cast<size_t>(row) < m_aPort.size();
    if (rowExists) {
        // Everything the caller sent before his close goes to the host first.
        ReadCallerToEnd(row);
        CallerGone(row);
    }
    m_mapSocket.erase(s);
    if (rowExists) {
        CPortInfo& p = Port(row);
        p.m_nCheckPos[0] = 0;
        p.m_nCheckPos[1] = 0;
        p.m_bIacPending = 0;
        p.m_bCheckHit = false;
        p.m_strAddress.clear();
    }
    if (m_bDebugLog) {
        const std::string text = RowAndSocket(row, s);
        WriteDebugLog("close", text.data(), static_cast<int>(text.size()));
    }
    CloseCallerSocket(s);
    UpdatePortList();
}

// Bytes to a caller, in order, through the bounded per-caller queue.
void CSkiffaDlg::SendToSocket(SOCKET s, const void* bytes, size_t len)
{
    m_callerOutput.Send(s, bytes, len);
}

// Asks the caller to end the call: its close then ends it.
void CSkiffaDlg::HalfClose(int row)
{
    const CPortInfo& p = Port(row);
    if (p.HasCaller())
        AskCallerToClose(p.m_sock);
}

// Half-closes the caller's connection once what waits for him has gone out.
// A caller who has not closed his side within the give-up time (he does not
// read, or his system keeps the connection open) is cut as on a reset, so
// that his line always comes back.
void CSkiffaDlg::AskCallerToClose(SOCKET s)
{
    m_callerOutput.Shutdown(s);
    if (m_closeDue.emplace(s, std::chrono::steady_clock::now() + g_closeGiveUp).second &&
        !IsTimerPending(TIMER_GIVE_UP))
        SetTimer(TIMER_GIVE_UP, static_cast<UINT>(g_closeGiveUp.count()));
}

// TIMER_GIVE_UP: cuts every caller whose close is overdue, and waits for
// the next one that will be.
void CSkiffaDlg::GiveUpOverdueCallers()
{
    const auto now = std::chrono::steady_clock::now();
    std::vector<SOCKET> overdue;
    for (const auto& [s, due] : m_closeDue)
        if (due <= now)
            overdue.push_back(s);
    for (SOCKET s : overdue) {
        const ws::LINGER reset{1, 0};
        // Fails only for a socket that is gone already; it is closed anyway.
        (void)ws::setsockopt(s, ws::WS_SOL_SOCKET, ws::WS_SO_LINGER, reinterpret_cast<const char*>(&reset),
                             sizeof reset);
        OnCallerClosed(s);
    }
    if (m_closeDue.empty())
        return;
    const auto next = std::min_element(m_closeDue.begin(), m_closeDue.end(),
                                       [](const auto& a, const auto& b) { return a.second < b.second; });
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next->second - now);
    SetTimer(TIMER_GIVE_UP, static_cast<UINT>(std::max<long long>(wait.count(), 1)));
}

void CSkiffaDlg::SetCloseGiveUpForTesting(std::chrono::milliseconds giveUp)
{
    g_closeGiveUp = giveUp;
}

void CSkiffaDlg::CloseCallerSocket(SOCKET s)
{
    m_callerOutput.Forget(s);
    m_closeDue.erase(s);
    ws::closesocket(s);
}

// The caller queues' view of the sockets: non-blocking sends, the half-close,
// writability notifications and the trace of dropped bytes.
CallerOutput::Socket CSkiffaDlg::CallerSockets()
{
    CallerOutput::Socket sockets;
    sockets.send = [](SOCKET s, const char* bytes, size_t len) -> long {
        const int sent = ws::send(s, bytes, static_cast<int>(len), 0);
        if (sent >= 0)
            return sent;
        return ws::WSAGetLastError() == ws::WSAEWOULDBLOCK ? 0 : CallerOutput::kGone;
    };
    sockets.shutdown = [](SOCKET s) { ws::shutdown(s, ws::WS_SD_SEND); };
    sockets.watchWritable = [this](SOCKET s, bool watch) { WatchCallerWritable(s, watch); };
    sockets.dropped = [this](SOCKET s, size_t count) { TraceDroppedCallerBytes(s, count); };
    return sockets;
}

void CSkiffaDlg::WatchCallerWritable(SOCKET s, bool watch)
{
    // Fails only for a socket that is already gone; its queue goes with it.
    (void)ws::WSAAsyncSelect(s, this, WM_SOCKET_NOTIFY,
                             watch ? kCallerEvents | ws::WS_FD_WRITE : kCallerEvents);
}

void CSkiffaDlg::TraceDroppedCallerBytes(SOCKET s, size_t count)
{
    if (!m_bDebugLog)
        return;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%lld,%zu", static_cast<long long>(static_cast<std::intptr_t>(s)), count);
    WriteDebugLog("drop", buf, static_cast<int>(std::strlen(buf)));
}
