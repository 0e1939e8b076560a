// The answering modem of every line: RINGs, the host's AT command lines, the
// CONNECT line, DTR, the limits and hang-up detection of a call, the hold
// after it, the timers, and the host's bytes on their way to the caller.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/comm/comm.h"
#include "relay/modem.h"
#include "relay/telnet.h"
#include "serial/DebugLog.h"
#include "serial/SerialPort.h"
#include "maindlg/SkiffaDlg.h"

namespace {

const char kRing[] = "RING\r\n";
const char kOk[] = "OK\r\n";

// One-shot timers last as long as this; the hold is KEEP seconds.
constexpr UINT kModemInitMs = 3000;

}  // namespace

// --- writing to the host -----------------------------------------------------

// A caller's bytes: never dropped, since his reads wait while the queue is full.
void CSkiffaDlg::WriteToHost(int row, const void* bytes, int len)
{
    CSerialPort* port = Port(row).m_pComm;
    if (port != nullptr)
        port->Write(bytes, len);
}

// A text of the relay's own, dropped when the host's queue is too full.
void CSkiffaDlg::WriteTextToHost(int row, const void* text, int len)
{
    CSerialPort* port = Port(row).m_pComm;
    if (port != nullptr)
        port->WriteOwnText(text, len);
}

void CSkiffaDlg::SendConnect(int row)
{
    char buf[260];
    const int n = std::snprintf(buf, sizeof buf, "CONNECT %d\r\n", Port(row).m_nSpeed);
    WriteTextToHost(row, buf, n);
}

void CSkiffaDlg::RaiseDtr(int row)
{
    if (CSerialPort* port = Port(row).m_pComm)
        port->SetDTR(true);
}

void CSkiffaDlg::DropDtr(int row)
{
    if (CSerialPort* port = Port(row).m_pComm)
        port->SetDTR(false);
}

// --- entering and leaving a call ---------------------------------------------

// Every entry into LINE_CONNECTED.
void CSkiffaDlg::ConnectStep(int row)
{
    CPortInfo& p = Port(row);
    p.m_nState = LINE_CONNECTED;
    p.m_nCheckPos[0] = 0;
    p.m_nCheckPos[1] = 0;
    p.m_bIacPending = 0;
    p.m_nLimitCounter = 0;
    p.m_nNoCommCounter = 0;
    p.m_timeConnect = DateTime::GetCurrentTime();
    StartTickIfNeeded();
}

// A caller was given the line: ring the host, or connect at once.
void CSkiffaDlg::CallStart(int row)
{
    CPortInfo& p = Port(row);
    // The call's time until the line connects: a caller who leaves before
    // that is logged with the time he came, not an earlier call's.
    p.m_timeConnect = DateTime::GetCurrentTime();
    if (p.m_nRing == 0) {
        RaiseDtr(row);
        if (p.m_nConnect == CONNECT_AFTER_ATA || p.m_nConnect == CONNECT_AFTER_RING)
            SendConnect(row);
        ConnectStep(row);
        return;
    }
    p.m_nState = LINE_RINGING;
    WriteTextToHost(row, kRing, sizeof kRing - 1);
    p.m_nRingSent = 0;
    SetTimer(TIMER_RING + static_cast<UINT>(row), static_cast<UINT>(p.m_nRingInterval));
}

// The caller's connection closed: the AFTER text, DTR down, hold or idle, and
// the day's log line.
void CSkiffaDlg::CallerGone(int row)
{
    CPortInfo& p = Port(row);
    if (!p.m_bCheckHit && !m_strAfter.empty())
        WriteTextToHost(row, m_strAfter.data(), static_cast<int>(m_strAfter.size()));
    p.m_sock = INVALID_SOCKET;
    if (m_bDebugLog)
        WriteDebugLog("dtr off", nullptr, 0);
    DropDtr(row);
    if (p.m_nState == LINE_OPEN_ERROR) {
        // Its device went away during the call: the line stays out of the pool.
    } else if (m_nKeepTime == 0) {
        p.m_nState = LINE_IDLE;
    } else {
        p.m_nState = LINE_HOLD;
        SetTimer(TIMER_RELEASE + static_cast<UINT>(row), static_cast<UINT>(m_nKeepTime) * 1000u);
    }
    WriteLog(row);
}

