// The dialog window base on Qt: template building, message dispatch, timers.
#include "platform/windows/dialog.h"

#include <QApplication>
#include <algorithm>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QValidator>
#include <QWindow>
#include <QWindowStateChangeEvent>

#include "platform/system/cp932.h"
#include "platform/windows/msgbox.h"
#include "platform/windows/ownedwindows.h"
#include "platform/windows/paint.h"
#include "platform/windows/postbatch.h"

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

int OwnerCount(const QWidget* window)
{
    int n = 0;
    for (const QWidget* w = window->parentWidget(); w != nullptr; w = w->parentWidget())
        ++n;
    return n;
}

QString Utf8(const char* text)
{
    return QString::fromUtf8(text != nullptr ? text : "");
}

// The faces the templates name, on the fonts this system has: the IPA Gothic
// fonts hold every character of CP932, the fixed-pitch one for "ＭＳ ゴシック"
// and the proportional one for the proportional faces.
QFont DialogFont(const char* face, int pointSize)
{
    static const bool substituted = [] {
        const QStringList fixed{QStringLiteral("IPAGothic")};
        const QStringList proportional{QStringLiteral("IPAPGothic")};
        QFont::insertSubstitutions(QString::fromUtf8("ＭＳ ゴシック"), fixed);
        QFont::insertSubstitutions(QStringLiteral("MS Gothic"), fixed);
        QFont::insertSubstitutions(QString::fromUtf8("ＭＳ Ｐゴシック"), proportional);
        QFont::insertSubstitutions(QStringLiteral("MS PGothic"), proportional);
        QFont::insertSubstitutions(QStringLiteral("MS UI Gothic"), proportional);
        return true;
    }();
    (void)substituted;
    return QFont(Utf8(face), pointSize);
}

// Dialog units to pixels, rounded as the system's MulDiv rounds.
int MulDiv(int value, int numerator, int denominator)
{
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

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

// The dialog font's base units: the average width of the 52 Latin letters
// and the line height, in pixels.
void BaseUnits(const QFont& font, int& bx, int& by)
{
    const QFontMetrics fm(font);
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    bx = (fm.horizontalAdvance(letters) / 26 + 1) / 2;
    by = fm.height();
    if (bx <= 0)
        bx = 6;
    if (by <= 0)
        by = 13;
}

// An edit that takes only digits from the keyboard and the clipboard, as the
// system's digits-only edits do: what a change would insert must be digits;
// text set by the program, and what is already there, are not judged.
class DigitsOnlyValidator : public QValidator {
public:
    explicit DigitsOnlyValidator(QLineEdit* edit) : QValidator(edit), m_old(edit->text())
    {
        // The edit changes its text before it asks; the last text it took is
        // what the change is measured against.
        connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) { m_old = text; });
    }
    State validate(QString& input, int& /*pos*/) const override
    {
        const QString& old = m_old;
        qsizetype begin = 0;
        const qsizetype shortest = std::min(input.size(), old.size());
        while (begin < shortest && input[begin] == old[begin])
            ++begin;
        qsizetype same = 0;
        while (same < shortest - begin && input[input.size() - 1 - same] == old[old.size() - 1 - same])
            ++same;
        for (qsizetype i = begin; i < input.size() - same; ++i) {
            if (input[i] < u'0' || input[i] > u'9')
                return Invalid;
        }
        return Acceptable;
    }

private:
    QString m_old;
};

// A single-selection list box: a click or a key always selects the entry it
// meets, Ctrl does not take the selection away, and a click below the last
// entry leaves the selection as it is.
class ListBoxWidget : public QListWidget {
public:
    explicit ListBoxWidget(QWidget* parent) : QListWidget(parent)
    {
        setSelectionMode(QAbstractItemView::SingleSelection);
        setSortingEnabled(false);
    }

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override
    {
        const QItemSelectionModel::SelectionFlags flags = QListWidget::selectionCommand(index, event);
        return (flags & QItemSelectionModel::Deselect) ? QItemSelectionModel::ClearAndSelect : flags;
    }
    void mousePressEvent(QMouseEvent* event) override
    {
        if (!indexAt(event->position().toPoint()).isValid()) {
            setFocus(Qt::MouseFocusReason);
            return;
        }
        QListWidget::mousePressEvent(event);
    }
};

