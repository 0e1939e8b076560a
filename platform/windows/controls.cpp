// Control wrappers over the Qt widgets a dialog template built.
#include "platform/windows/controls.h"

#include <QAbstractButton>
#include <QApplication>
#include <algorithm>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTreeWidget>

#include "platform/system/cp932.h"
#include "platform/windows/ddx.h"
#include "platform/windows/dialog.h"

namespace {

// Draws a cell as the style does, selection included, then the grid lines on
// its right and bottom edges.
class GridLineDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        painter->save();
        painter->setPen(QColor(0xC0, 0xC0, 0xC0));
        painter->drawLine(option.rect.topRight(), option.rect.bottomRight());
        painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
        painter->restore();
    }
};

}  // namespace

int GetSystemMetrics(int index)
{
    const QStyle* style = QApplication::style();
    switch (index) {
    case SM_CXVSCROLL: return style->pixelMetric(QStyle::PM_ScrollBarExtent);
    case SM_CXEDGE: return 2;
    case SM_CXICON:
    case SM_CYICON: return style->pixelMetric(QStyle::PM_LargeIconSize);
    default: return 0;
    }
}

QWidget* GetFocus()
{
    return QApplication::focusWidget();
}

void DDX_Control(CDataExchange* pDX, unsigned id, CWndControl& control)
{
    if (control.GetWidget() == nullptr)
        control.Attach(pDX->m_pDlgWnd->GetDlgItem(id));
}

// --- CWndControl --------------------------------------------------------------

BOOL CWndControl::EnableWindow(BOOL enable)
{
    if (m_widget == nullptr)
        return FALSE;
    const BOOL wasDisabled = m_widget->isEnabled() ? FALSE : TRUE;
    m_widget->setEnabled(enable != FALSE);
    return wasDisabled;
}

BOOL CWndControl::IsWindowEnabled() const
{
    return m_widget != nullptr && m_widget->isEnabled() ? TRUE : FALSE;
}

void CWndControl::GetClientRect(RECT* rect) const
{
    *rect = RECT{0, 0, 0, 0};
    if (m_widget == nullptr)
        return;
    // The client area of a framed control is its size less the frame.
    const QRect r = m_widget->contentsRect();
    rect->right = r.width();
    rect->bottom = r.height();
}

// --- CListCtrl ----------------------------------------------------------------

QTreeWidget* CListCtrl::Tree() const
{
    return qobject_cast<QTreeWidget*>(m_widget);
}

DWORD CListCtrl::GetExtendedStyle() const
{
    return m_exStyle;
}

DWORD CListCtrl::SetExtendedStyle(DWORD style)
{
    const DWORD old = m_exStyle;
    m_exStyle = style;
    if (QTreeWidget* t = Tree()) {
        t->setSelectionBehavior((style & LVS_EX_FULLROWSELECT) ? QAbstractItemView::SelectRows
                                                               : QAbstractItemView::SelectItems);
        // Grid lines come from the item delegate, not a style sheet: styling
        // the items by sheet loses the selection's background while keeping
        // its text colour, so a selected row read white on white.
        const bool hasGrid = dynamic_cast<GridLineDelegate*>(t->itemDelegate()) != nullptr;
        if ((style & LVS_EX_GRIDLINES) && !hasGrid)
            t->setItemDelegate(new GridLineDelegate(t));
        else if (!(style & LVS_EX_GRIDLINES) && hasGrid)
            t->setItemDelegate(new QStyledItemDelegate(t));
    }
    return old;
}

