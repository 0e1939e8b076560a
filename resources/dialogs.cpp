// Dialog templates: sizes and positions in dialog units, texts in UTF-8.
#include "resources/dialogs.h"

#include <cstdlib>

#include "platform/wintypes.h"
#include "resources/resource.h"

namespace {

const DialogTemplate kMainDialog{
    IDD_MAIN_DIALOG, 459, 152, "Varnex - Skiffa", "MS UI Gothic", 9,
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
    IDD_PORT_SETTING, 202, 176, "COM 設定", "ＭＳ ゴシック", 9, TS_SYSMENU,
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
        {kStatic, ControlKind::Static, "Tavrel の場合 2000ms\n以上を設定してください", 99, 130, 96, 20, TS_NONE},
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

}  // namespace

const DialogTemplate& FindDialogTemplate(unsigned id)
{
    switch (id) {
    case IDD_MAIN_DIALOG:
        return kMainDialog;
    case IDD_PORT_SETTING:
        return kPortSettingDialog;
    default:
        std::abort();
    }
}
