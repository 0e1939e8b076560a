// The main dialog's window: the tray icon, living in the tray and coming back
// from it, the keyboard rule, the COM-port button that follows the list's
// selection, and the icon painted while the window is minimised.
#include "platform/windows/msgbox.h"
#include "platform/windows/paint.h"
#include "platform/system/system.h"
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
        // The icon may be there already (a tray host started anew).
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

// Raises the window and gives it the keyboard. (X11 has no per-thread input
// queues to attach: the window manager decides on the focus by itself.)
void CSkiffaDlg::BringToForeground()
{
    SetForegroundWindow();
}

// Back from the tray: the window may be shown again, the icon goes.
void CSkiffaDlg::OnShowStatus()
{
    m_bShowWindow = true;
    NOTIFYICONDATAA nid{};
    nid.cbSize = NOTIFYICONDATAA_SIZE;
    nid.hWnd = this;
    nid.uID = 0;
    nid.uFlags = 0;
    Shell_NotifyIconA(NIM_DELETE, &nid);  // there may be no icon
    ShowWindow(SW_RESTORE);
    BringToForeground();
}

// A click on the tray icon: the left button brings the window back, the right
// one opens the tray menu. Everything else is ignored.
LRESULT CSkiffaDlg::OnTrayNotify(WPARAM /*wParam*/, LPARAM lParam)
{
    if (lParam == WM_LBUTTONUP) {
        BringToForeground();
        OnShowStatus();
    } else if (lParam == WM_RBUTTONUP) {
        ShowPopupMenu(IDR_TRAY_MENU, true);
    }
    return 1;
}

// While the window lives in the tray, nothing may show it.
void CSkiffaDlg::OnWindowPosChanging(WINDOWPOS* pos)
{
    if (!m_bShowWindow && pos != nullptr)
        pos->flags &= ~SWP_SHOWWINDOW;
    DefWindowProc(WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(pos));
}

// Minimising puts the window into the tray; if the icon cannot be added the
// window stays shown (AddTrayIcon has restored it).
void CSkiffaDlg::OnSize(UINT type, int cx, int cy)
{
    DefWindowProc(WM_SIZE, type, MAKELPARAM(static_cast<WORD>(cx), static_cast<WORD>(cy)));
    if (type != SIZE_MINIMIZED)
        return;
    m_bShowWindow = false;
    AddTrayIcon();
    if (!m_bShowWindow)
        ShowWindow(SW_HIDE);
}

void CSkiffaDlg::OnPaint()
{
    if (!IsIconic()) {
        CDialogEx::OnPaint();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    const int x = (width() - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (height() - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc.GetSafeHdc(), x, y, m_hIcon);
}

HICON CSkiffaDlg::OnQueryDragIcon()
{
    return m_hIcon;
}