int CListCtrl::InsertColumn(int col, const std::string& heading, int format, int width)
{
    QTreeWidget* t = Tree();
    if (t == nullptr)
        return -1;
    const int count = t->columnCount();
    col = std::clamp(col, 0, count);
    QStringList labels;
    for (int i = 0; i < count; ++i)
        labels << t->headerItem()->text(i);
    labels.insert(col, cp932::ToQString(heading));
    std::vector<int> widths;
    for (int i = 0; i < count; ++i)
        widths.push_back(t->columnWidth(i));
    widths.insert(widths.begin() + col, width);
    t->setColumnCount(count + 1);
    t->setHeaderLabels(labels);
    for (int i = 0; i <= count; ++i) {
        t->header()->setSectionResizeMode(i, QHeaderView::Interactive);
        t->setColumnWidth(i, widths[static_cast<size_t>(i)]);
    }
    (void)format;  // every column is left-aligned
    return col;
}

int CListCtrl::GetColumnWidth(int col) const
{
    const QTreeWidget* t = Tree();
    return t != nullptr && col >= 0 && col < t->columnCount() ? t->columnWidth(col) : 0;
}

std::string CListCtrl::GetColumnHeading(int col) const
{
    const QTreeWidget* t = Tree();
    if (t == nullptr || col < 0 || col >= t->columnCount())
        return {};
    return cp932::FromQString(t->headerItem()->text(col));
}

int CListCtrl::GetColumnCount() const
{
    const QTreeWidget* t = Tree();
    return t != nullptr ? t->columnCount() : 0;
}

int CListCtrl::InsertItem(int row, const std::string& text)
{
    QTreeWidget* t = Tree();
    if (t == nullptr)
        return -1;
    row = std::clamp(row, 0, t->topLevelItemCount());
    auto* item = new QTreeWidgetItem();
    item->setText(0, cp932::ToQString(text));
    t->insertTopLevelItem(row, item);
    return row;
}

BOOL CListCtrl::SetItemText(int row, int col, const std::string& text)
{
    QTreeWidget* t = Tree();
    if (t == nullptr || row < 0 || row >= t->topLevelItemCount() || col < 0 || col >= t->columnCount())
        return FALSE;
    t->topLevelItem(row)->setText(col, cp932::ToQString(text));
    return TRUE;
}

std::string CListCtrl::GetItemText(int row, int col) const
{
    const QTreeWidget* t = Tree();
    if (t == nullptr || row < 0 || row >= t->topLevelItemCount())
        return {};
    return cp932::FromQString(t->topLevelItem(row)->text(col));
}

BOOL CListCtrl::DeleteAllItems()
{
    QTreeWidget* t = Tree();
    if (t == nullptr)
        return FALSE;
    t->clear();
    return TRUE;
}

int CListCtrl::GetItemCount() const
{
    const QTreeWidget* t = Tree();
    return t != nullptr ? t->topLevelItemCount() : 0;
}

int CListCtrl::GetNextItem(int start, int flags) const
{
    const QTreeWidget* t = Tree();
    if (t == nullptr)
        return -1;
    for (int row = start + 1; row < t->topLevelItemCount(); ++row) {
        if (!(flags & LVNI_SELECTED) || t->topLevelItem(row)->isSelected())
            return row;
    }
    return -1;
}

void CListCtrl::SetItemSelected(int row, bool selected)
{
    QTreeWidget* t = Tree();
    if (t != nullptr && row >= 0 && row < t->topLevelItemCount())
        t->topLevelItem(row)->setSelected(selected);
}

// --- CButton, CComboBox, CEdit -------------------------------------------------

int CButton::GetCheck() const
{
    const auto* b = qobject_cast<QAbstractButton*>(m_widget);
    return b != nullptr && b->isChecked() ? 1 : 0;
}

void CButton::SetCheck(int check)
{
    if (auto* b = qobject_cast<QAbstractButton*>(m_widget))
        b->setChecked(check != 0);
}

int CComboBox::GetCurSel() const
{
    const auto* c = qobject_cast<QComboBox*>(m_widget);
    return c != nullptr ? c->currentIndex() : -1;
}

int CComboBox::SetCurSel(int index)
{
    auto* c = qobject_cast<QComboBox*>(m_widget);
    if (c == nullptr)
        return -1;
    // An index with no item clears the selection.
    const bool valid = index >= 0 && index < c->count();
    c->setCurrentIndex(valid ? index : -1);
    return valid ? index : -1;
}

