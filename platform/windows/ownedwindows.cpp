// Owned windows kept with their owners: minimising and focus.
#include "platform/windows/ownedwindows.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>
#include <QWindow>
#include <QWindowStateChangeEvent>
#include <QtGui/qguiapplication_platform.h>
#include <cstdlib>
#include <memory>
#include <xcb/xcb.h>

namespace {

constexpr uint32_t kIconicState = 3;  // ICCCM's WM_STATE value

// A reply of the X server, which the caller frees.
struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, FreeReply>;

// The window at the end of a window's owner chain.
QWidget* FirstOwner(QWidget* window)
{
    QWidget* top = window->window();
    while (top->parentWidget() != nullptr)
        top = top->parentWidget()->window();
    return top;
}

// Asks an X11 window manager to minimise the window, as the title bar's
// button does (ICCCM's WM_CHANGE_STATE to IconicState); false on a display
// that is not X11. The toolkit's showMinimized() would also mark the window
// to be mapped minimised, a mark that outlives the window manager's release
// of the window once it is hidden into the tray: its next showing would then
// map it minimised, and so back into the tray.
bool AskWindowManagerToMinimise(QWidget& window)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || window.windowHandle() == nullptr)
        return false;
    xcb_connection_t* c = x11->connection();
    const auto id = static_cast<xcb_window_t>(window.winId());
    constexpr char kChangeState[] = "WM_CHANGE_STATE";
    const XcbReply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof kChangeState - 1, kChangeState), nullptr));
    const XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, xcb_get_geometry(c, id), nullptr));
    if (!atom || !geometry)
        return false;
    xcb_client_message_event_t request{};
    request.response_type = XCB_CLIENT_MESSAGE;
    request.format = 32;
    request.window = id;
    request.type = atom->atom;
    request.data.data32[0] = kIconicState;
    xcb_send_event(c, 0, geometry->root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&request));
    xcb_flush(c);
    return true;
}

// Windows that have been on the screen carry this property.
constexpr char kShownOnce[] = "skiffaShownOnce";

// An owned window whose first owner has never been shown (a box at start-up)
// comes back from its minimising: nothing on the screen would lead to it.
void UndoMinimise(QWidget* window)
{
    QMetaObject::invokeMethod(
        window,
        [window] {
            if (window->isVisible() && window->isMinimized()) {
                window->showNormal();
                window->activateWindow();
            }
        },
        Qt::QueuedConnection);
}

// An owned window just minimised by the window manager (the title-bar button
// or a key binding; the windows the program shows ask for no minimise box,
// but not every window manager heeds that): its first owner is minimised
// too, and whatever the owner does on minimising (hiding into the tray)
// holds for both. The owner brings its owned windows back when it is
// shown, so no window is left blocked by one that has gone.
void MinimiseOwnersWith(QWidget* window, const QWindowStateChangeEvent& event)
{
    if (!window->isWindow() || window->parentWidget() == nullptr || !window->isMinimized() ||
        (event.oldState() & Qt::WindowMinimized))
        return;
    QWidget* owner = FirstOwner(window);
    if (owner == window)
        return;
    if (!owner->property(kShownOnce).toBool()) {
        UndoMinimise(window);
        return;
    }
    if (!owner->isVisible() || owner->isMinimized())
        return;
    // After the event: the owner's minimising may hide windows and show boxes.
    QMetaObject::invokeMethod(
        owner,
        [owner] {
            if (owner->isVisible() && !owner->isMinimized() && !AskWindowManagerToMinimise(*owner))
                owner->showMinimized();
        },
        Qt::QueuedConnection);
}

// The window manager gave the focus to a window that a modal window it owns
// blocks (a click on it, or its showing): the modal window comes to the
// front and takes the focus. A minimised modal window is left where it is:
// its owner follows it into the minimised state.
void HandFocusToModalWindow(QWindow* focus)
{
    if (focus == nullptr)
        return;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->windowHandle() != focus)
            continue;
        QWidget* modal = ModalWindowAbove(w);
        if (modal != nullptr && modal->isVisible() && !modal->isMinimized()) {
            modal->raise();
            modal->activateWindow();
        }
        return;
    }
}

class OwnedWindowWatch : public QObject {
public:
    explicit OwnedWindowWatch(QObject* parent) : QObject(parent) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!watched->isWidgetType())
            return false;
        if (event->type() == QEvent::Show && static_cast<QWidget*>(watched)->isWindow())
            watched->setProperty(kShownOnce, true);
        if (event->type() == QEvent::WindowStateChange)
            MinimiseOwnersWith(static_cast<QWidget*>(watched), *static_cast<QWindowStateChangeEvent*>(event));
        return false;
    }
};

}  // namespace

bool OwnsWindow(const QWidget* owner, const QWidget* window)
{
    for (const QWidget* w = window->parentWidget(); w != nullptr; w = w->parentWidget())
        if (w == owner)
            return true;
    return false;
}

QWidget* ModalWindowAbove(const QWidget* owner)
{
    QWidget* modal = QApplication::activeModalWidget();
    return modal != nullptr && OwnsWindow(owner, modal) ? modal : nullptr;
}

void KeepOwnedWindowsWithOwners()
{
    static QPointer<OwnedWindowWatch> watch;
    if (watch != nullptr || qApp == nullptr)
        return;
    watch = new OwnedWindowWatch(qApp);
    qApp->installEventFilter(watch);
    QObject::connect(qApp, &QGuiApplication::focusWindowChanged, watch, &HandFocusToModalWindow);
}
