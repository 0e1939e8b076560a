// Application start-up.
#include "app/SkiffaApp.h"

#include "platform/windows/msgbox.h"
#include "platform/windows/signals.h"
#include "platform/sockets/winsock.h"
#include "resources/resource.h"
#include "resources/ResString.h"
#include "maindlg/SkiffaDlg.h"

CSkiffaApp theApp;

namespace {

// Starts sockets asking for version 1.1; anything else granted is a failure.
bool AfxSocketInit()
{
    ws::WSADATA data{};
    return ws::WSAStartup(ws::WINSOCK_VERSION, &data) == 0 && data.wVersion == ws::WINSOCK_VERSION;
}

}  // namespace

BOOL CSkiffaApp::InitInstance()
{
    if (!AfxSocketInit()) {
        AfxMessageBox(LoadResString(IDS_SOCKET_INIT_FAILED), MB_OK);
        return FALSE;
    }
    CSkiffaDlg dlg;
    // A close request from outside (SIGTERM, SIGINT, SIGHUP) ends the dialog
    // as WM_CLOSE does: without a question.
    PostMessageOnTerminationSignals(&dlg, WM_CLOSE);
    // The toolkit ends the process by itself when the display goes away:
    // the lines drop DTR then too.
    const ForcedExitHook releaseLines([&dlg] { dlg.EndAtForcedExit(); });
    dlg.DoModal();
    return FALSE;
}