// A report-view list: a press of either button below its last row clears the
// selection, before a right press asks for the list's menu.
class ListViewWidget : public QTreeWidget {
public:
    explicit ListViewWidget(QWidget* parent) : QTreeWidget(parent) {}

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        const QPoint inFirstColumn(columnViewportPosition(0), event->position().toPoint().y());
        const bool leftOrRight = event->button() == Qt::LeftButton || event->button() == Qt::RightButton;
        if (leftOrRight && !indexAt(inFirstColumn).isValid())
            clearSelection();
        QTreeWidget::mousePressEvent(event);
    }
};

// Without the focus a multi-line edit shows no selection, as an edit does;
// the selection stays for when the focus comes back.
void HideSelectionWithoutFocus(QPlainTextEdit* edit)
{
    QPalette palette = edit->palette();
    palette.setBrush(QPalette::Inactive, QPalette::Highlight,
                     palette.brush(QPalette::Inactive, QPalette::Base));
    palette.setBrush(QPalette::Inactive, QPalette::HighlightedText,
                     palette.brush(QPalette::Inactive, QPalette::Text));
    edit->setPalette(palette);
}

// The property that marks a multi-line edit in which Enter starts a line.
const char* const kWantReturn = "skiffaWantReturn";

bool IsEnterKey(const QKeyEvent* event)
{
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

}  // namespace

CDialogEx::CDialogEx(const DialogTemplate& tmpl, QWidget* parent) : QDialog(parent), m_template(tmpl)
{
}

CDialogEx::~CDialogEx()
{
}

// --- building ----------------------------------------------------------------

void CDialogEx::BuildFromTemplate()
{
    if (m_built)
        return;
    m_built = true;

    const QFont font = DialogFont(m_template.fontFace, m_template.pointSize);
    setFont(font);
    BaseUnits(font, m_baseX, m_baseY);
    auto px = [this](int dluX, int dluY) {
        return QPoint(MulDiv(dluX, m_baseX, 4), MulDiv(dluY, m_baseY, 8));
    };

    setWindowTitle(Utf8(m_template.caption));
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (m_template.style & TS_SYSMENU)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
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
            auto* tree = new ListViewWidget(this);
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
        case ControlKind::CheckBox: w = new QCheckBox(text, this); break;
        case ControlKind::ComboBox: {
            auto* combo = new QComboBox(this);
            if (ct.style & TS_DROPDOWN) {
                // The field takes what is typed as it is: no completion, and
                // nothing typed becomes an item of the list.
                combo->setEditable(true);
                combo->setInsertPolicy(QComboBox::NoInsert);
                combo->setCompleter(nullptr);
            }
            w = combo;
            break;
        }
        case ControlKind::Edit: {
            auto* e = new QLineEdit(text, this);
            e->setReadOnly(ct.style & TS_READONLY);
            if (ct.style & TS_NUMBER)
                e->setValidator(new DigitsOnlyValidator(e));
            w = e;
            break;
        }
        case ControlKind::MultiLineEdit: {
            auto* e = new QPlainTextEdit(text, this);
            e->setReadOnly(ct.style & TS_READONLY);
            e->setTabChangesFocus(true);  // Tab moves on, as in every dialog
            e->setLineWrapMode((ct.style & TS_AUTOHSCROLL) ? QPlainTextEdit::NoWrap
                                                           : QPlainTextEdit::WidgetWidth);
            e->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            e->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            e->setProperty(kWantReturn, (ct.style & TS_WANTRETURN) != 0);
            HideSelectionWithoutFocus(e);
            w = e;
            break;
        }
        case ControlKind::ListBox: w = new ListBoxWidget(this); break;
        case ControlKind::GroupBox: w = new QGroupBox(text, this); break;
        case ControlKind::Static: {
            auto* label = new QLabel(text, this);
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setWordWrap(ct.style & TS_MULTILINE);
            w = label;
            break;
        }
        }
        const QPoint pos = px(ct.x, ct.y);
        QPoint ext = px(ct.cx, ct.cy);
        // A drop-down list's height in the template includes its open list;
        // closed, it is as high as its selection field.
        if (ct.kind == ControlKind::ComboBox)
            ext.setY(std::min(ext.y(), w->sizeHint().height()));
        w->setGeometry(pos.x(), pos.y(), ext.x(), ext.y());
        w->setObjectName(QString::number(ct.id));
        if (!(ct.style & TS_TABSTOP))
            w->setFocusPolicy(ct.kind == ControlKind::Static || ct.kind == ControlKind::GroupBox
                                  ? Qt::NoFocus
                                  : w->focusPolicy());
        w->setEnabled(!(ct.style & TS_DISABLED));
        w->setVisible(!(ct.style & TS_HIDDEN));
        m_controls.emplace(ct.id, w);  // the first control of an id answers for it
        m_items.push_back(w);
        w->installEventFilter(this);
        WireControl(ct, w);
    }
    SetLabelBuddies();
}

