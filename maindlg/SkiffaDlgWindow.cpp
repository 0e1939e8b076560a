// The window handling of the main dialog: its tray icon, its keyboard rule
// and the COM-port button that follows the list's selection.
#include "platform/msgbox.h"
#include "platform/system.h"
#include "resources/resource.h"
#include "resources/ResString.h"
#include "maindlg/SkiffaDlg.h"

#include <cstring>

// Adds the icon; while the shell reports a time-out it retries once a second.
// Any other failure says so and shows the window instead.
void CSkiffaDlg::AddTrayIcon()
{
    if (m_bServiceMode)
        return;
    NOTIFYICONDATAA nid{};
    nid.cbSize = NOTIFYICONDATAA_SIZE;
    nid.hWnd = this;
    nid.uID = 0;
    nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    nid.uCallbackMessage = WM_TRAY_NOTIFY;
    nid.hIcon = m_hIcon;
    std::strncpy(nid.szTip, "Skiffa", NOTIFYICON_TIP_CHARS);
    if (Shell_NotifyIconA(NIM_ADD, &nid))
        return;
    for (;;) {
        if (Shell_NotifyIconA(NIM_MODIFY, &nid))
            return;
        if (TrayLastError() != ERROR_TIMEOUT) {
            MessageBox(LoadResString(IDS_TRAY_FAILED), LoadResString(IDS_APP_TITLE), MB_ICONSTOP);
            m_bShowWindow = true;
            ShowWindow(SW_RESTORE);
            return;
        }
        Sleep(1000);
        if (Shell_NotifyIconA(NIM_ADD, &nid))
            return;
    }
}

// Enter and Esc never act on the main window, from the window or any of its
// controls: neither may end the program or press a button.
BOOL CSkiffaDlg::PreTranslateMessage(MSG* pMsg)
{
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_ESCAPE || pMsg->wParam == VK_RETURN))
        return TRUE;
    return CDialogEx::PreTranslateMessage(pMsg);
}

// The COM-port button works on the first selected row: enabled exactly while
// a row is selected.
LRESULT CSkiffaDlg::OnLvnItemchangedPortList(NMHDR* /*pNMHDR*/)
{
    m_btnComPort.EnableWindow(m_listPort.GetNextItem(-1, LVNI_SELECTED) != -1);
    return 0;
}
