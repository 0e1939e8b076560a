// Owned windows kept with their owners: minimising and focus.
#include "platform/windows/ownedwindows.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>
#include <QWindow>
#include <QWindowStateChangeEvent>

namespace {

// The window at the end of a window's owner chain.
QWidget* FirstOwner(QWidget* window)
{
    QWidget* top = window->window();
    while (top->parentWidget() != nullptr)
        top = top->parentWidget()->window();
    return top;
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
    if (owner == window || !owner->isVisible() || owner->isMinimized())
        return;
    // After the event: the owner's minimising may hide windows and show boxes.
    QMetaObject::invokeMethod(
        owner,
        [owner] {
            if (owner->isVisible() && !owner->isMinimized())
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
        if (event->type() == QEvent::WindowStateChange && watched->isWidgetType())
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
