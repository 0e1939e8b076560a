// The main dialog on the offscreen platform: what start-up shows, the service-
// hosted mode decided by the real parent process, and the socket start-up
// failure.
#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/system/cp932.h"
#include "platform/base/module.h"
#include "platform/windows/msgbox.h"
#include "platform/system/system.h"
#include "platform/sockets/winsock.h"
#include "support/free_port.h"
#include "resources/resource.h"
#include "resources/ResString.h"
#include "app/SkiffaApp.h"
#include "maindlg/SkiffaDlg.h"
#include "maindlg/Startup.h"
#include "support/scratch_files.h"

namespace fs = std::filesystem;

namespace {

// The listener's section, on a port that is free now.
std::string FreePortLine()
{
    return "[SERVER]\nPORT=" + std::to_string(scratch::FreeTcpPort()) + "\n";
}

// A folder of its own with a pretend executable path inside it.
class ScratchModule {
public:
    ScratchModule() { SetModuleFileNameForTesting(m_dir.File("skiffa")); }
    ~ScratchModule() { SetModuleFileNameForTesting(""); }
    std::string Dir() const { return m_dir.Path().string(); }
    void WriteIni(const std::string& text) const { std::ofstream(m_dir.File("korvo.ini")) << text; }

private:
    scratch::TempDir m_dir{"skiffa-ui-"};
};

// Runs the dialog modally; `inspect` runs once the modal loop is up, then the
// dialog is asked to close as a signal from outside would.
void RunDialog(CSkiffaDlg& dlg, const std::function<void()>& inspect)
{
    QTimer::singleShot(0, [&] {
        inspect();
        dlg.PostMessage(WM_CLOSE, 0, 0);
    });
    dlg.DoModal();
}

std::string Utf8(const char* text)
{
    return cp932::FromUtf8(text);
}

struct BoxLog {
    BoxLog()
    {
        SetMessageBoxHookForTesting([this](const MessageBoxRecord& r) {
            boxes.push_back(r);
            return IDOK;
        });
    }
    ~BoxLog() { SetMessageBoxHookForTesting({}); }
    std::vector<MessageBoxRecord> boxes;
};

}  // namespace

TEST(MainDialog, StartsWithoutConfigurationFile)
{
    ScratchModule module;
    module.WriteIni(FreePortLine());
    fs::remove(module.Dir() + "/korvo.ini");  // no file at all from here on
    BoxLog boxes;
    CSkiffaDlg dlg;
    std::string caption;
    std::vector<std::string> titles;
    std::vector<std::string> buttons;
    bool comPortEnabled = true;
    int rows = -1;
    RunDialog(dlg, [&] {
        caption = dlg.GetWindowText();
        for (int i = 0; i < dlg.m_listPort.GetColumnCount(); ++i)
            titles.push_back(dlg.m_listPort.GetColumnHeading(i));
        for (unsigned id : {IDC_EXIT, IDC_SETTING, IDC_COMPORT})
            buttons.push_back(cp932::FromQString(qobject_cast<QPushButton*>(dlg.GetDlgItem(id))->text()));
        comPortEnabled = dlg.m_btnComPort.IsWindowEnabled();
        rows = dlg.m_listPort.GetItemCount();
    });
    EXPECT_EQ(caption, "Varnex - Skiffa  Version 1.0.0.1");
    EXPECT_EQ(titles,
              (std::vector<std::string>{"COM Port", Utf8("設定"), Utf8("状態"), Utf8("接続元IPアドレス")}));
    EXPECT_EQ(buttons, (std::vector<std::string>{Utf8("終了"), Utf8("設定"), Utf8("COM Port 設定")}));
    EXPECT_FALSE(comPortEnabled) << "no row is selected";
    EXPECT_EQ(rows, 0);
    EXPECT_EQ(dlg.m_nPort, 23) << "defaults apply";
    EXPECT_EQ(dlg.m_nKeepTime, 10);
    EXPECT_EQ(dlg.m_strFull, LoadResString(IDS_FULL_TEXT));
    EXPECT_EQ(dlg.m_strIniFile, module.Dir() + "/korvo.ini");
    EXPECT_EQ(dlg.m_strExeDir, module.Dir());
    EXPECT_FALSE(fs::exists(module.Dir() + "/korvo.ini")) << "start-up writes no configuration";
    EXPECT_FALSE(dlg.m_bServiceMode) << "the test runner is not a service host";
    EXPECT_EQ(TimerPeriodDepthForTesting(), 0) << "the timer resolution is restored at the end";
    // Port 23 may be taken on this machine; then the listener says so, once.
    for (const MessageBoxRecord& box : boxes.boxes)
        EXPECT_EQ(box.text, LoadResString(IDS_LISTEN_FAILED));
}

