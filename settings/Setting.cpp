// The general settings dialog: opening, the exchange of its fields, its
// keyboard rule, OK with its question, and the log-folder controls.
#include "settings/Setting.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "platform/windows/folderpicker.h"
#include "platform/windows/msgbox.h"
#include "resources/ResString.h"
#include "resources/dialogs.h"
#include "resources/resource.h"
#include "serial/SerialPort.h"
#include "settings/UserCount.h"

namespace {

constexpr int TELNET_PORT = 23;
const char* const kTelnet = "telnet";

// The TCP port the box's text names: 23 for exactly "telnet", else the
// number at the text's start as atoi reads it (0 when there is none), held
// to the int range instead of overflowing.
int PortFromText(const std::string& text)
{
    if (text == kTelnet)
        return TELNET_PORT;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

}  // namespace

CSetting::CSetting(CDialogEx* pParent) : CDialogEx(FindDialogTemplate(IDD_SETTING), pParent)
{
    BuildMessageMap();
}

CSetting::~CSetting() = default;

void CSetting::BuildMessageMap()
{
    OnControl(BN_CLICKED, IDC_POOL_ADD, [this] { OnBnClickedAdd(); });
    OnControl(BN_CLICKED, IDC_POOL_DELETE, [this] { OnBnClickedDelete(); });
    OnControl(BN_CLICKED, IDC_POOL_UP, [this] { OnBnClickedUp(); });
    OnControl(BN_CLICKED, IDC_POOL_DOWN, [this] { OnBnClickedDown(); });
    OnControl(BN_CLICKED, IDC_POOL_SETTING, [this] { OnBnClickedPortSetting(); });
    OnControl(BN_CLICKED, IDOK, [this] { OnBnClickedOk(); });
    OnControl(LBN_SELCHANGE, IDC_FREE_PORTS, [this] { OnLbnSelchangeList(); });
    OnControl(LBN_SELCHANGE, IDC_USE_PORTS, [this] { OnLbnSelchangeList(); });
    OnControl(BN_CLICKED, IDC_LOG, [this] { OnBnClickedLogCheck(); });
    OnControl(BN_CLICKED, IDC_BROWSE, [this] { OnBnClickedBrowse(); });
}

void CSetting::DoDataExchange(CDataExchange* pDX)
{
    CDialogEx::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_POOL_ADD, m_btnAdd);
    DDX_Control(pDX, IDC_POOL_DELETE, m_btnDelete);
    DDX_Control(pDX, IDC_POOL_DOWN, m_btnDown);
    DDX_Control(pDX, IDC_POOL_SETTING, m_btnPortSetting);
    DDX_Control(pDX, IDC_POOL_UP, m_btnUp);
    DDX_Control(pDX, IDC_CHECK1, m_editCheck1);
    DDX_Control(pDX, IDC_AFTER, m_editAfter);
    // The port box comes before every field that can be refused, so its text
    // is always taken.
    DDX_CBString(pDX, IDC_TCP_PORT, m_strPort);
    DDX_Text(pDX, IDC_NOCOMM_TIME, m_nNoCommTime);
    DDX_Text(pDX, IDC_LIMIT_TIME, m_nLimitTime);
    DDX_Text(pDX, IDC_CHECK1, m_strCheck[0]);
    DDV_MaxChars(pDX, m_strCheck[0], HANGUP_TEXT_LIMIT);
    DDX_Text(pDX, IDC_AFTER, m_strAfter);
    DDX_Text(pDX, IDC_FULL, m_strFull);
    DDX_Text(pDX, IDC_KEEP_TIME, m_nKeepTime);
    DDX_Control(pDX, IDC_FREE_PORTS, m_listFreePort);
    DDX_Control(pDX, IDC_USE_PORTS, m_listUsePort);
    DDX_Control(pDX, IDC_POOL_INFO, m_staticPortInfo);
    DDX_Check(pDX, IDC_TRAY, m_bTray);
    DDX_Text(pDX, IDC_CHECK2, m_strCheck[1]);
    DDV_MaxChars(pDX, m_strCheck[1], HANGUP_TEXT_LIMIT);
    DDX_Control(pDX, IDC_CHECK2, m_editCheck2);
    DDX_Control(pDX, IDC_FULL, m_editFull);
    DDX_Control(pDX, IDC_LOG_DIR, m_editLogDir);
    DDX_Text(pDX, IDC_LOG_DIR, m_strLogDir);
    DDX_Check(pDX, IDC_LOG, m_bLog);
    DDX_Check(pDX, IDC_DEBUG_LOG, m_bDebugLog);
}

BOOL CSetting::OnInitDialog()
{
    CDialogEx::OnInitDialog();
    m_strPort = m_nPort == TELNET_PORT ? kTelnet : std::to_string(m_nPort);
    std::vector<std::string> present;
    CSerialPort::EnumComPorts(present);
    m_bChanged = false;
    FillFreePorts(present);
    m_listUsePort.ResetContent();
    for (const CPortInfo& port : m_aUsePort)
        m_listUsePort.AddString(port.m_strName);  // listed whether present or not
    m_editLogDir.EnableWindow(m_bLog != 0);
    UpdateData(FALSE);
    return TRUE;
}

// The ports that can be opened now and are not in the pool, each with the
// settings a new port gets; the list and the vector stay parallel.
void CSetting::FillFreePorts(const std::vector<std::string>& present)
{
    m_aFreePort.clear();
    m_listFreePort.ResetContent();
    for (const std::string& name : present) {
        if (IsUsedPort(name))
            continue;
        m_listFreePort.AddString(name);
        m_aFreePort.push_back(CPortInfo::FromNewPortDefaults(name));
    }
}

bool CSetting::MultiLineEditHasFocus() const
{
    const QWidget* focus = GetFocus();
    return focus != nullptr && (focus == m_editCheck1.GetWidget() || focus == m_editCheck2.GetWidget() ||
                                focus == m_editAfter.GetWidget() || focus == m_editFull.GetWidget());
}

// Enter and Esc do nothing, so neither ends the dialog by accident, except
// in the four multi-line edits, which take them as every dialog does.
BOOL CSetting::PreTranslateMessage(MSG* pMsg)
{
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_RETURN || pMsg->wParam == VK_ESCAPE) &&
        !MultiLineEditHasFocus())
        return TRUE;
    return CDialogEx::PreTranslateMessage(pMsg);
}

void CSetting::OnBnClickedOk()
{
    // A changed pool reopens every line and so cuts every call: ask first.
    const LRESULT users = SendMessageA(GetParent(), WM_GETUSERCOUNT, 0, 0);
    if (m_bChanged && users > 0 &&
        MessageBox(LoadResString(IDS_CONFIRM_CHANGE), LoadResString(IDS_APP_TITLE),
                   MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    UpdateData(TRUE);  // a refused field is shown again by the framework's OK below
    m_nPort = PortFromText(m_strPort);
    CDialogEx::OnOK();
}

void CSetting::OnBnClickedLogCheck()
{
    UpdateData(TRUE);  // a refused field has said so; the folder follows the flag as taken
    m_editLogDir.EnableWindow(m_bLog != 0);
}

void CSetting::OnBnClickedBrowse()
{
    std::string path;
    if (!BrowseForFolder(this, LoadResString(IDS_SELECT_LOG_DIR), path))
        return;
    m_strLogDir = path;
    UpdateData(FALSE);
}

bool CSetting::BrowseForFolder(HWND owner, const std::string& title, std::string& path)
{
    // The chooser starts at the top of the file system and offers folders only.
    return PickFolder(owner, title, "/", path);
}