// --- timers ------------------------------------------------------------------

void CSkiffaDlg::OnTimer(UINT id)
{
    if (id == TIMER_TICK) {
        OnTick();
        return;
    }
    KillTimer(id);
    if (id == TIMER_GIVE_UP) {
        GiveUpOverdueCallers();
        return;
    }
    const UINT lines = static_cast<UINT>(std::min<size_t>(m_aPort.size(), MAX_LINES));
    if (id >= TIMER_RING && id < TIMER_RING + lines)
        OnRingTimer(static_cast<int>(id - TIMER_RING));
    else if (id >= TIMER_RELEASE && id < TIMER_RELEASE + lines)
        OnReleaseTimer(static_cast<int>(id - TIMER_RELEASE));
    else if (id >= TIMER_CONNECT && id < TIMER_CONNECT + lines)
        OnConnectTimer(static_cast<int>(id - TIMER_CONNECT));
}

void CSkiffaDlg::OnRingTimer(int row)
{
    CPortInfo& p = Port(row);
    if (p.m_nState != LINE_RINGING)
        return;
    p.m_nRingSent += 1;
    if (p.m_nRingSent < p.m_nRing) {
        WriteTextToHost(row, kRing, sizeof kRing - 1);
        SetTimer(TIMER_RING + static_cast<UINT>(row), static_cast<UINT>(p.m_nRingInterval));
        return;
    }
    // The RINGs are over: the line connects whatever the mode.
    RaiseDtr(row);
    if (p.m_nConnect == CONNECT_AFTER_RING)
        SendConnect(row);
    ConnectStep(row);
    UpdatePortList();
}

void CSkiffaDlg::OnReleaseTimer(int row)
{
    CPortInfo& p = Port(row);
    if (p.m_nState != LINE_HOLD && p.m_nState != LINE_MODEM_INIT)
        return;
    p.m_nState = LINE_IDLE;
    UpdatePortList();
}

void CSkiffaDlg::OnConnectTimer(int row)
{
    if (Port(row).m_nState != LINE_WAIT_CONNECT)
        return;
    RaiseDtr(row);
    SendConnect(row);
    ConnectStep(row);
    UpdatePortList();
}

// The tick runs only while a connected line has something to watch: a limit
// or its DSR. Otherwise the relay sleeps until the next event.
bool CSkiffaDlg::TickNeeded() const
{
    const bool limited = m_nLimitCount > 0 || m_nNoCommCount > 0;
    return std::any_of(m_aPort.begin(), m_aPort.end(), [limited](const CPortInfo& p) {
        return p.m_nState == LINE_CONNECTED && (limited || p.m_bDsr);
    });
}

// Never restarts a running tick, so that connects cannot keep putting it off.
void CSkiffaDlg::StartTickIfNeeded()
{
    if (!IsTimerPending(TIMER_TICK) && TickNeeded())
        SetTimer(TIMER_TICK, TICK_MS);
}

// The 500 ms tick: call-time and idle limits, and DSR, of every connected line.
void CSkiffaDlg::OnTick()
{
    if (!TickNeeded()) {
        KillTimer(TIMER_TICK);
        return;
    }
    for (size_t i = 0; i < m_aPort.size(); ++i) {
        CPortInfo& p = m_aPort[i];
        if (p.m_nState != LINE_CONNECTED)
            continue;
        const int row = static_cast<int>(i);
        if (m_nLimitCount > 0 && ++p.m_nLimitCounter >= m_nLimitCount)
            HalfClose(row);
        if (m_nNoCommCount > 0 && ++p.m_nNoCommCounter >= m_nNoCommCount)
            HalfClose(row);
        if (p.m_bDsr && !DsrIsOn(row))
            HalfClose(row);
    }
}