TEST(MainDialog, ColumnsShareTheListsUsableWidth)
{
    ScratchModule module;
    module.WriteIni(FreePortLine());
    CSkiffaDlg dlg;
    std::vector<int> widths;
    int usable = 0;
    RunDialog(dlg, [&] {
        RECT rc{};
        dlg.m_listPort.GetClientRect(&rc);
        usable = rc.right - rc.left - 2 * GetSystemMetrics(SM_CXEDGE) - GetSystemMetrics(SM_CXVSCROLL);
        for (int i = 0; i < 4; ++i)
            widths.push_back(dlg.m_listPort.GetColumnWidth(i));
    });
    ASSERT_GT(usable, 100) << "the list has a real size";
    const std::array<int, 4> expected = ColumnWidths(usable);
    EXPECT_EQ(widths, std::vector<int>(expected.begin(), expected.end()));
}

TEST(MainDialog, WindowManagersCloseRequestDoesNotEndIt)
{
    ScratchModule module;
    module.WriteIni(FreePortLine());
    CSkiffaDlg dlg;
    bool stillRunning = false;
    RunDialog(dlg, [&] {
        dlg.close();  // the close box, Alt+F4: the Close item is greyed
        QCoreApplication::processEvents();
        stillRunning = dlg.isVisible();
    });
    EXPECT_TRUE(stillRunning);
}

TEST(MainDialog, TrayStartKeepsTheWindowHiddenWhenTheIconIsAdded)
{
    ScratchModule module;
    module.WriteIni(FreePortLine() + "[ALL]\nTRAY=1\n");
    std::vector<DWORD> requests;
    SetTrayShellForTesting([&](DWORD msg, const NOTIFYICONDATAA& d, DWORD&) {
        requests.push_back(msg);
        EXPECT_EQ(d.uID, 0u);
        return TRUE;
    });
    CSkiffaDlg dlg;
    bool visible = true;
    RunDialog(dlg, [&] { visible = dlg.isVisible(); });
    SetTrayShellForTesting({});
    EXPECT_FALSE(visible);
    EXPECT_EQ(dlg.m_bTray, 1);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], NIM_ADD);
    EXPECT_EQ(requests[1], NIM_DELETE) << "the icon goes at the end";
}

TEST(MainDialog, SocketStartFailureShowsOnlyTheApplicationBox)
{
    ScratchModule module;
    BoxLog boxes;
    ws::SetWSAStartupFailureForTesting(ws::WSASYSNOTREADY);
    const BOOL result = theApp.InitInstance();
    ws::SetWSAStartupFailureForTesting(0);
    EXPECT_EQ(result, FALSE);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, Utf8("Windows ソケットの初期化に失敗しました。"));
    EXPECT_EQ(boxes.boxes[0].caption, "skiffa") << "the executable's name without extension";
    EXPECT_EQ(boxes.boxes[0].type & 0xF0, MB_ICONEXCLAMATION);
    EXPECT_EQ(boxes.boxes[0].owner, nullptr);
    EXPECT_FALSE(fs::exists(module.Dir() + "/korvo.ini"));
}

// Runs in a child process started through a real parent; reports the mode the
// dialog decided by its exit status (0 service-hosted, 1 not, 2 failure).
TEST(MainDialog, ChildReportsServiceMode)
{
    if (std::getenv("SKIFFA_SERVICE_MODE_CHILD") == nullptr)
        GTEST_SKIP() << "runs only as the child of ServiceModeFollowsTheParentProcess";
    bool serviceMode = false;
    {
        // Gone before the exit below, which runs no destructors, so the
        // scratch folder goes with it.
        ScratchModule module;
        module.WriteIni(FreePortLine());
        CSkiffaDlg dlg;
        RunDialog(dlg, [] {});
        serviceMode = dlg.m_bServiceMode;
    }
    std::_Exit(serviceMode ? 0 : 1);
}

TEST(MainDialog, ServiceModeFollowsTheParentProcess)
{
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const std::string host = (fs::path(self).parent_path() / "svcsexe").string();
    ASSERT_TRUE(fs::exists(host)) << host;
    auto runChild = [&](bool throughServiceHost) {
        const pid_t pid = fork();
        if (pid == 0) {
            setenv("SKIFFA_SERVICE_MODE_CHILD", "1", 1);
            const char* filter = "--gtest_filter=MainDialog.ChildReportsServiceMode";
            if (throughServiceHost)
                execl(host.c_str(), host.c_str(), self.c_str(), filter, static_cast<char*>(nullptr));
            else
                execl(self.c_str(), self.c_str(), filter, static_cast<char*>(nullptr));
            _exit(2);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 2;
    };
    EXPECT_EQ(runChild(true), 0) << "started by svcsexe: service-hosted";
    EXPECT_EQ(runChild(false), 1) << "started by a test runner: not service-hosted";
}
