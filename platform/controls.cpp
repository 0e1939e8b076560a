// Control wrappers over the Qt widgets a dialog template built.
#include "platform/controls.h"

#include <QAbstractButton>
#include <QApplication>
#include <algorithm>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStyle>
#include <QTreeWidget>

#include "platform/cp932.h"
#include "platform/ddx.h"
#include "platform/dialog.h"

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
        t->setStyleSheet((style & LVS_EX_GRIDLINES)
                             ? QStringLiteral("QTreeView::item { border-right: 1px solid #c0c0c0;"
                                              " border-bottom: 1px solid #c0c0c0; }")
                             : QString());
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
    if (c == nullptr || index < -1 || index >= c->count())
        return -1;
    c->setCurrentIndex(index);
    return index;
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
    return c != nullptr && index >= 0 && index < c->count() ? cp932::FromQString(c->itemText(index)) : std::string();
}

void CComboBox::ResetContent()
{
    if (auto* c = qobject_cast<QComboBox*>(m_widget))
        c->clear();
}

std::string CEdit::GetText() const
{
    if (const auto* e = qobject_cast<QLineEdit*>(m_widget))
        return cp932::FromQString(e->text());
    if (const auto* p = qobject_cast<QPlainTextEdit*>(m_widget))
        return cp932::FromQString(p->toPlainText());
    return {};
}

void CEdit::SetText(const std::string& text)
{
    if (auto* e = qobject_cast<QLineEdit*>(m_widget))
        e->setText(cp932::ToQString(text));
    else if (auto* p = qobject_cast<QPlainTextEdit*>(m_widget))
        p->setPlainText(cp932::ToQString(text));
}
