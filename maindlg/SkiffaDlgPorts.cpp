// Line setup and the port list: opening a serial port per line, the list's
// rows, taking a line whose device went away out of the pool, and closing
// every line for a settings change.
#include <cstdio>

#include "platform/comm/comm.h"
#include "platform/system/cp932.h"
#include "platform/windows/msgbox.h"
#include "platform/system/system.h"
#include "platform/sockets/winsock.h"
#include "resources/resource.h"
#include "serial/DebugLog.h"
#include "serial/SerialPort.h"
#include "resources/ResString.h"
#include "maindlg/SkiffaDlg.h"
#include "relay/Summaries.h"

namespace {

// A port's failure for the journal: the port, the device it resolved to and
// the reason.
std::string PortFailureDetail(const std::string& name, const std::string& device, const std::string& reason)
{
    std::string detail = cp932::ToUtf8(name);
    if (!device.empty())
        detail += " (" + device + ")";
    return detail + ": " + reason;
}

// What the system said of a port that did not open.
std::string OpenFailureDetail(const std::string& name)
{
    const CommOpenFailure failure = GetLastCommOpenFailure();
    return PortFailureDetail(name, failure.device,
                             failure.reason.empty() ? "the port could not be set up" : failure.reason);
}

}  // namespace

void CSkiffaDlg::SetupPorts()
{
    m_mapSocket.clear();
    m_listPort.DeleteAllItems();
    for (size_t i = 0; i < m_aPort.size(); ++i) {
        const int row = static_cast<int>(i);
        // Rows are read by index below: a message box may let other handlers
        // run, but nothing else adds or removes records.
        m_listPort.InsertItem(row, m_aPort[i].m_strName);
        m_listPort.SetItemText(row, 1, PortSettingsSummary(m_aPort[i]));
        ReleasePort(row);
        CSerialPort* port = CreatePort(row);
        port->SetGoneMessage(WM_COMGONE);
        const CPortInfo& info = m_aPort[i];
        if (port->Open(info.m_strName, static_cast<DWORD>(info.m_nSpeed), static_cast<BYTE>(info.m_nData),
                       info.m_nStop, info.m_nParity, this, WM_COMDATA, row)) {
            CPortInfo& p = m_aPort[i];
            p.m_nState = LINE_IDLE;
            p.m_sock = INVALID_SOCKET;
            p.m_nCmdLen = 0;
            p.m_nCheckPos[0] = 0;
            p.m_nCheckPos[1] = 0;
            p.m_bIacPending = 0;
            p.m_bCheckHit = false;
            port->SetDebugLog(m_bDebugLog);
        } else {
            ReleasePort(row);
            m_aPort[i].m_nState = LINE_OPEN_ERROR;
            MessageBox(LoadResString(IDS_COM_OPEN_ERROR), LoadResString(IDS_APP_TITLE), MB_ICONSTOP,
                       OpenFailureDetail(m_aPort[i].m_strName));
        }
        m_listPort.SetItemText(row, 2, LineStateText(m_aPort[i].m_nState));
    }
    m_btnComPort.EnableWindow(m_listPort.GetNextItem(-1, LVNI_SELECTED) != -1);
}

// A port's reader found its device gone. A message from a port that has
// since been closed and replaced is dropped.
LRESULT CSkiffaDlg::OnComGone(WPARAM wParam, LPARAM lParam)
{
    if (wParam >= m_aPort.size())
        return 0;
    const CSerialPort* port = m_aPort[wParam].m_pComm;
    if (port == nullptr || static_cast<DWORD>(lParam) != port->Generation())
        return 0;
    if (RetireLineIfDeviceGone(static_cast<int>(wParam)))
        UpdatePortList();
    return 0;
}

// A line whose device went away (its reader ended on a hang-up or an I/O
// error) is out of the pool, as if it had failed to open, until the lines are
// next opened. A call on it ends as on a DSR drop: the caller is half-closed
// and his close ends the call. True when the row was taken out.
bool CSkiffaDlg::RetireLineIfDeviceGone(int row)
{
    CPortInfo& p = Port(row);
    if (p.m_pComm == nullptr || !p.m_pComm->DeviceGone())
        return false;
    ReportDeviceGone(row);
    ReleasePort(row);
    p.m_nState = LINE_OPEN_ERROR;
    HalfClose(row);
    return true;
}

// One line on stderr, worded as the box of a port that does not open.
void CSkiffaDlg::ReportDeviceGone(int row)
{
    const CPortInfo& p = Port(row);
    const std::string device = p.m_pComm->DeviceName();
    WriteMessageBoxLogLine({this, LoadResString(IDS_COM_OPEN_ERROR), LoadResString(IDS_APP_TITLE),
                            MB_ICONSTOP, PortFailureDetail(p.m_strName, device, "the device has gone away")});
}

void CSkiffaDlg::UpdatePortList()
{
    for (size_t i = 0; i < m_aPort.size(); ++i) {
        const int row = static_cast<int>(i);
        m_listPort.SetItemText(row, 2, LineStateText(m_aPort[i].m_nState));
        m_listPort.SetItemText(row, 3, m_aPort[i].m_strAddress);
    }
}

CSerialPort* CSkiffaDlg::CreatePort(int row)
{
    const size_t i = static_cast<size_t>(row);
    if (m_openPorts.size() <= i)
        m_openPorts.resize(i + 1);
    m_openPorts[i] = std::make_unique<CSerialPort>();
    m_aPort[i].m_pComm = m_openPorts[i].get();
    return m_aPort[i].m_pComm;
}

void CSkiffaDlg::ReleasePort(int row)
{
    const size_t i = static_cast<size_t>(row);
    if (i < m_aPort.size()) {
        CPortInfo& p = m_aPort[i];
        p.m_pComm = nullptr;
        // A caller held back for this port's queue waits no more.
        if (p.m_bReadHeld)
            PostMessage(WM_COMROOM, i, 0);
    }
    if (i >= m_openPorts.size() || !m_openPorts[i])
        return;
    m_openPorts[i]->Close();
    m_openPorts[i].reset();
}

void CSkiffaDlg::ReleaseAllPorts()
{
    for (size_t i = 0; i < m_openPorts.size(); ++i)
        ReleasePort(static_cast<int>(i));
    m_openPorts.clear();
}

void CSkiffaDlg::ClosePorts()
{
    for (size_t i = 0; i < m_aPort.size(); ++i) {
        CPortInfo& p = m_aPort[i];
        if (CSerialPort* port = p.m_pComm) {
            port->DropDtrForClose();
            Sleep(PORT_CLOSE_PAUSE_MS);
            ReleasePort(static_cast<int>(i));
        }
        if (p.HasCaller()) {
            m_mapSocket.erase(p.m_sock);
            CloseCallerSocket(p.m_sock);
            p.m_sock = INVALID_SOCKET;
            p.m_strAddress.clear();
        }
    }
}
