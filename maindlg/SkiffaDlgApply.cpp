// Handing the settings to the two settings dialogs and taking back what they
// return.
#include <cstring>

#include "settings/PortSetting.h"
#include "settings/Setting.h"
#include "maindlg/SkiffaDlg.h"

namespace {

// A hang-up string store's text, up to its terminating zero (or its end).
std::string TextOfStore(const char (&store)[CMD_BUFFER_SIZE])
{
    return std::string(store, strnlen(store, sizeof store));
}

}  // namespace

// The general settings dialog, filled from the main dialog's settings.
void CSkiffaDlg::OnSetting()
{
    CSetting dlg(this);
    dlg.m_nNoCommTime = m_nNoCommTime;
    dlg.m_nLimitTime = m_nLimitTime;
    dlg.m_strCheck[0] = TextOfStore(m_szCheck1);
    dlg.m_strCheck[1] = TextOfStore(m_szCheck2);
    dlg.m_strAfter = m_strAfter;
    dlg.m_strFull = m_strFull;
    dlg.m_nKeepTime = m_nKeepTime;
    dlg.m_nPort = m_nPort;
    dlg.SetPorts(m_aPort);
    dlg.m_bTray = m_bTray;
    dlg.m_bLog = m_bLog;
    dlg.m_strLogDir = m_strLogDir;
    dlg.m_bDebugLog = m_bDebugLog;
    if (dlg.DoModal() != IDOK)
        return;
    // Taking the values back and applying them go here. Until they do, OK
    // changes nothing, as Cancel does.
}

// The settings button does what the settings command does.
void CSkiffaDlg::OnBnClickedSetting()
{
    OnSetting();
}

// Opens the dialog for the first selected row; after OK its nine values go
// into that row's record. Reopening the lines with them and saving them are
// not done here yet.
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
}
