// The dialog window base on Qt: template building, message dispatch, timers.
#include "platform/dialog.h"

#include <QApplication>
#include <algorithm>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QWindowStateChangeEvent>

#include "platform/cp932.h"
#include "platform/msgbox.h"

namespace {

// Asks a window to deliver its posted messages.
class DeliverEvent : public QEvent {
public:
    static QEvent::Type EventType()
    {
        static const int type = QEvent::registerEventType();
        return static_cast<QEvent::Type>(type);
    }
    DeliverEvent() : QEvent(EventType()) {}
};

// The open post batches of this thread and the windows that got messages in
// them.
thread_local int t_batchDepth = 0;
thread_local std::vector<QPointer<CDialogEx>> t_batchWindows;

QString Utf8(const char* text)
{
    return QString::fromUtf8(text != nullptr ? text : "");
}

// The dialog font's base units: the average width of the 52 Latin letters
// and the line height, in pixels.
void BaseUnits(const QFont& font, int& bx, int& by)
{
    const QFontMetrics fm(font);
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    bx = (fm.horizontalAdvance(letters) / 26 + 1) / 2;
    by = fm.height();
    if (bx <= 0) bx = 6;
    if (by <= 0) by = 13;
}

}  // namespace

CDialogEx::CDialogEx(const DialogTemplate& tmpl, QWidget* parent)
    : QDialog(parent), m_template(tmpl), m_alive(std::make_shared<bool>(true))
{
}

CDialogEx::~CDialogEx()
{
    *m_alive = false;
}

// --- building ----------------------------------------------------------------

void CDialogEx::BuildFromTemplate()
{
    if (m_built)
        return;
    m_built = true;

    QFont font(Utf8(m_template.fontFace), m_template.pointSize);
    setFont(font);
    BaseUnits(font, m_baseX, m_baseY);
    auto px = [this](int dluX, int dluY) { return QPoint(dluX * m_baseX / 4, dluY * m_baseY / 8); };

    setWindowTitle(Utf8(m_template.caption));
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (m_template.style & TS_SYSMENU)
        flags |= Qt::WindowSystemMenuHint;
    if (m_template.style & TS_MINIMIZEBOX)
        flags |= Qt::WindowMinimizeButtonHint;
    if (m_template.style & TS_APPWINDOW)
        flags = (flags & ~Qt::Dialog) | Qt::Window;
    setWindowFlags(flags);
    const QPoint size = px(m_template.cx, m_template.cy);
    setFixedSize(size.x(), size.y());

    for (const ControlTemplate& ct : m_template.controls) {
        QWidget* w = nullptr;
        const QString text = Utf8(ct.text);
        switch (ct.kind) {
        case ControlKind::ListView: {
            auto* tree = new QTreeWidget(this);
            tree->setRootIsDecorated(false);
            tree->setItemsExpandable(false);
            tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
            tree->setSelectionBehavior(QAbstractItemView::SelectItems);
            tree->setColumnCount(0);
            tree->setContextMenuPolicy(Qt::CustomContextMenu);
            tree->header()->setStretchLastSection(false);
            tree->header()->setSectionsMovable(false);
            w = tree;
            break;
        }
        case ControlKind::PushButton:
        case ControlKind::DefPushButton: {
            auto* b = new QPushButton(text, this);
            b->setAutoDefault(false);
            b->setDefault(ct.kind == ControlKind::DefPushButton);
            w = b;
            break;
        }
        case ControlKind::CheckBox:
            w = new QCheckBox(text, this);
            break;
        case ControlKind::ComboBox:
            w = new QComboBox(this);
            break;
        case ControlKind::Edit: {
            auto* e = new QLineEdit(text, this);
            e->setReadOnly(ct.style & TS_READONLY);
            w = e;
            break;
        }
        case ControlKind::MultiLineEdit: {
            auto* e = new QPlainTextEdit(text, this);
            e->setReadOnly(ct.style & TS_READONLY);
            w = e;
            break;
        }
        case ControlKind::ListBox:
            w = new QListWidget(this);
            break;
        case ControlKind::GroupBox:
            w = new QGroupBox(text, this);
            break;
        case ControlKind::Static:
            w = new QLabel(text, this);
            break;
        }
        const QPoint pos = px(ct.x, ct.y);
        const QPoint ext = px(ct.cx, ct.cy);
        w->setGeometry(pos.x(), pos.y(), ext.x(), ext.y());
        w->setObjectName(QString::number(ct.id));
        if (!(ct.style & TS_TABSTOP))
            w->setFocusPolicy(ct.kind == ControlKind::Static || ct.kind == ControlKind::GroupBox
                                  ? Qt::NoFocus : w->focusPolicy());
        w->setEnabled(!(ct.style & TS_DISABLED));
        w->setVisible(!(ct.style & TS_HIDDEN));
        m_controls[ct.id] = w;
        WireControl(ct, w);
    }
}

