// The settings dialogs seen from the main window: filling them, and applying
// and storing what comes back after OK.
#include "platform/system/system.h"
#include "platform/sockets/winsock.h"
#include "settings/PortSetting.h"
#include "settings/Setting.h"
#include "maindlg/SkiffaDlg.h"

// What both dialogs ask before an OK that would cut calls.
LRESULT CSkiffaDlg::OnGetUserCount(WPARAM, LPARAM)
{
    return ConnectedUserCount();
}

// The general settings dialog, filled from the main dialog's settings. After
// OK the times, texts and options are taken back at once; the lines are
// reopened when the pool changed or the debug option came back different,
// the listener is replaced when the TCP port differs, and everything is
// saved. Cancel changes nothing.
void CSkiffaDlg::OnSetting()
{
    CSetting dlg(this);
    dlg.m_nNoCommTime = m_nNoCommTime;
    dlg.m_nLimitTime = m_nLimitTime;
    dlg.m_strCheck[0] = HangUpString(m_szCheck1);
    dlg.m_strCheck[1] = HangUpString(m_szCheck2);
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
    TakeBackGeneralSettings(dlg);
    if (dlg.m_bChanged || dlg.m_bDebugLog != m_bDebugLog) {
        m_bDebugLog = dlg.m_bDebugLog;
        ClosePorts();
        Sleep(PORT_CLOSE_PAUSE_MS);
        dlg.GetPorts(m_aPort);
        SetupPorts();
    }
    if (dlg.m_nPort != m_nPort) {
        (void)ws::closesocket(m_sockListen);
        m_sockListen = INVALID_SOCKET;
        m_nPort = dlg.m_nPort;
        StartListen();
    }
    SaveSettings();
}

// The values that take effect without cutting a call: calls in progress go
// on with the counters and match positions they have reached.
void CSkiffaDlg::TakeBackGeneralSettings(const CSetting& dlg)
{
    m_nNoCommTime = dlg.m_nNoCommTime;
    m_nNoCommCount = SecondsToTicks(m_nNoCommTime);
    m_nLimitTime = dlg.m_nLimitTime;
    m_nLimitCount = SecondsToTicks(m_nLimitTime);
    CopyHangUpString(m_szCheck1, dlg.m_strCheck[0]);
    CopyHangUpString(m_szCheck2, dlg.m_strCheck[1]);
    m_strAfter = dlg.m_strAfter;
    m_strFull = dlg.m_strFull;
    m_nKeepTime = dlg.m_nKeepTime;
    m_bTray = dlg.m_bTray;
    m_bLog = dlg.m_bLog;
    m_strLogDir = dlg.m_strLogDir;
    StartTickIfNeeded();  // a limit set now applies to the calls running
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
    dlg.LoadFrom(Port(row));
    dlg.m_strPortName = m_listPort.GetItemText(row, 0);
    dlg.m_bConfirm = true;
    if (dlg.DoModal() != IDOK)
        return;
    // The records are not added or removed while the dialog is open.
    dlg.StoreInto(Port(row));
    ClosePorts();
    Sleep(PORT_CLOSE_PAUSE_MS);
    SetupPorts();
    SaveSettings();
}
