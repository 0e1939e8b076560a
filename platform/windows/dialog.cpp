// The dialog's life cycle: construction, the modal run and its end (with the
// modal windows it owns), initialisation, data exchange and destruction.
// The class's other concerns have files of their own beside this one:
// dialog_build.cpp (building from the template), dialog_messages.cpp,
// dialog_timers.cpp, dialog_window.cpp and dialog_keys.cpp.
#include "platform/windows/dialog.h"

#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>

#include "platform/windows/msgbox.h"
#include "platform/windows/ownedwindows.h"

CDialogEx::CDialogEx(const DialogTemplate& tmpl, QWidget* parent) : QDialog(parent), m_template(tmpl)
{
}

CDialogEx::~CDialogEx()
{
}

HWND CDialogEx::GetParent() const
{
    return dynamic_cast<MessageTarget*>(parentWidget());
}

int CDialogEx::DoModal()
{
    if (IsEndingWindow(parentWidget()))
        return IDCANCEL;
    BuildFromTemplate();
    m_destroyed = false;
    m_endPending = false;
    m_ended = false;
    m_modalResult = IDCANCEL;
    // From here: the boxes that start-up shows are kept with their owner too.
    KeepOwnedWindowsWithOwners();
    const BOOL focusFirstControl = OnInitDialog();
    // Our own loop rather than QDialog::exec: a dialog that start-up keeps
    // hidden (in the tray) must still run, and end, its modal loop. A dialog
    // without an owner blocks no other window of the program: its tray icon
    // (a window of its own here) must still take clicks.
    setWindowModality(parentWidget() != nullptr ? Qt::WindowModal : Qt::NonModal);
    show();
    if (focusFirstControl)
        FocusFirstTabStop();
    QEventLoop loop;
    m_loop = &loop;
    if (!m_endPending)
        loop.exec(QEventLoop::DialogExec);
    m_loop = nullptr;
    m_endPending = false;
    DestroyWindow();
    return m_modalResult;
}

void CDialogEx::EndDialog(int result)
{
    if (m_endPending)
        return;
    m_modalResult = result;
    m_endPending = true;
    m_ended = true;  // its modal loop dispatches nothing more to it
    EndOwnedModalWindows();
    QDialog::setVisible(false);
    if (m_loop != nullptr)
        m_loop->exit(result);
}

// The modal windows this dialog owns run their loops inside its own, which
// returns only after theirs: they end with it, cancelled, and a box open
// above it is answered No.
void CDialogEx::EndOwnedModalWindows()
{
    EndMessageBoxesOwnedBy(this);
    for (QDialog* owned : findChildren<QDialog*>()) {
        if (auto* dialog = dynamic_cast<CDialogEx*>(owned)) {
            if (dialog->m_loop != nullptr && !dialog->m_endPending)
                dialog->EndDialog(IDCANCEL);
        } else if (qobject_cast<QMessageBox*>(owned) == nullptr && owned->isVisible()) {
            owned->reject();  // the folder chooser
        }
    }
}

bool CDialogEx::IsEndingWindow(const QWidget* window)
{
    for (const QWidget* w = window; w != nullptr; w = w->parentWidget()) {
        const auto* dialog = dynamic_cast<const CDialogEx*>(w);
        if (dialog != nullptr && dialog->m_ended && dialog->m_loop != nullptr)
            return true;
    }
    return false;
}

void CDialogEx::done(int r)
{
    // Qt's own paths (accept, reject) end the dialog like EndDialog.
    EndDialog(r);
}

BOOL CDialogEx::OnInitDialog()
{
    BuildFromTemplate();
    ExecuteDlgInit();
    UpdateData(FALSE);
    return TRUE;
}

BOOL CDialogEx::DestroyWindow()
{
    if (m_destroyed)
        return FALSE;
    m_destroyed = true;
    for (auto& [id, timer] : m_timers)
        timer->stop();
    {
        // Messages still queued for the window die with it.
        std::lock_guard<std::mutex> lock(m_postMutex);
        m_posted.clear();
    }
    hide();
    return TRUE;
}

void CDialogEx::OnOK()
{
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialogEx::OnCancel()
{
    EndDialog(IDCANCEL);
}

BOOL CDialogEx::UpdateData(BOOL saveAndValidate)
{
    CDataExchange dx(this, saveAndValidate != FALSE);
    DoDataExchange(&dx);
    return dx.Stopped() ? FALSE : TRUE;
}
