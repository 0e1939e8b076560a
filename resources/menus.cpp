// Menu resources, texts in UTF-8. Only the first pop-up of each is shown.
#include "resources/menus.h"

#include <cstdlib>

#include "resources/resource.h"

namespace {

const MenuTemplate kTrayMenu{
    IDR_TRAY_MENU,
    {{"tray", {{ID_TRAY_SHOW, "状態表示(&R)"}, {0, nullptr}, {ID_TRAY_EXIT, "終了(&X)"}}}},
};

const MenuTemplate kListMenu{
    IDR_LIST_MENU,
    {{"main", {{ID_COMPORT_SETTING, "COM Port 設定(&S)"}}}},
};

}  // namespace

const MenuTemplate& FindMenuTemplate(unsigned id)
{
    switch (id) {
    case IDR_TRAY_MENU: return kTrayMenu;
    case IDR_LIST_MENU: return kListMenu;
    default: std::abort();
    }
}
