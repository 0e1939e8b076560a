// Tray icons on QSystemTrayIcon, and the watch that tells a window when a tray
// host appears: a notifier host on D-Bus, or an X11 tray taking its selection.
#include "platform/windows/tray.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QIcon>
#include <QPointer>
#include <QSystemTrayIcon>
#include <cstring>
#include <map>
#include <utility>

#include "platform/system/cp932.h"

namespace {

TrayShellHook g_hook;
DWORD g_lastError = 0;
// Each icon is a child of its window, which owns it: an icon never outlives
// the window its clicks are posted to.
std::map<std::pair<HWND, UINT>, QPointer<QSystemTrayIcon>> g_icons;

constexpr DWORD kNoTrayHost = ERROR_GEN_FAILURE;
constexpr UINT kTaskbarCreated = 0xC000;

// The mouse message a click on the icon stands for. A tray host reports a
// click once, so it counts as the button's release: the left button shows
// the window, the right one its menu. The second click of a double click is
// a double click and no more.
LPARAM TrayMouseMessage(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger: return WM_LBUTTONUP;
    case QSystemTrayIcon::Context: return WM_RBUTTONUP;
    case QSystemTrayIcon::DoubleClick: return WM_LBUTTONDBLCLK;
    case QSystemTrayIcon::MiddleClick: return WM_MBUTTONUP;
    default: return 0;
    }
}

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
        QObject::connect(&icon, &QSystemTrayIcon::activated, icon.parent(),
                         [wnd, id, msg](QSystemTrayIcon::ActivationReason r) {
                             if (const LPARAM mouse = TrayMouseMessage(r); mouse != 0)
                                 PostMessageA(wnd, msg, id, mouse);
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
    default: error = kNoTrayHost; return FALSE;
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

namespace {

// Posts the taskbar message to its window when a tray host appears. A child
// of the window, so it ends with it.
class TrayHostWatch : public QObject {
    Q_OBJECT
public:
    TrayHostWatch(QObject* owner, HWND window) : QObject(owner), m_window(window) {}
public slots:
    void TrayWindowChanged()
    {
        // The owner also changes when a tray host goes away: only a new one counts.
        if (QSystemTrayIcon::isSystemTrayAvailable())
            PostMessageA(m_window, kTaskbarCreated, 0, 0);
    }

private:
    HWND m_window;
};

// An X11 tray host (the XEmbed system tray) announces itself by taking the
// tray selection; the platform plugin reports each change of its owner.
void WatchXEmbedTrayHost(QObject* owner, HWND window)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    // Asking once makes the platform start tracking the selection.
    QSystemTrayIcon::isSystemTrayAvailable();
    // The plugin's native interface is a QObject (its first and only base);
    // its class is not public, so the signal is found by name.
    auto* native = reinterpret_cast<QObject*>(QGuiApplication::platformNativeInterface());
    if (native == nullptr || native->metaObject()->indexOfSignal("systemTrayWindowChanged(QScreen*)") < 0)
        return;
    auto* watch = new TrayHostWatch(owner, window);
    QObject::connect(native, SIGNAL(systemTrayWindowChanged(QScreen*)), watch, SLOT(TrayWindowChanged()));
}

}  // namespace

UINT RegisterTaskbarCreatedMessage(HWND window)
{
    auto* owner = dynamic_cast<QObject*>(window);
    if (owner == nullptr)
        return kTaskbarCreated;
    // A desktop's notifier host announces itself on the session bus.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        auto* watcher = new QDBusServiceWatcher(QStringLiteral("org.kde.StatusNotifierWatcher"), bus,
                                                QDBusServiceWatcher::WatchForRegistration, owner);
        QObject::connect(watcher, &QDBusServiceWatcher::serviceRegistered, owner,
                         [window](const QString&) { PostMessageA(window, kTaskbarCreated, 0, 0); });
    }
    WatchXEmbedTrayHost(owner, window);
    return kTaskbarCreated;
}

#include "tray.moc"
