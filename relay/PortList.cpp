// Line setup and the port list: opening a serial port per line, the list's
// rows, and closing every line for a settings change.
#include <cstdio>

#include "platform/comm.h"
#include "platform/cp932.h"
#include "platform/msgbox.h"
#include "platform/system.h"
#include "platform/winsock.h"
#include "resources/resource.h"
#include "serial/DebugLog.h"
#include "serial/SerialPort.h"
#include "ui/ResString.h"
#include "ui/SkiffaDlg.h"

namespace {

// A text of the string table picked by a setting's value, or the bare number
// when the value lies outside the texts the table has for it.
std::string OptionText(unsigned firstId, int value, int lowest, int highest)
{
    if (value < lowest || value > highest)
        return std::to_string(value);
    return LoadResString(firstId + static_cast<unsigned>(value));
}

const char* ParityLetter(int parity)
{
    switch (parity) {
    case 0: return "N";
    case 1: return "O";
    case 2: return "E";
    default: return "?";
    }
}

// What the system said of a port that did not open, for the journal: the
// port, the device it resolved to and the reason.
std::string OpenFailureDetail(const std::string& name)
{
    const CommOpenFailure failure = GetLastCommOpenFailure();
    std::string detail = cp932::ToUtf8(name);
    if (!failure.device.empty())
        detail += " (" + failure.device + ")";
    return detail + ": " + (failure.reason.empty() ? "the port could not be set up" : failure.reason);
}

}  // namespace

std::string PortSettingsSummary(const CPortInfo& port)
{
    std::string ring = LoadResString(IDS_RING_NONE);
    if (port.m_nRing != 0) {
        char buf[128];
        std::snprintf(buf, sizeof buf, "%s(%dms)", OptionText(IDS_RING_NONE, port.m_nRing, 1, 3).c_str(),
                      port.m_nRingInterval);
        ring = buf;
    }
    const std::string connect = OptionText(IDS_CONNECT_FIRST, port.m_nConnect, 0, 2);
    const std::string dsr = LoadResString(port.m_bDsr == 0 ? IDS_DSR_KEEP : IDS_DSR_CUT);
    char buf[512];
    std::snprintf(buf, sizeof buf, "%dbps,%d%d%s,Ring%s,Connect %s(%dms),DSR OFF %s", port.m_nSpeed, port.m_nData,
                  port.m_nStop, ParityLetter(port.m_nParity), ring.c_str(), connect.c_str(),
                  port.m_nConnectInterval, dsr.c_str());
    return buf;
}

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
        if (m_aPort[i].m_pComm != nullptr) {
            m_aPort[i].m_pComm->Close();
            delete m_aPort[i].m_pComm;
            m_aPort[i].m_pComm = nullptr;
        }
        auto* port = new CSerialPort();
        m_aPort[i].m_pComm = port;
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
            port->m_bDebugLog = m_bDebugLog;
        } else {
            delete port;
            m_aPort[i].m_pComm = nullptr;
            m_aPort[i].m_nState = LINE_OPEN_ERROR;
            MessageBox(LoadResString(IDS_COM_OPEN_ERROR), LoadResString(IDS_APP_TITLE), MB_ICONSTOP,
                       OpenFailureDetail(m_aPort[i].m_strName));
        }
        m_listPort.SetItemText(row, 2, LineStateText(m_aPort[i].m_nState));
    }
    m_btnComPort.EnableWindow(m_listPort.GetNextItem(-1, LVNI_SELECTED) != -1);
}

// A line whose device went away (its reader ended on a hang-up or an I/O
// error) is out of the pool, as if it had failed to open, until the lines are
// next opened; true when the row was taken out.
bool CSkiffaDlg::RetireLineIfDeviceGone(int row)
{
    CPortInfo& p = m_aPort[static_cast<size_t>(row)];
    if (p.m_pComm == nullptr || !p.m_pComm->DeviceGone())
        return false;
    p.m_pComm->Close();
    delete p.m_pComm;
    p.m_pComm = nullptr;
    p.m_nState = LINE_OPEN_ERROR;
    return true;
}

void CSkiffaDlg::UpdatePortList()
{
    for (size_t i = 0; i < m_aPort.size(); ++i) {
        const int row = static_cast<int>(i);
        m_listPort.SetItemText(row, 2, LineStateText(m_aPort[i].m_nState));
        m_listPort.SetItemText(row, 3, m_aPort[i].m_strAddress);
    }
}

void CSkiffaDlg::ClosePorts()
{
    for (CPortInfo& p : m_aPort) {
        if (CSerialPort* port = p.m_pComm) {
            if (port->m_hComm != INVALID_HANDLE_VALUE) {
                EscapeCommFunction(port->m_hComm, CLRDTR);
                if (port->m_bDebugLog)
                    WriteDebugLog("DTR", "OFF", 3);
            }
            Sleep(500);
            port->Close();
            delete port;
            p.m_pComm = nullptr;
        }
        if (p.HasCaller()) {
            m_mapSocket.erase(p.m_sock);
            CloseCallerSocket(p.m_sock);
            p.m_sock = INVALID_SOCKET;
            p.m_strAddress.clear();
        }
    }
}
