// The settings dialogs seen from the main window: filling them, and applying
// and storing what comes back after OK.
#include "platform/system.h"
#include "settings/PortSetting.h"
#include "maindlg/SkiffaDlg.h"

// What both dialogs ask before an OK that would cut calls.
LRESULT CSkiffaDlg::OnGetUserCount(WPARAM, LPARAM)
{
    return ConnectedUserCount();
}

// Opens the dialog for the first selected row. After OK its nine values go
// into that row's record and every line is reopened with them, whether or
// not a value changed; then everything is saved.
void CSkiffaDlg::OnBnClickedComPort()
{
    const int row = m_listPort.GetNextItem(-1, LVNI_SELECTED);
    if (row < 0 || static_cast<size_t>(row) >= m_aPort.size())
        return;
    CPortSetting dlg(this);
    const CPortInfo& port = m_aPort[static_cast<size_t>(row)];
    dlg.m_nSpeed = port.m_nSpeed;
    dlg.m_nData = port.m_nData;
    dlg.m_nStop = port.m_nStop;
    dlg.m_nParity = port.m_nParity;
    dlg.m_nRing = port.m_nRing;
    dlg.m_nConnect = port.m_nConnect;
    dlg.m_nRingInterval = port.m_nRingInterval;
    dlg.m_nConnectInterval = port.m_nConnectInterval;
    dlg.m_bDsr = port.m_bDsr;
    dlg.m_strPortName = m_listPort.GetItemText(row, 0);
    dlg.m_bConfirm = true;
    if (dlg.DoModal() != IDOK)
        return;
    // The records are not added or removed while the dialog is open.
    CPortInfo& edited = m_aPort[static_cast<size_t>(row)];
    edited.m_nSpeed = dlg.m_nSpeed;
    edited.m_nData = dlg.m_nData;
    edited.m_nStop = dlg.m_nStop;
    edited.m_nParity = dlg.m_nParity;
    edited.m_nRing = dlg.m_nRing;
    edited.m_nConnect = dlg.m_nConnect;
    edited.m_nConnectInterval = dlg.m_nConnectInterval;
    edited.m_nRingInterval = dlg.m_nRingInterval;
    edited.m_bDsr = dlg.m_bDsr;
    ClosePorts();
    Sleep(PORT_CLOSE_PAUSE_MS);
    SetupPorts();
    SaveSettings();
}