// DSR of the line's port; a line without a port counts as off.
bool CSkiffaDlg::DsrIsOn(int row)
{
    const CSerialPort* port = Port(row).m_pComm;
    return port != nullptr && port->DsrOn();
}

// --- the host's bytes --------------------------------------------------------

LRESULT CSkiffaDlg::OnComData(WPARAM wParam, LPARAM lParam)
{
    if (wParam >= m_aPort.size())
        return 0;
    const int row = static_cast<int>(wParam);
    CPortInfo& p = m_aPort[wParam];
    // A message from a port that has since been closed and replaced names a
    // slot of the old ring: it is dropped.
    if (p.m_pComm == nullptr || CSerialPort::GenerationOfMessage(lParam) != p.m_pComm->Generation())
        return 0;
    BYTE bytes[COM_SLOT_SIZE];
    const DWORD count = p.m_pComm->TakeSlot(CSerialPort::SlotOfMessage(lParam), bytes);
    if (m_bDebugLog) {
        char tag[16];
        std::snprintf(tag, sizeof tag, "R%d", row);
        WriteDebugLog(tag, bytes, static_cast<int>(count));
    }
    if (p.m_nState == LINE_CONNECTED)
        HostDataInCall(row, bytes, static_cast<int>(count));
    else
        ParseHostCommands(row, bytes, static_cast<int>(count));
    return 0;
}

void CSkiffaDlg::ParseHostCommands(int row, const BYTE* bytes, int count)
{
    CPortInfo& p = Port(row);
    for (int i = 0; i < count; ++i) {
        const HostLine line = FeedHostByte(p.m_szCmd, p.m_nCmdLen, bytes[i]);
        if (line == HostLine::None)
            continue;
        // The state is looked at once per message: an ATA that connected the
        // call leaves the rest of the message to be taken as commands too.
        if (line == HostLine::Answer && p.HasCaller()) {
            AnswerCall(row);
        } else {
            // Any other AT line, and an ATA with no call to answer.
            WriteTextToHost(row, kOk, sizeof kOk - 1);
            p.m_nState = LINE_MODEM_INIT;
            SetTimer(TIMER_RELEASE + static_cast<UINT>(row), kModemInitMs);
        }
        UpdatePortList();
    }
}

// The host answered with ATA.
void CSkiffaDlg::AnswerCall(int row)
{
    CPortInfo& p = Port(row);
    KillTimer(TIMER_RING + static_cast<UINT>(row));
    bool waiting = false;
    if (p.m_nConnect == CONNECT_AFTER_ATA) {
        if (p.m_nConnectInterval == 0) {
            RaiseDtr(row);
            SendConnect(row);
        } else {
            p.m_nState = LINE_WAIT_CONNECT;
            SetTimer(TIMER_CONNECT + static_cast<UINT>(row), static_cast<UINT>(p.m_nConnectInterval));
            waiting = true;
        }
    }
    if (!waiting) {
        ConnectStep(row);
        RaiseDtr(row);
    }
}

void CSkiffaDlg::HostDataInCall(int row, const BYTE* bytes, int count)
{
    CPortInfo& p = Port(row);
    SendToCaller(row, bytes, count);
    p.m_nNoCommCounter = 0;
    const char* strings[2] = {m_szCheck1, m_szCheck2};
    for (int k = 0; k < 2; ++k) {
        if (strings[k][0] == '\0')
            continue;
        if (MatchHangup(strings[k], p.m_nCheckPos[k], bytes, count) > 0) {
            p.m_bCheckHit = true;
            HalfClose(row);
        }
    }
}

// The host's bytes to the row's caller, every 0xFF doubled.
void CSkiffaDlg::SendToCaller(int row, const BYTE* bytes, int count)
{
    const CPortInfo& p = Port(row);
    if (!p.HasCaller())
        return;
    BYTE out[2 * COM_SLOT_SIZE];  // every byte 0xFF, doubled
    const int n = DoubleIac(bytes, std::min(count, COM_SLOT_SIZE), out);
    SendToSocket(p.m_sock, out, static_cast<size_t>(n));
}
