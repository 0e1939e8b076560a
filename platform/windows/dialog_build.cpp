// Building a dialog from its template: the font and its base units, the
// controls placed in dialog units, their signals wired as the window's
// messages, the labels' mnemonics, the combo boxes' initial items, the first
// focus, and the controls looked up by id.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>

#include "platform/windows/dialog.h"
#include "platform/windows/dialog_widgets.h"

namespace {

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

}  // namespace

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