int CComboBox::GetCount() const
{
    const auto* c = qobject_cast<QComboBox*>(m_widget);
    return c != nullptr ? c->count() : 0;
}

int CComboBox::AddString(const std::string& text)
{
    auto* c = qobject_cast<QComboBox*>(m_widget);
    if (c == nullptr)
        return -1;
    c->addItem(cp932::ToQString(text));
    return c->count() - 1;
}

std::string CComboBox::GetLBText(int index) const
{
    const auto* c = qobject_cast<QComboBox*>(m_widget);
    return c != nullptr && index >= 0 && index < c->count() ? cp932::FromQString(c->itemText(index))
                                                            : std::string();
}

void CComboBox::ResetContent()
{
    if (auto* c = qobject_cast<QComboBox*>(m_widget))
        c->clear();
}

std::string CEdit::GetText() const
{
    return GetEditText(m_widget);
}

void CEdit::SetText(const std::string& text)
{
    SetEditText(m_widget, text);
}

void CEdit::SetLimitText(size_t maxBytes)
{
    LimitEditText(m_widget, maxBytes);
}

// --- CListBox -------------------------------------------------------------------
// Every change here blocks the list's signals: only the user's own choices
// are reported as selection changes.

QListWidget* CListBox::List() const
{
    return qobject_cast<QListWidget*>(m_widget);
}

int CListBox::GetCount() const
{
    const QListWidget* l = List();
    return l != nullptr ? l->count() : 0;
}

int CListBox::GetCurSel() const
{
    const QListWidget* l = List();
    if (l == nullptr)
        return LB_ERR;
    for (int i = 0; i < l->count(); ++i) {
        if (l->item(i)->isSelected())
            return i;
    }
    return LB_ERR;
}

int CListBox::SetCurSel(int index)
{
    QListWidget* l = List();
    if (l == nullptr)
        return LB_ERR;
    const QSignalBlocker quiet(l);
    if (index < 0 || index >= l->count()) {
        l->clearSelection();
        return LB_ERR;
    }
    l->setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
    return index;
}

int CListBox::AddString(const std::string& text)
{
    return InsertString(-1, text);
}

int CListBox::InsertString(int index, const std::string& text)
{
    QListWidget* l = List();
    if (l == nullptr || index > l->count())
        return LB_ERR;
    const QSignalBlocker quiet(l);
    const int row = index < 0 ? l->count() : index;
    l->insertItem(row, cp932::ToQString(text));
    return row;
}

int CListBox::DeleteString(int index)
{
    QListWidget* l = List();
    if (l == nullptr || index < 0 || index >= l->count())
        return LB_ERR;
    const QSignalBlocker quiet(l);
    const bool wasSelected = l->item(index)->isSelected();
    delete l->takeItem(index);
    // The view would move the selection on to the next entry.
    if (wasSelected) {
        l->clearSelection();
        l->setCurrentRow(-1, QItemSelectionModel::NoUpdate);
    }
    return l->count();
}

std::string CListBox::GetText(int index) const
{
    const QListWidget* l = List();
    if (l == nullptr || index < 0 || index >= l->count())
        return {};
    return cp932::FromQString(l->item(index)->text());
}

void CListBox::ResetContent()
{
    if (QListWidget* l = List()) {
        const QSignalBlocker quiet(l);
        l->clear();
    }
}

// --- CStatic --------------------------------------------------------------------

void CStatic::SetWindowText(const std::string& text)
{
    if (auto* label = qobject_cast<QLabel*>(m_widget))
        label->setText(cp932::ToQString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

std::string CStatic::GetWindowText() const
{
    const auto* label = qobject_cast<const QLabel*>(m_widget);
    return label != nullptr
               ? cp932::FromQString(QString(label->text()).replace(u'\n', QStringLiteral("\r\n")))
               : std::string();
}
