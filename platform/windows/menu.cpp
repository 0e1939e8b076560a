// Pop-up menus on QMenu.
#include "platform/windows/menu.h"

#include <QAction>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QPointer>
#include <algorithm>

#include "platform/system/cp932.h"

namespace {

std::function<UINT(const PopupMenuRecord&)> g_hook;
std::vector<QPointer<QMenu>> g_openMenus;  // innermost last
bool g_ending = false;                     // the program is ending: no more menus

UINT IdOf(const QAction* action)
{
    return action != nullptr ? action->data().toUInt() : 0;
}

PopupMenuRecord Describe(const QMenu& menu, UINT flags, int x, int y, HWND owner)
{
    PopupMenuRecord r{owner, flags, x, y, {}};
    for (const QAction* a : menu.actions())
        r.items.emplace_back(a->isSeparator() ? 0 : IdOf(a),
                             a->isSeparator() ? "" : cp932::FromQString(a->text()));
    return r;
}

// The item the user (or a test) chose; 0 when the menu was dismissed.
UINT Choose(QMenu& menu, UINT flags, int x, int y, HWND owner)
{
    if (!g_hook) {
        if (g_ending)
            return 0;
        g_openMenus.emplace_back(&menu);
        const UINT id = IdOf(menu.exec(QPoint(x, y)));
        g_openMenus.erase(std::find(g_openMenus.begin(), g_openMenus.end(), &menu));
        return g_ending ? 0 : id;
    }
    const UINT id = g_hook(Describe(menu, flags, x, y, owner));
    for (const QAction* a : menu.actions())
        if (!a->isSeparator() && IdOf(a) == id)
            return id;
    return 0;
}

}  // namespace

BOOL GetCursorPos(POINT* point)
{
    if (point == nullptr || QGuiApplication::primaryScreen() == nullptr)
        return FALSE;
    const QPoint p = QCursor::pos();
    *point = {p.x(), p.y()};
    return TRUE;
}

CMenu::CMenu() = default;

CMenu::~CMenu() = default;

BOOL CMenu::LoadMenu(const MenuTemplate& tmpl)
{
    DestroyMenu();
    for (const PopupTemplate& p : tmpl.popups) {
        auto sub = std::make_unique<CMenu>();
        sub->m_popup = std::make_unique<QMenu>(QString::fromUtf8(p.title));
        for (const MenuItemTemplate& item : p.items) {
            if (item.id == 0) {
                sub->m_popup->addSeparator();
                continue;
            }
            QAction* a = sub->m_popup->addAction(QString::fromUtf8(item.text));
            a->setData(item.id);
        }
        m_subMenus.push_back(std::move(sub));
    }
    return TRUE;
}

CMenu* CMenu::GetSubMenu(int pos) const
{
    if (pos < 0 || static_cast<size_t>(pos) >= m_subMenus.size())
        return nullptr;
    return m_subMenus[static_cast<size_t>(pos)].get();
}

BOOL CMenu::TrackPopupMenu(UINT flags, int x, int y, HWND owner)
{
    if (!m_popup)
        return FALSE;
    const UINT id = Choose(*m_popup, flags, x, y, owner);
    if (id != 0)
        PostMessageA(owner, WM_COMMAND, id, 0);
    return TRUE;
}

BOOL CMenu::DestroyMenu()
{
    m_subMenus.clear();
    m_popup.reset();
    return TRUE;
}

void SetPopupMenuHookForTesting(std::function<UINT(const PopupMenuRecord&)> hook)
{
    g_hook = std::move(hook);
}

void EndPopupMenus()
{
    g_ending = true;
    for (const QPointer<QMenu>& menu : g_openMenus)
        if (menu)
            menu->close();
}

void ResetPopupMenuEndForTesting()
{
    g_ending = false;
}
