// The dialog's window: its title, showing and minimising it with the windows
// it owns, the foreground, message boxes, the system close, and the Qt window
// events that become WM_WINDOWPOSCHANGING, WM_SYSCOMMAND, WM_SIZE and WM_PAINT.
#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <QWindow>
#include <algorithm>

#include "platform/system/cp932.h"
#include "platform/windows/dialog.h"
#include "platform/windows/msgbox.h"
#include "platform/windows/ownedwindows.h"

namespace {

int OwnerCount(const QWidget* window)
{
    int n = 0;
    for (const QWidget* w = window->parentWidget(); w != nullptr; w = w->parentWidget())
        ++n;
    return n;
}

}  // namespace

void CDialogEx::DisableSystemClose()
{
    m_systemCloseDisabled = true;
    setWindowFlag(Qt::WindowCloseButtonHint, false);
}

void CDialogEx::SetWindowText(const std::string& text)
{
    setWindowTitle(cp932::ToQString(text));
}

std::string CDialogEx::GetWindowText() const
{
    return cp932::FromQString(windowTitle());
}

BOOL CDialogEx::ShowWindow(int cmd)
{
    const BOOL wasVisible = isVisible() ? TRUE : FALSE;
    switch (cmd) {
    case SW_HIDE: hide(); break;
    case SW_MINIMIZE:
    case SW_SHOWMINIMIZED: showMinimized(); break;
    case SW_RESTORE:
    case SW_SHOWNORMAL: showNormal(); break;
    default: show(); break;
    }
    if (cmd != SW_HIDE && cmd != SW_MINIMIZE && cmd != SW_SHOWMINIMIZED && isVisible())
        ShowOwnedWindowsOnceMapped();
    return wasVisible;
}

// The window manager puts a window it maps in front of the others and may
// give it the focus: the owned windows come forward only after that.
void CDialogEx::ShowOwnedWindowsOnceMapped()
{
    QWindow* handle = windowHandle();
    if (handle == nullptr || handle->isExposed()) {
        ShowOwnedWindows();
        return;
    }
    handle->installEventFilter(this);
    m_showOwnedWhenExposed = true;
}

// The windows this one owns come back with it: the window manager minimised
// them along with it. Owners go before the windows they own, so that the
// innermost ends up in front; the modal window that blocks this one takes
// the focus.
void CDialogEx::ShowOwnedWindows()
{
    std::vector<QWidget*> owned;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && OwnsWindow(this, w))
            owned.push_back(w);
    std::stable_sort(owned.begin(), owned.end(),
                     [](const QWidget* a, const QWidget* b) { return OwnerCount(a) < OwnerCount(b); });
    for (QWidget* w : owned) {
        w->showNormal();
        w->raise();
    }
    if (QWidget* modal = ModalWindowAbove(this))
        modal->activateWindow();
}

BOOL CDialogEx::IsIconic() const
{
    return isMinimized() ? TRUE : FALSE;
}

// While a modal window that this one owns is open, that window takes the
// keyboard: this one takes no input until it closes.
void CDialogEx::SetForegroundWindow()
{
    QWidget* target = this;
    if (QWidget* modal = ModalWindowAbove(this))
        target = modal;
    raise();
    target->raise();
    target->activateWindow();
}

int CDialogEx::MessageBox(const std::string& text, const std::string& caption, UINT type,
                          const std::string& detail)
{
    return MessageBoxA(this, text, caption, type, detail);
}

void CDialogEx::setVisible(bool visible)
{
    // Every request to show the window passes WM_WINDOWPOSCHANGING first.
    if (visible && !isVisible()) {
        WINDOWPOS pos{SWP_SHOWWINDOW};
        SendMessage(WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&pos));
        if (!(pos.flags & SWP_SHOWWINDOW))
            return;
    }
    QDialog::setVisible(visible);
}

// The first showing centres the window; shown again, it comes back where it
// was (the toolkit would centre it anew, off by its frame's guessed size).
void CDialogEx::showEvent(QShowEvent* event)
{
    if (m_placed)
        setAttribute(Qt::WA_Moved);
    QDialog::showEvent(event);
    m_placed = true;
}

void CDialogEx::closeEvent(QCloseEvent* event)
{
    // The window manager's close request is the system close command, unless
    // the system menu's Close item is greyed.
    event->ignore();
    if (!m_systemCloseDisabled)
        SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
}

void CDialogEx::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    const UINT type = isMinimized() ? SIZE_MINIMIZED : SIZE_RESTORED;
    SendMessage(WM_SIZE, type, MAKELPARAM(static_cast<WORD>(width()), static_cast<WORD>(height())));
}

// Painting goes through the message map as WM_PAINT.
void CDialogEx::paintEvent(QPaintEvent* event)
{
    QPaintEvent* const outer = m_paintEvent;
    m_paintEvent = event;
    SendMessage(WM_PAINT, 0, 0);
    m_paintEvent = outer;
}

void CDialogEx::OnPaint()
{
    if (m_paintEvent != nullptr)
        QDialog::paintEvent(m_paintEvent);
}
