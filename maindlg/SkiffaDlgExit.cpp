// The ways the program is ended: the Exit button, the system close command
// and the tray menu's exit, each with its question. A program a service host
// started is never asked about: its Exit button does nothing, the other two
// end it at once.
#include "platform/windows/msgbox.h"
#include "resources/resource.h"
#include "resources/ResString.h"
#include "maindlg/SkiffaDlg.h"

// Asks the question with this string id; true only for Yes.
bool CSkiffaDlg::AskToExit(unsigned questionId)
{
    const std::string caption = LoadResString(IDS_APP_TITLE);
    return MessageBox(LoadResString(questionId), caption, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

namespace {

// The question for the callers connected now.
unsigned ExitQuestion(int connectedUsers)
{
    return connectedUsers == 0 ? IDS_CONFIRM_EXIT : IDS_CONFIRM_EXIT_CONNECTED;
}

}  // namespace

void CSkiffaDlg::OnBnClickedExit()
{
    if (m_bServiceMode)
        return;
    if (AskToExit(ExitQuestion(ConnectedUserCount())))
        CDialogEx::OnCancel();
}

// The close command asks as the Exit button does; only Yes lets it through to
// the default handling, which closes the window. Only the plain SC_CLOSE is
// asked about.
void CSkiffaDlg::OnSysCommand(UINT nID, LPARAM lParam)
{
    if (nID == SC_CLOSE && !m_bServiceMode && !AskToExit(ExitQuestion(ConnectedUserCount())))
        return;
    DefWindowProc(WM_SYSCOMMAND, nID, lParam);
}

// The tray's exit asks only while callers are connected.
void CSkiffaDlg::OnTrayExit()
{
    const int users = ConnectedUserCount();
    if (users > 0 && !m_bServiceMode && !AskToExit(IDS_CONFIRM_EXIT_CONNECTED))
        return;
    CDialogEx::OnCancel();
}