// A label's mnemonic moves the focus to the control that follows it in the
// template.
void CDialogEx::SetLabelBuddies()
{
    const auto& controls = m_template.controls;
    for (size_t i = 0; i < controls.size(); ++i) {
        auto* label = qobject_cast<QLabel*>(m_items[i]);
        if (label == nullptr || !label->text().contains(QLatin1Char('&')))
            continue;
        for (size_t j = i + 1; j < controls.size(); ++j) {
            if (controls[j].kind != ControlKind::Static && controls[j].kind != ControlKind::GroupBox) {
                label->setBuddy(m_items[j]);
                break;
            }
        }
    }
}

// The combo boxes' items from the template's initialisation data, added in
// order and with nothing selected.
void CDialogEx::ExecuteDlgInit()
{
    for (const ComboBoxItems& init : m_template.initData) {
        auto* combo = qobject_cast<QComboBox*>(GetDlgItem(init.id));
        if (combo == nullptr)
            continue;
        combo->clear();
        for (const char* item : init.items)
            combo->addItem(Utf8(item));
        combo->setCurrentIndex(-1);
    }
}

void CDialogEx::FocusFirstTabStop()
{
    for (size_t i = 0; i < m_items.size(); ++i) {
        QWidget* w = m_items[i];
        if ((m_template.controls[i].style & TS_TABSTOP) && w->isEnabled() && w->isVisibleTo(this) &&
            (w->focusPolicy() & Qt::TabFocus)) {
            // The window may not be active yet: its focus then arrives as an
            // activation, which selects nothing by itself.
            w->setFocus(Qt::TabFocusReason);
            SelectEditText(w);
            return;
        }
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
        connect(b, &QAbstractButton::clicked, this, [command, b] {
            b->setProperty(kCheckIndeterminate, false);  // a click sets or clears it plainly
            command(BN_CLICKED);
        });
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        // Only the user's choice is a selection change; setting one is not.
        connect(combo, &QComboBox::activated, this, [command] { command(CBN_SELCHANGE); });
    } else if (auto* list = qobject_cast<QListWidget*>(w)) {
        if (ct.style & TS_NOTIFY)
            connect(list, &QListWidget::itemSelectionChanged, this, [command] { command(LBN_SELCHANGE); });
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

HWND CDialogEx::GetParent() const
{
    return dynamic_cast<MessageTarget*>(parentWidget());
}

void CDialogEx::DisableSystemClose()
{
    m_systemCloseDisabled = true;
    setWindowFlag(Qt::WindowCloseButtonHint, false);
}

// --- modal run ---------------------------------------------------------------

int CDialogEx::DoModal()
{
    if (IsEndingWindow(parentWidget()))
        return IDCANCEL;
    BuildFromTemplate();
    m_destroyed = false;
    m_endPending = false;
    m_ended = false;
    m_modalResult = IDCANCEL;
    const BOOL focusFirstControl = OnInitDialog();
    // Our own loop rather than QDialog::exec: a dialog that start-up keeps
    // hidden (in the tray) must still run, and end, its modal loop. A dialog
    // without an owner blocks no other window of the program: its tray icon
    // (a window of its own here) must still take clicks.
    setWindowModality(parentWidget() != nullptr ? Qt::WindowModal : Qt::NonModal);
    KeepOwnedWindowsWithOwners();
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

// --- messages ----------------------------------------------------------------

bool CDialogEx::PostMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    std::unique_lock<std::mutex> lock(m_postMutex);
    m_posted.push_back({msg, wParam, lParam, ++m_postedSerial});
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
    // One pass delivers what was queued when it began. What the reader
    // threads post meanwhile waits for the next pass, after the event loop
    // has given sockets, timers and signals their turn.
    std::unique_lock<std::mutex> lock(m_postMutex);
    const std::uint64_t last = m_postedSerial;
    lock.unlock();
    // A handler may end and destroy the window; then nothing more is delivered.
    const QPointer<CDialogEx> alive(this);
    while (alive && !m_ended) {
        lock.lock();
        if (m_posted.empty())
            return;
        if (m_posted.front().serial > last) {
            RequestDelivery(lock);
            return;
        }
        const Posted m = m_posted.front();
        m_posted.pop_front();
        // A handler may run a modal loop: the messages behind this one must
        // reach the window from there, as they would one by one.
        if (!m_posted.empty())
            RequestDelivery(lock);
        else
            lock.unlock();
        WindowProc(m.msg, m.wParam, m.lParam);
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

LRESULT CDialogEx::DefWindowProc(UINT msg, WPARAM wParam, LPARAM /*lParam*/)
{
    switch (msg) {
    case WM_CLOSE: OnCancel(); return 0;
    case WM_PAINT: OnPaint(); return 0;
    case WM_ICONERASEBKGND: EraseWindowBackground(reinterpret_cast<HDC>(wParam), *this); return 1;
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
    default: return 0;
    }
}

void CDialogEx::OnMessage(UINT msg, MessageHandler handler)
{
    m_map.push_back({msg, 0, 0, std::move(handler)});
}

void CDialogEx::OnCommand(UINT id, std::function<void()> handler)
{
    m_map.push_back({WM_COMMAND, 0, id, [h = std::move(handler)](WPARAM, LPARAM) {
                         h();
                         return LRESULT(0);
                     }});
}

void CDialogEx::OnControl(UINT code, UINT id, std::function<void()> handler)
{
    m_map.push_back({WM_COMMAND, code, id, [h = std::move(handler)](WPARAM, LPARAM) {
                         h();
                         return LRESULT(0);
                     }});
}

void CDialogEx::OnNotify(int code, UINT id, std::function<LRESULT(NMHDR*)> handler)
{
    m_map.push_back({WM_NOTIFY, static_cast<UINT>(code), id,
                     [h = std::move(handler)](WPARAM, LPARAM l) { return h(reinterpret_cast<NMHDR*>(l)); }});
}

// --- timers ------------------------------------------------------------------

UINT TimerElapse(UINT elapseMs)
{
    return std::clamp<UINT>(elapseMs, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
}

UINT CDialogEx::SetTimer(UINT id, UINT elapseMs)
{
    QTimer*& timer = m_timers[id];
    if (timer == nullptr) {
        timer = new QTimer(this);
        timer->setTimerType(Qt::PreciseTimer);
        connect(timer, &QTimer::timeout, this, [this, id] { SendMessage(WM_TIMER, id, 0); });
    }
    timer->start(static_cast<int>(TimerElapse(elapseMs)));
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

BOOL CDialogEx::UpdateData(BOOL saveAndValidate)
{
    CDataExchange dx(this, saveAndValidate != FALSE);
    DoDataExchange(&dx);
    return dx.Stopped() ? FALSE : TRUE;
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
