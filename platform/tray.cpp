// Tray icons on QSystemTrayIcon, and the "tray host appeared" watch over D-Bus.
#include "platform/tray.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QIcon>
#include <QPointer>
#include <QSystemTrayIcon>
#include <cstring>
#include <map>
#include <utility>

#include "platform/cp932.h"

namespace {

TrayShellHook g_hook;
DWORD g_lastError = 0;
// Each icon is a child of its window, which owns it: an icon never outlives
// the window its clicks are posted to.
std::map<std::pair<HWND, UINT>, QPointer<QSystemTrayIcon>> g_icons;

constexpr DWORD kNoTrayHost = ERROR_GEN_FAILURE;

void Apply(QSystemTrayIcon& icon, const NOTIFYICONDATAA& d)
{
    if ((d.uFlags & NIF_ICON) && d.hIcon != nullptr)
        icon.setIcon(*d.hIcon);
    if (d.uFlags & NIF_TIP)
        icon.setToolTip(cp932::ToQString(std::string(d.szTip, strnlen(d.szTip, sizeof d.szTip))));
    if (d.uFlags & NIF_MESSAGE) {
        QObject::disconnect(&icon, &QSystemTrayIcon::activated, nullptr, nullptr);
        const HWND wnd = d.hWnd;
        const UINT id = d.uID;
        const UINT msg = d.uCallbackMessage;
        QObject::connect(&icon, &QSystemTrayIcon::activated, icon.parent(), [wnd, id, msg](QSystemTrayIcon::ActivationReason r) {
            const LPARAM button = r == QSystemTrayIcon::Context ? WM_RBUTTONUP : WM_LBUTTONUP;
            PostMessageA(wnd, msg, id, button);
        });
    }
}

BOOL RealShell(DWORD message, const NOTIFYICONDATAA& d, DWORD& error)
{
    const auto key = std::make_pair(d.hWnd, d.uID);
    auto it = g_icons.find(key);
    if (it != g_icons.end() && it->second.isNull()) {
        g_icons.erase(it);  // its window is gone, and the icon with it
        it = g_icons.end();
    }
    auto* owner = dynamic_cast<QObject*>(d.hWnd);
    switch (message) {
    case NIM_ADD:
        if (it != g_icons.end() || owner == nullptr || !QSystemTrayIcon::isSystemTrayAvailable()) {
            error = kNoTrayHost;
            return FALSE;
        }
        {
            auto* icon = new QSystemTrayIcon(owner);
            Apply(*icon, d);
            icon->show();
            g_icons.emplace(key, icon);
        }
        return TRUE;
    case NIM_MODIFY:
        if (it == g_icons.end()) {
            error = kNoTrayHost;
            return FALSE;
        }
        Apply(*it->second, d);
        return TRUE;
    case NIM_DELETE:
        if (it == g_icons.end()) {
            error = kNoTrayHost;
            return FALSE;
        }
        delete it->second.data();
        g_icons.erase(it);
        return TRUE;
    default:
        error = kNoTrayHost;
        return FALSE;
    }
}

}  // namespace

BOOL Shell_NotifyIconA(DWORD message, NOTIFYICONDATAA* data)
{
    DWORD error = 0;
    const BOOL ok = g_hook ? g_hook(message, *data, error) : RealShell(message, *data, error);
    g_lastError = ok ? 0 : (error != 0 ? error : kNoTrayHost);
    return ok;
}

DWORD TrayLastError()
{
    return g_lastError;
}

void SetTrayShellForTesting(TrayShellHook hook)
{
    g_hook = std::move(hook);
}

UINT RegisterTaskbarCreatedMessage(HWND window)
{
    constexpr UINT kTaskbarCreated = 0xC000;
    // A tray host announces itself on the session bus; when one (re)appears,
    // the window hears of it as the registered message.
    QDBusConnection bus = QDBusConnection::sessionBus();
    auto* owner = dynamic_cast<QObject*>(window);
    if (bus.isConnected() && owner != nullptr) {
        auto* watcher = new QDBusServiceWatcher(QStringLiteral("org.kde.StatusNotifierWatcher"), bus,
                                                QDBusServiceWatcher::WatchForRegistration, owner);
        QObject::connect(watcher, &QDBusServiceWatcher::serviceRegistered, owner,
                         [window](const QString&) { PostMessageA(window, kTaskbarCreated, 0, 0); });
    }
    return kTaskbarCreated;
}
