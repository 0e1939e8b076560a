// The main dialog's lifecycle: construction, the message map, start-up of the
// relay in its fixed order, and the end that drops every line.
#include "maindlg/SkiffaDlg.h"

#include "platform/base/module.h"
#include "platform/system/process.h"
#include "platform/system/profile.h"
#include "platform/system/system.h"
#include "platform/sockets/winsock.h"
#include "resources/dialogs.h"
#include "resources/icon.h"
#include "resources/resource.h"
#include "serial/SerialPort.h"
#include "resources/ResString.h"
#include "maindlg/Startup.h"

CSkiffaDlg::CSkiffaDlg() : CDialogEx(FindDialogTemplate(IDD_MAIN_DIALOG)), m_callerOutput(CallerSockets())
{
    m_hIcon = &ApplicationIcon();
    BuildMessageMap();
}

// The sockets outlive the window (they end with the process); their
// notifications must not.
CSkiffaDlg::~CSkiffaDlg()
{
    ws::ForgetWindow(this);
}

// The message map, in the order its entries are tried.
void CSkiffaDlg::BuildMessageMap()
{
    OnMessage(WM_PAINT, [this](WPARAM, LPARAM) {
        OnPaint();
        return LRESULT(0);
    });
    OnMessage(WM_QUERYDRAGICON,
              [this](WPARAM, LPARAM) { return reinterpret_cast<LRESULT>(OnQueryDragIcon()); });
    OnMessage(WM_SOCKET_NOTIFY, [this](WPARAM w, LPARAM l) { return OnSocketNotify(w, l); });
    OnMessage(WM_TRAY_NOTIFY, [this](WPARAM w, LPARAM l) { return OnTrayNotify(w, l); });
    OnMessage(WM_COMDATA, [this](WPARAM w, LPARAM l) { return OnComData(w, l); });
    OnMessage(WM_COMGONE, [this](WPARAM w, LPARAM l) { return OnComGone(w, l); });
    OnMessage(WM_COMROOM, [this](WPARAM w, LPARAM l) { return OnComRoom(w, l); });
    OnMessage(WM_GETUSERCOUNT, [this](WPARAM w, LPARAM l) { return OnGetUserCount(w, l); });
    OnMessage(WM_SIZE, [this](WPARAM w, LPARAM l) {
        OnSize(static_cast<UINT>(w), LOWORD(l), HIWORD(l));
        return LRESULT(0);
    });
    OnMessage(WM_TIMER, [this](WPARAM w, LPARAM) {
        OnTimer(static_cast<UINT>(w));
        return LRESULT(0);
    });
    OnCommand(ID_SETTING, [this] { OnSetting(); });
    OnCommand(ID_TRAY_EXIT, [this] { OnTrayExit(); });
    OnCommand(ID_TRAY_SHOW, [this] { OnShowStatus(); });
    OnMessage(WM_SYSCOMMAND, [this](WPARAM w, LPARAM l) {
        OnSysCommand(static_cast<UINT>(w), l);
        return LRESULT(0);
    });
    OnMessage(WM_WINDOWPOSCHANGING, [this](WPARAM, LPARAM l) {
        OnWindowPosChanging(reinterpret_cast<WINDOWPOS*>(l));
        return LRESULT(0);
    });
    OnControl(BN_CLICKED, IDC_EXIT, [this] { OnBnClickedExit(); });
    OnControl(BN_CLICKED, IDC_SETTING, [this] { OnBnClickedSetting(); });
    OnControl(BN_CLICKED, IDC_COMPORT, [this] { OnBnClickedComPort(); });
    OnNotify(LVN_ITEMCHANGED, IDC_PORT_LIST, [this](NMHDR* hdr) { return OnLvnItemchangedPortList(hdr); });
    OnNotify(NM_RCLICK, IDC_PORT_LIST, [this](NMHDR* hdr) { return OnNMRClickPortList(hdr); });
    OnCommand(ID_COMPORT_SETTING, [this] { OnComPortSetting(); });
    OnMessage(WM_HELP, [this](WPARAM, LPARAM) { return LRESULT(OnHelpInfo()); });
}

void CSkiffaDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialogEx::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_PORT_LIST, m_listPort);
    DDX_Control(pDX, IDC_COMPORT, m_btnComPort);
}

BOOL CSkiffaDlg::OnInitDialog()
{
    CDialogEx::OnInitDialog();
    setWindowIcon(*m_hIcon);
    const std::vector<PROCESSENTRY32> snapshot = CreateProcessSnapshot();
    // The system menu's Close item is greyed: no close button, and the window
    // manager's close request is not taken as the close command.
    DisableSystemClose();
    m_bShowWindow = true;
    m_bServiceMode = false;
    m_bServiceMode = IsServiceHostParent(snapshot, GetCurrentProcessId());

    m_listPort.SetExtendedStyle(m_listPort.GetExtendedStyle() | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    SetupColumns();

    m_strExeDir = GetDirectoryPart(GetModuleFileNameA());
    m_strIniFile = m_strExeDir + "/korvo.ini";
    LoadSettings();
    StartListen();
    SetupPorts();
    m_nTaskbarCreatedMsg = RegisterTaskbarCreatedMessage(this);

    m_bTray = static_cast<int>(GetPrivateProfileIntA("ALL", "TRAY", 0, m_strIniFile));
    if (m_bTray != 0) {
        m_bShowWindow = false;
        AddTrayIcon();
        ShowWindow(SW_HIDE);
    }
    timeBeginPeriod(1);
    StartTickIfNeeded();

    std::string caption = GetWindowText();
    if (caption.size() > 259)
        caption.resize(259);
    SetWindowText(caption + "  " + GetVersionString());
    return TRUE;
}

void CSkiffaDlg::SetupColumns()
{
    RECT rc{};
    m_listPort.GetClientRect(&rc);
    const int w = (rc.right - rc.left) - 2 * GetSystemMetrics(SM_CXEDGE) - GetSystemMetrics(SM_CXVSCROLL);
    const std::array<int, 4> widths = ColumnWidths(w);
    const unsigned titles[4] = {IDS_COLUMN_PORT, IDS_COLUMN_SETTINGS, IDS_COLUMN_STATE, IDS_COLUMN_ADDRESS};
    for (int i = 0; i < 4; ++i)
        m_listPort.InsertColumn(i, LoadResString(titles[i]), LVCFMT_LEFT, widths[static_cast<size_t>(i)]);
}

BOOL CSkiffaDlg::DestroyWindow()
{
    ReleaseAllPorts();
    NOTIFYICONDATAA nid{};
    nid.cbSize = NOTIFYICONDATAA_SIZE;
    nid.hWnd = this;
    nid.uID = 0;
    nid.uFlags = 0;
    Shell_NotifyIconA(NIM_DELETE, &nid);
    timeEndPeriod(1);
    return CDialogEx::DestroyWindow();
}

void CSkiffaDlg::EndAtForcedExit()
{
    ReleaseAllPorts();
}

LRESULT CSkiffaDlg::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    // A tray host started anew knows no icons: add ours again, hidden or not.
    if (m_nTaskbarCreatedMsg != 0 && msg == m_nTaskbarCreatedMsg)
        AddTrayIcon();
    return CDialogEx::WindowProc(msg, wParam, lParam);
}

int CSkiffaDlg::ConnectedUserCount() const
{
    int count = 0;
    for (const CPortInfo& port : m_aPort)
        count += port.HasCaller() ? 1 : 0;
    return count;
}
