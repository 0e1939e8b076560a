// Dialog templates: sizes and positions in dialog units, texts in UTF-8.
#include "resources/dialogs.h"

#include <cstdlib>

#include "platform/base/wintypes.h"
#include "resources/resource.h"

namespace {

const DialogTemplate kMainDialog{
    IDD_MAIN_DIALOG,
    459,
    152,
    "Varnex - Skiffa",
    "MS UI Gothic",
    9,
    TS_SYSMENU | TS_MINIMIZEBOX | TS_APPWINDOW,
    {
        {IDC_PORT_LIST, ControlKind::ListView, "", 7, 7, 445, 113, TS_BORDER | TS_TABSTOP},
        {IDC_EXIT, ControlKind::PushButton, "終了", 392, 130, 60, 14, TS_TABSTOP},
        {IDC_SETTING, ControlKind::PushButton, "設定", 7, 130, 60, 14, TS_TABSTOP},
        {IDC_COMPORT, ControlKind::PushButton, "COM Port 設定", 75, 130, 60, 14, TS_TABSTOP},
    },
    {},
};

constexpr unsigned kStatic = 0xFFFF;  // a label without an id of its own
constexpr unsigned kEdit = TS_BORDER | TS_TABSTOP;

const DialogTemplate kPortSettingDialog{
    IDD_PORT_SETTING,
    202,
    176,
    "COM 設定",
    "ＭＳ ゴシック",
    9,
    TS_SYSMENU,
    {
        {kStatic, ControlKind::Static, "Speed(&S)", 7, 7, 59, 8, TS_NONE},
        {IDC_SPEED, ControlKind::ComboBox, "", 7, 17, 79, 30, TS_TABSTOP},
        {kStatic, ControlKind::Static, "Data(&D)", 99, 7, 63, 8, TS_NONE},
        {IDC_DATA, ControlKind::ComboBox, "", 99, 17, 79, 30, TS_TABSTOP},
        {kStatic, ControlKind::Static, "Parity(&P)", 7, 37, 63, 8, TS_NONE},
        {IDC_PARITY, ControlKind::ComboBox, "", 7, 47, 79, 30, TS_TABSTOP},
        {kStatic, ControlKind::Static, "Stop(&T)", 99, 37, 74, 8, TS_NONE},
        {IDC_STOP, ControlKind::ComboBox, "", 99, 47, 79, 30, TS_TABSTOP},
        {kStatic, ControlKind::Static, "接続時RING送信(&R)", 7, 71, 75, 8, TS_NONE},
        {IDC_RING, ControlKind::ComboBox, "", 7, 81, 79, 30, TS_TABSTOP},
        {kStatic, ControlKind::Static, "RING送信間隔(&I)", 99, 71, 68, 8, TS_NONE},
        {IDC_RING_INTERVAL, ControlKind::Edit, "", 99, 81, 40, 14, kEdit},
        {kStatic, ControlKind::Static, "ms", 146, 83, 9, 8, TS_NONE},
        {kStatic, ControlKind::Static, "CONNECT送信(&C)", 7, 104, 69, 8, TS_NONE},
        {IDC_CONNECT, ControlKind::ComboBox, "", 7, 114, 79, 30, TS_TABSTOP},
        {IDOK, ControlKind::DefPushButton, "OK", 86, 155, 50, 14, TS_TABSTOP},
        {IDCANCEL, ControlKind::PushButton, "キャンセル", 145, 155, 50, 14, TS_TABSTOP},
        {IDC_DSR, ControlKind::CheckBox, "DSR OFF で切断(&U)", 7, 138, 84, 10, TS_TABSTOP},
        {kStatic, ControlKind::Static, "CONNECT送信待ち時間(&W)", 99, 103, 87, 8, TS_NONE},
        {IDC_CONNECT_INTERVAL, ControlKind::Edit, "", 100, 113, 40, 14, kEdit},
        {kStatic, ControlKind::Static, "ms", 147, 115, 9, 8, TS_NONE},
        {kStatic, ControlKind::Static, "Tavrel の場合 2000ms\n以上を設定してください", 99, 130, 96, 20,
         TS_NONE},
    },
    {
        {IDC_SPEED, {"9600bps", "19200bps", "38400bps", "57600bps", "115200bps"}},
        {IDC_DATA, {"8bit", "7bit"}},
        {IDC_PARITY, {"None", "Odd", "Even"}},
        {IDC_STOP, {"1bit", "2bit"}},
        {IDC_RING, {"なし", "1回", "2回", "3回"}},
        {IDC_CONNECT, {"なし", "ATA受信後", "RING送出終了後"}},
    },
};

constexpr unsigned kButton = TS_TABSTOP;
constexpr unsigned kPoolButton = TS_TABSTOP | TS_DISABLED;  // enabled by the pool's selections
constexpr unsigned kTimeEdit = kEdit | TS_NUMBER;
constexpr unsigned kTextEdit = kEdit | TS_WANTRETURN | TS_AUTOHSCROLL;
constexpr unsigned kPortList = TS_BORDER | TS_TABSTOP | TS_NOTIFY;

const DialogTemplate kSettingDialog{
    IDD_SETTING,
    436,
    357,
    "設定",
    "ＭＳ ゴシック",
    9,
    TS_SYSMENU,
    {
        {kStatic, ControlKind::GroupBox, "ポート", 7, 7, 422, 103, TS_NONE},
        {kStatic, ControlKind::Static, "TCP/IP Port", 15, 20, 45, 8, TS_NONE},
        {IDC_TCP_PORT, ControlKind::ComboBox, "", 15, 33, 53, 30, TS_TABSTOP | TS_DROPDOWN},
        {kStatic, ControlKind::Static, "全ての COM Port", 84, 20, 64, 8, TS_NONE},
        {IDC_FREE_PORTS, ControlKind::ListBox, "", 84, 32, 53, 70, kPortList},
        {IDC_POOL_ADD, ControlKind::PushButton, "→追加", 145, 32, 50, 14, kPoolButton},
        {IDC_POOL_DELETE, ControlKind::PushButton, "←削除", 145, 53, 50, 14, kPoolButton},
        {kStatic, ControlKind::Static, "使用 COM Port", 204, 20, 58, 8, TS_NONE},
        {IDC_USE_PORTS, ControlKind::ListBox, "", 203, 32, 53, 70, kPortList},
        {IDC_POOL_UP, ControlKind::PushButton, "↑上", 262, 31, 50, 14, kPoolButton},
        {IDC_POOL_DOWN, ControlKind::PushButton, "↓下", 262, 53, 50, 14, kPoolButton},
        {IDC_POOL_SETTING, ControlKind::PushButton, "設定", 318, 31, 50, 14, kPoolButton},
        {IDC_POOL_INFO, ControlKind::Static, "", 319, 49, 107, 56, TS_MULTILINE},
        {kStatic, ControlKind::GroupBox, "時間", 7, 113, 422, 51, TS_NONE},
        {kStatic, ControlKind::Static, "無交信時切断判定時間(0で切断無)(&N)", 15, 128, 137, 8, TS_NONE},
        {IDC_NOCOMM_TIME, ControlKind::Edit, "", 157, 125, 40, 14, kTimeEdit},
        {kStatic, ControlKind::Static, "秒", 203, 128, 9, 8, TS_NONE},
        {kStatic, ControlKind::Static, "接続制限時間(0で切断無)(&C)", 246, 128, 105, 8, TS_NONE},
        {IDC_LIMIT_TIME, ControlKind::Edit, "", 363, 125, 40, 14, kTimeEdit},
        {kStatic, ControlKind::Static, "秒", 410, 128, 9, 8, TS_NONE},
        {kStatic, ControlKind::Static, "切断後の回線保持時間(0で保持無)(&K)", 15, 146, 137, 8, TS_NONE},
        {IDC_KEEP_TIME, ControlKind::Edit, "", 157, 143, 40, 14, kTimeEdit},
        {kStatic, ControlKind::Static, "秒", 203, 145, 9, 8, TS_NONE},
        {kStatic, ControlKind::GroupBox, "文字列", 7, 167, 422, 109, TS_NONE},
        {kStatic, ControlKind::Static, "回線切断判定文字列(&U)", 15, 180, 85, 8, TS_NONE},
        {IDC_CHECK1, ControlKind::MultiLineEdit, "", 14, 190, 200, 32, kTextEdit},
        {kStatic, ControlKind::Static, "回線切断判定文字列2(&S)", 223, 180, 89, 8, TS_NONE},
        {IDC_CHECK2, ControlKind::MultiLineEdit, "", 222, 190, 200, 32, kTextEdit},
        {kStatic, ControlKind::Static, "telnet回線切断時送信文字列(&P)", 15, 227, 117, 8, TS_NONE},
        {IDC_AFTER, ControlKind::MultiLineEdit, "", 14, 237, 200, 32, kTextEdit},
        {kStatic, ControlKind::Static, "回線満杯時送信文字列(&E)", 223, 227, 93, 8, TS_NONE},
        {IDC_FULL, ControlKind::MultiLineEdit, "", 222, 237, 200, 32, kEdit | TS_AUTOHSCROLL},
        {kStatic, ControlKind::GroupBox, "その他", 7, 279, 422, 51, TS_NONE},
        {IDC_LOG, ControlKind::CheckBox, "ログ保存(&L)", 16, 293, 60, 10, kButton},
        {kStatic, ControlKind::Static, "フォルダ(&F)", 87, 294, 45, 8, TS_NONE},
        {IDC_LOG_DIR, ControlKind::Edit, "", 137, 291, 231, 14, kEdit | TS_AUTOHSCROLL},
        {IDC_BROWSE, ControlKind::PushButton, "参照...", 373, 291, 48, 14, kButton},
        {IDC_TRAY, ControlKind::CheckBox, "起動時にタスクトレイに入る(&T)", 16, 311, 132, 10, kButton},
        {IDOK, ControlKind::DefPushButton, "OK", 323, 336, 50, 14, kButton},
        {IDCANCEL, ControlKind::PushButton, "キャンセル", 379, 336, 50, 14, kButton},
        {IDC_DEBUG_LOG, ControlKind::CheckBox, "デバッグログ", 169, 311, 64, 10, kButton | TS_HIDDEN},
    },
    {
        {IDC_TCP_PORT, {"telnet"}},
    },
};

}  // namespace

const DialogTemplate& FindDialogTemplate(unsigned id)
{
    switch (id) {
    case IDD_MAIN_DIALOG: return kMainDialog;
    case IDD_SETTING: return kSettingDialog;
    case IDD_PORT_SETTING: return kPortSettingDialog;
    default: std::abort();
    }
}