// Control signals become the WM_COMMAND and WM_NOTIFY messages the window
// would receive, sent at once on the UI thread.
void CDialogEx::WireControl(const ControlTemplate& ct, QWidget* w)
{
    const UINT id = ct.id;
    auto command = [this, id](UINT code) {
        SendMessage(WM_COMMAND, static_cast<WPARAM>((code << 16) | id), 0);
    };
    auto notify = [this, id](int code) {
        NMHDR hdr{this, id, code};
        SendMessage(WM_NOTIFY, id, reinterpret_cast<LPARAM>(&hdr));
    };
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        connect(b, &QAbstractButton::clicked, this, [command] { command(BN_CLICKED); });
    } else if (auto* tree = qobject_cast<QTreeWidget*>(w)) {
        connect(tree, &QTreeWidget::itemSelectionChanged, this, [notify] { notify(LVN_ITEMCHANGED); });
        connect(tree, &QTreeWidget::customContextMenuRequested, this, [notify] { notify(NM_RCLICK); });
    }
}

QWidget* CDialogEx::GetDlgItem(UINT id) const
{
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

// --- modal run ---------------------------------------------------------------

int CDialogEx::DoModal()
{
    BuildFromTemplate();
    m_destroyed = false;
    m_endPending = false;
    m_modalResult = IDCANCEL;
    OnInitDialog();
    // Our own loop rather than QDialog::exec: a dialog that start-up keeps
    // hidden (in the tray) must still run, and end, its modal loop.
    setWindowModality(parentWidget() != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
    show();
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
    m_modalResult = result;
    m_endPending = true;
    QDialog::setVisible(false);
    if (m_loop != nullptr)
        m_loop->exit(result);
}

void CDialogEx::done(int r)
{
    // Qt's own paths (accept, reject) end the dialog like EndDialog.
    EndDialog(r);
}

BOOL CDialogEx::OnInitDialog()
{
    BuildFromTemplate();
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

// --- messages ----------------------------------------------------------------

bool CDialogEx::PostMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    std::unique_lock<std::mutex> lock(m_postMutex);
    m_posted.push_back({msg, wParam, lParam});
    if (t_batchDepth > 0) {
        // Only the UI thread opens batches: the batch's end delivers it.
        lock.unlock();
        if (std::find(t_batchWindows.begin(), t_batchWindows.end(), this) == t_batchWindows.end())
            t_batchWindows.emplace_back(this);
        return true;
    }
    RequestDelivery(lock);
    return true;
}

void CDialogEx::RequestDelivery(std::unique_lock<std::mutex>& lock)
{
    const bool request = !m_deliveryRequested;
    m_deliveryRequested = true;
    lock.unlock();
    if (request)
        QCoreApplication::postEvent(this, new DeliverEvent);
}

void CDialogEx::DeliverPosted()
{
    const std::shared_ptr<bool> alive = m_alive;
    for (;;) {
        std::unique_lock<std::mutex> lock(m_postMutex);
        if (m_posted.empty())
            return;
        const Posted m = m_posted.front();
        m_posted.pop_front();
        // A handler may run a modal loop: the messages behind this one must
        // reach the window from there, as they would one by one.
        if (!m_posted.empty())
            RequestDelivery(lock);
        else
            lock.unlock();
        WindowProc(m.msg, m.wParam, m.lParam);
        if (!*alive)
            return;
    }
}

PostBatch::PostBatch()
{
    ++t_batchDepth;
}

PostBatch::~PostBatch()
{
    if (--t_batchDepth > 0)
        return;
    std::vector<QPointer<CDialogEx>> windows;
    windows.swap(t_batchWindows);
    for (const QPointer<CDialogEx>& w : windows)
        if (w)
            w->DeliverPosted();
}

LRESULT CDialogEx::SendMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    return WindowProc(msg, wParam, lParam);
}

void CDialogEx::customEvent(QEvent* event)
{
    if (event->type() != DeliverEvent::EventType()) {
        QDialog::customEvent(event);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_postMutex);
        m_deliveryRequested = false;
    }
    DeliverPosted();
}

LRESULT CDialogEx::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (Dispatch(msg, wParam, lParam, result))
        return result;
    return DefWindowProc(msg, wParam, lParam);
}

bool CDialogEx::Dispatch(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    for (const MapEntry& e : m_map) {
        if (e.message != msg)
            continue;
        if (msg == WM_COMMAND) {
            const UINT code = HIWORD(static_cast<LPARAM>(wParam));
            const UINT id = LOWORD(static_cast<LPARAM>(wParam));
            if (e.id != id || e.code != code)
                continue;
        } else if (msg == WM_NOTIFY) {
            const auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
            if (hdr == nullptr || e.id != hdr->idFrom || e.code != static_cast<UINT>(hdr->code))
                continue;
        }
        result = e.handler(wParam, lParam);
        return true;
    }
    return false;
}

