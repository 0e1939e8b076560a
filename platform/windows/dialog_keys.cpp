// The dialog's keyboard and focus: every key press passes PreTranslateMessage
// before a control acts on it, Enter, Esc and F1 become the dialog's commands,
// Enter in a multi-line edit, and the text selected when the focus moves by key.
#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QWindow>
#include <algorithm>

#include "platform/windows/dialog.h"
#include "platform/windows/dialog_widgets.h"

namespace {

// A key press as the key-down message the window would see, for the keys the
// program can name; false for the others.
bool KeyMessage(HWND hwnd, const QKeyEvent* event, MSG& msg)
{
    const int key = event->key();
    WPARAM vk = 0;
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        vk = VK_RETURN;
    else if (key == Qt::Key_Escape)
        vk = VK_ESCAPE;
    else if (key == Qt::Key_Tab || key == Qt::Key_Backtab)
        vk = VK_TAB;
    else if (key == Qt::Key_F1)
        vk = VK_F1;
    else if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))
        vk = static_cast<WPARAM>(key);  // the virtual keys of letters and digits are their codes
    else
        return false;
    const UINT message = (event->modifiers() & Qt::AltModifier) ? WM_SYSKEYDOWN : WM_KEYDOWN;
    msg = MSG{hwnd, message, vk, 0};
    return true;
}

bool IsEnterKey(const QKeyEvent* event)
{
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

}  // namespace

bool CDialogEx::PreTranslateKey(QKeyEvent* event)
{
    MSG msg{};
    return KeyMessage(this, event, msg) && PreTranslateMessage(&msg);
}

// Key presses reach PreTranslateMessage before the control that has the
// focus acts on them.
bool CDialogEx::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Expose && m_showOwnedWhenExposed && watched == windowHandle() &&
        windowHandle()->isExposed()) {
        m_showOwnedWhenExposed = false;
        ShowOwnedWindows();
    }
    if (event->type() == QEvent::FocusIn)
        SelectTextOnFocus(watched, static_cast<QFocusEvent*>(event)->reason());
    if (event->type() == QEvent::KeyPress && watched == QApplication::focusWidget()) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (PreTranslateKey(key))
            return true;
        if (auto* edit = qobject_cast<QPlainTextEdit*>(watched); edit != nullptr && IsEnterKey(key))
            return MultiLineEnter(edit, key);
    }
    return QDialog::eventFilter(watched, event);
}

// An edit, or an editable combo box, that the dialog moves the focus to by
// Tab or a mnemonic has its whole text selected, so that typing replaces it.
// A click puts the caret where it lands; the window activated again gives
// the focus back with the caret where it was; the program's own setFocus
// leaves the text as it is.
void CDialogEx::SelectTextOnFocus(QObject* control, Qt::FocusReason reason)
{
    if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason)
        SelectEditText(control);
}

void SelectEditText(QObject* control)
{
    if (auto* combo = qobject_cast<QComboBox*>(control); combo != nullptr && combo->lineEdit() != nullptr)
        combo->lineEdit()->selectAll();
    else if (auto* edit = qobject_cast<QLineEdit*>(control))
        edit->selectAll();
    else if (auto* text = qobject_cast<QPlainTextEdit*>(control))
        text->selectAll();
}

// Enter in a multi-line edit starts a new line only with the want-return
// style or with Ctrl held; otherwise it is the dialog's Enter. With Alt held
// it does nothing.
bool CDialogEx::MultiLineEnter(QPlainTextEdit* edit, QKeyEvent* event)
{
    if (event->modifiers() & Qt::AltModifier)
        return true;
    if (edit->property(kWantReturn).toBool() || (event->modifiers() & Qt::ControlModifier)) {
        if (!edit->isReadOnly())
            edit->textCursor().insertBlock();
        return true;
    }
    keyPressEvent(event);
    return true;
}

// What the dialog does with the keys its controls leave: Enter presses the
// push button that has the focus, else the default button (IDOK when there is
// none); Esc cancels; F1 asks for help.
void CDialogEx::keyPressEvent(QKeyEvent* event)
{
    // A control's keys passed PreTranslateMessage in eventFilter; keys that
    // come to the dialog first pass it here.
    QWidget* focus = QApplication::focusWidget();
    if (std::find(m_items.begin(), m_items.end(), focus) == m_items.end() && PreTranslateKey(event)) {
        event->accept();
        return;
    }
    // Alt with Enter or Esc is a system key, which the dialog leaves alone.
    const bool alt = (event->modifiers() & Qt::AltModifier) != 0;
    if (alt && (IsEnterKey(event) || event->key() == Qt::Key_Escape)) {
        event->accept();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        const UINT id = EnterCommandId();
        const QWidget* button = GetDlgItem(id);
        if (button == nullptr || button->isEnabled())
            SendMessage(WM_COMMAND, static_cast<WPARAM>((BN_CLICKED << 16) | id), 0);
        break;
    }
    case Qt::Key_Escape: SendMessage(WM_COMMAND, IDCANCEL, 0); break;
    case Qt::Key_F1: SendMessage(WM_HELP, 0, 0); break;
    default: QDialog::keyPressEvent(event); return;
    }
    event->accept();
}

UINT CDialogEx::EnterCommandId() const
{
    const auto* focused = qobject_cast<const QPushButton*>(QApplication::focusWidget());
    if (focused != nullptr && isAncestorOf(focused))
        return focused->objectName().toUInt();
    for (const ControlTemplate& ct : m_template.controls) {
        if (ct.kind == ControlKind::DefPushButton)
            return ct.id;
    }
    return IDOK;
}
