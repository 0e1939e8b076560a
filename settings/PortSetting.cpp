// The COM port settings dialog: the exchange of its fields, the enabling of
// the two interval edits, and the confirmation at OK.
#include "settings/PortSetting.h"

#include <iterator>

#include "platform/windows/msgbox.h"
#include "resources/dialogs.h"
#include "resources/resource.h"
#include "settings/UserCount.h"
#include "resources/ResString.h"

const int g_BaudRates[6] = {9600, 19200, 38400, 57600, 115200, -1};

namespace {

// What the dialog holds before a record's settings are loaded into it.
constexpr CLineSettings kUnloadedSettings{
    .m_nParity = NOPARITY, .m_nRingInterval = 500, .m_nConnectInterval = 0, .m_bDsr = FALSE};

}  // namespace

CPortSetting::CPortSetting(CDialogEx* pParent)
    : CDialogEx(FindDialogTemplate(IDD_PORT_SETTING), pParent), CLineSettings(kUnloadedSettings)
{
    BuildMessageMap();
}

CPortSetting::~CPortSetting() = default;

void CPortSetting::BuildMessageMap()
{
    OnControl(BN_CLICKED, IDOK, [this] { OnBnClickedOk(); });
    OnControl(CBN_SELCHANGE, IDC_RING, [this] { OnCbnSelchangeCombo(); });
    OnControl(CBN_SELCHANGE, IDC_CONNECT, [this] { OnCbnSelchangeCombo(); });
}

void CPortSetting::DoDataExchange(CDataExchange* pDX)
{
    CDialogEx::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_RING_INTERVAL, m_nRingInterval);
    DDV_MinMaxInt(pDX, m_nRingInterval, 0, 10000);
    DDX_CBIndex(pDX, IDC_CONNECT, m_nConnect);
    DDX_CBIndex(pDX, IDC_PARITY, m_nParity);
    DDX_CBIndex(pDX, IDC_RING, m_nRing);
    DDX_CBIndex(pDX, IDC_SPEED, m_nSpeedIndex);
    DDX_CBIndex(pDX, IDC_STOP, m_nStopIndex);
    DDX_CBIndex(pDX, IDC_DATA, m_nDataIndex);
    DDX_Check(pDX, IDC_DSR, m_bDsr);
    DDX_Text(pDX, IDC_CONNECT_INTERVAL, m_nConnectInterval);
    DDV_MinMaxInt(pDX, m_nConnectInterval, 0, 10000);
    DDX_Control(pDX, IDC_RING_INTERVAL, m_editRingInterval);
    DDX_Control(pDX, IDC_CONNECT_INTERVAL, m_editConnectInterval);
}

BOOL CPortSetting::OnInitDialog()
{
    CDialogEx::OnInitDialog();
    SetWindowText(m_strPortName + " " + LoadResString(IDS_SETTING_SUFFIX));
    // A speed the table lacks keeps the constructor's index (38400bps).
    for (int i = 0; g_BaudRates[i] != -1; ++i) {
        if (g_BaudRates[i] == m_nSpeed) {
            m_nSpeedIndex = i;
            break;
        }
    }
    m_nDataIndex = m_nData == 8 ? 0 : 1;
    m_nStopIndex = m_nStop == 1 ? 0 : 1;
    UpdateData(FALSE);
    EnableIntervalEdits();
    return TRUE;
}

// The CONNECT wait counts only in mode 1 (after the host's ATA); the RING
// interval only when at least one RING is sent.
void CPortSetting::EnableIntervalEdits()
{
    m_editConnectInterval.EnableWindow(m_nConnect == 1);
    m_editRingInterval.EnableWindow(m_nRing != 0);
}

void CPortSetting::OnCbnSelchangeCombo()
{
    UpdateData(TRUE);  // a rejected field has said so; the rules use what was taken
    EnableIntervalEdits();
}

void CPortSetting::OnBnClickedOk()
{
    UpdateData(TRUE);  // a rejection here is shown again by the framework's OK below
    if (m_bConfirm && SendMessageA(GetParent(), WM_GETUSERCOUNT, 0, 0) > 0 &&
        MessageBox(LoadResString(IDS_CONFIRM_CHANGE), LoadResString(IDS_APP_TITLE),
                   MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    // The speed combo always holds one of the table's items.
    if (m_nSpeedIndex >= 0 && m_nSpeedIndex < static_cast<int>(std::size(g_BaudRates)) - 1)
        m_nSpeed = g_BaudRates[m_nSpeedIndex];
    m_nData = m_nDataIndex != 0 ? 7 : 8;
    m_nStop = m_nStopIndex != 0 ? 2 : 1;
    CDialogEx::OnOK();
}

void CPortSetting::LoadFrom(const CLineSettings& line)
{
    LineSettings() = line;
}

void CPortSetting::StoreInto(CLineSettings& line) const
{
    line = LineSettings();
}