LRESULT CDialogEx::DefWindowProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_CLOSE:
        OnCancel();
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE)
            SendMessage(WM_CLOSE, 0, 0);
        return 0;
    case WM_COMMAND: {
        const UINT id = LOWORD(static_cast<LPARAM>(wParam));
        if (id == IDOK)
            OnOK();
        else if (id == IDCANCEL)
            OnCancel();
        return 0;
    }
    default:
        return 0;
    }
}

void CDialogEx::OnMessage(UINT msg, MessageHandler handler)
{
    m_map.push_back({msg, 0, 0, std::move(handler)});
}

void CDialogEx::OnCommand(UINT id, std::function<void()> handler)
{
    m_map.push_back({WM_COMMAND, 0, id, [h = std::move(handler)](WPARAM, LPARAM) { h(); return LRESULT(0); }});
}

void CDialogEx::OnControl(UINT code, UINT id, std::function<void()> handler)
{
    m_map.push_back({WM_COMMAND, code, id, [h = std::move(handler)](WPARAM, LPARAM) { h(); return LRESULT(0); }});
}

void CDialogEx::OnNotify(int code, UINT id, std::function<LRESULT(NMHDR*)> handler)
{
    m_map.push_back({WM_NOTIFY, static_cast<UINT>(code), id,
                     [h = std::move(handler)](WPARAM, LPARAM l) { return h(reinterpret_cast<NMHDR*>(l)); }});
}

// --- timers ------------------------------------------------------------------

UINT CDialogEx::SetTimer(UINT id, UINT elapseMs)
{
    QTimer*& timer = m_timers[id];
    if (timer == nullptr) {
        timer = new QTimer(this);
        timer->setTimerType(Qt::PreciseTimer);
        connect(timer, &QTimer::timeout, this, [this, id] { SendMessage(WM_TIMER, id, 0); });
    }
    // Like the system's timers, an elapse beyond the largest is the largest.
    timer->start(static_cast<int>(std::min<UINT>(elapseMs, 0x7FFFFFFF)));
    return id;
}

BOOL CDialogEx::KillTimer(UINT id)
{
    const auto it = m_timers.find(id);
    if (it == m_timers.end() || !it->second->isActive())
        return FALSE;
    it->second->stop();
    return TRUE;
}

bool CDialogEx::IsTimerPending(UINT id) const
{
    const auto it = m_timers.find(id);
    return it != m_timers.end() && it->second->isActive();
}

// --- window ------------------------------------------------------------------

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
    case SW_HIDE:
        hide();
        break;
    case SW_MINIMIZE:
    case SW_SHOWMINIMIZED:
        showMinimized();
        break;
    case SW_RESTORE:
    case SW_SHOWNORMAL:
        showNormal();
        break;
    default:
        show();
        break;
    }
    return wasVisible;
}

BOOL CDialogEx::IsIconic() const
{
    return isMinimized() ? TRUE : FALSE;
}

void CDialogEx::SetForegroundWindow()
{
    raise();
    activateWindow();
}

int CDialogEx::MessageBox(const std::string& text, const std::string& caption, UINT type)
{
    return MessageBoxA(this, text, caption, type);
}

BOOL CDialogEx::UpdateData(BOOL saveAndValidate)
{
    CDataExchange dx(this, saveAndValidate != FALSE);
    DoDataExchange(&dx);
    return dx.Failed() ? FALSE : TRUE;
}

// --- Qt events ---------------------------------------------------------------

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

void CDialogEx::closeEvent(QCloseEvent* event)
{
    // The window manager's close request is the system close command, unless
    // the system menu's Close item is greyed.
    event->ignore();
    if (!m_systemCloseDisabled)
        SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
}

void CDialogEx::keyPressEvent(QKeyEvent* event)
{
    WPARAM key = 0;
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        key = VK_RETURN;
        break;
    case Qt::Key_Escape:
        key = VK_ESCAPE;
        break;
    case Qt::Key_F1:
        key = VK_F1;
        break;
    default:
        QDialog::keyPressEvent(event);
        return;
    }
    MSG msg{this, WM_KEYDOWN, key, 0};
    if (PreTranslateMessage(&msg)) {
        event->accept();
        return;
    }
    if (key == VK_RETURN)
        SendMessage(WM_COMMAND, IDOK, 0);
    else if (key == VK_ESCAPE)
        SendMessage(WM_COMMAND, IDCANCEL, 0);
    else
        SendMessage(WM_HELP, 0, 0);
    event->accept();
}

void CDialogEx::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    const UINT type = isMinimized() ? SIZE_MINIMIZED : SIZE_RESTORED;
    SendMessage(WM_SIZE, type, MAKELPARAM(static_cast<WORD>(width()), static_cast<WORD>(height())));
}
