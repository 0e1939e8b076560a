// The main dialog's pop-up menus, the commands that stand for its buttons,
// and the help file.
#include "platform/windows/help.h"
#include "platform/windows/menu.h"
#include "resources/menus.h"
#include "resources/resource.h"
#include "maindlg/SkiffaDlg.h"

// Opens the first pop-up of the menu resource at the cursor, owned by this
// window: the item chosen arrives as WM_COMMAND. A menu opened from the tray
// brings the window forward first, or it would not close when the user
// clicks elsewhere.
void CSkiffaDlg::ShowPopupMenu(unsigned menuId, bool bringForward)
{
    CMenu menu;
    menu.LoadMenu(FindMenuTemplate(menuId));
    CMenu* popup = menu.GetSubMenu(0);
    POINT pt{0, 0};
    if (!GetCursorPos(&pt))
        pt = {0, 0};
    if (bringForward)
        BringToForeground();
    if (popup != nullptr)
        popup->TrackPopupMenu(TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, pt.x, pt.y, this);
    menu.DestroyMenu();
}

// The list's menu acts on the first selected row, so it opens only when a row
// is selected, wherever the click was.
LRESULT CSkiffaDlg::OnNMRClickPortList(NMHDR* /*pNMHDR*/)
{
    if (m_listPort.GetNextItem(-1, LVNI_SELECTED) != -1)
        ShowPopupMenu(IDR_LIST_MENU, false);
    return 0;
}

void CSkiffaDlg::OnComPortSetting()
{
    OnBnClickedComPort();
}

void CSkiffaDlg::OnBnClickedSetting()
{
    OnSetting();
}

// F1 anywhere in the window opens the help file beside the executable at its
// default topic.
BOOL CSkiffaDlg::OnHelpInfo()
{
    HtmlHelpA(nullptr, m_strExeDir + "/Korvo.chm", HH_DISPLAY_TOPIC, 0);
    return TRUE;
}
