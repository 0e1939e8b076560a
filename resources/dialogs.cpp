// Dialog templates: sizes and positions in dialog units, texts in UTF-8.
#include "resources/dialogs.h"

#include <cstdlib>

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
};

}  // namespace

const DialogTemplate& FindDialogTemplate(unsigned id)
{
    switch (id) {
    case IDD_MAIN_DIALOG:
        return kMainDialog;
    default:
        std::abort();
    }
}
