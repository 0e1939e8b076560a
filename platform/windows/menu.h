// Menus from menu templates, shown as pop-ups at a point; the item chosen
// reaches the owner window as WM_COMMAND with the item's id. Also the cursor
// position pop-ups open at.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/message.h"
#include "platform/base/wintypes.h"

class QMenu;

// A menu resource as data: its pop-ups, each a list of items. An item with
// id 0 is a separator. Texts are UTF-8, '&' marking the access key.
struct MenuItemTemplate {
    UINT id;
    const char* text;
};
struct PopupTemplate {
    const char* title;  // never shown for a pop-up opened on its own
    std::vector<MenuItemTemplate> items;
};
struct MenuTemplate {
    unsigned id;
    std::vector<PopupTemplate> popups;
};

// Pop-up placement and tracking flags: 0 puts the menu's top left corner at
// the point; TPM_RIGHTBUTTON lets the right button choose items too.
constexpr UINT TPM_LEFTALIGN = 0x0000;
constexpr UINT TPM_TOPALIGN = 0x0000;
constexpr UINT TPM_RIGHTBUTTON = 0x0002;

struct POINT {
    int x, y;
};

// The mouse cursor's position on the screen; FALSE when there is no screen.
BOOL GetCursorPos(POINT* point);

class CMenu {
public:
    CMenu();
    ~CMenu();
    CMenu(const CMenu&) = delete;
    CMenu& operator=(const CMenu&) = delete;

    // Builds the menu's pop-ups from the template.
    BOOL LoadMenu(const MenuTemplate& tmpl);
    // The pop-up at `pos`, owned by this menu; null when there is none.
    CMenu* GetSubMenu(int pos) const;
    // Shows this pop-up at (x, y) and waits until it closes, events going on
    // meanwhile. A chosen item is posted to `owner` as WM_COMMAND with the
    // item's id in wParam. FALSE when this menu is not a pop-up.
    BOOL TrackPopupMenu(UINT flags, int x, int y, HWND owner);
    // Frees the menu and its pop-ups.
    BOOL DestroyMenu();

private:
    std::unique_ptr<QMenu> m_popup;  // null for a menu that only holds pop-ups
    std::vector<std::unique_ptr<CMenu>> m_subMenus;
};

// For a program that is ending: closes every pop-up that is open now, as if
// dismissed, and dismisses every later one at once, without showing it.
void EndPopupMenus();
void ResetPopupMenuEndForTesting();

// What a test sees of a pop-up it answers: its items (separators with id 0
// and empty text; texts in code-page bytes), where and how it was opened.
struct PopupMenuRecord {
    HWND owner;
    UINT flags;
    int x, y;
    std::vector<std::pair<UINT, std::string>> items;
};

// Tests choose the item themselves: while a hook is set no menu is shown and
// the id it returns is the item chosen (0: the menu was dismissed). An empty
// function restores real menus.
void SetPopupMenuHookForTesting(std::function<UINT(const PopupMenuRecord&)> hook);
