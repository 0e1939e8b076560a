// The widgets behind a template's controls where they differ from Qt's own.
#include "platform/windows/dialog_widgets.h"

#include <QLineEdit>
#include <QMouseEvent>
#include <QPalette>
#include <QPlainTextEdit>
#include <algorithm>

DigitsOnlyValidator::DigitsOnlyValidator(QLineEdit* edit) : QValidator(edit), m_old(edit->text())
{
    // The edit changes its text before it asks; the last text it took is
    // what the change is measured against.
    connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) { m_old = text; });
}

QValidator::State DigitsOnlyValidator::validate(QString& input, int& /*pos*/) const
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

ListBoxWidget::ListBoxWidget(QWidget* parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSortingEnabled(false);
}

QItemSelectionModel::SelectionFlags ListBoxWidget::selectionCommand(const QModelIndex& index,
                                                                    const QEvent* event) const
{
    const QItemSelectionModel::SelectionFlags flags = QListWidget::selectionCommand(index, event);
    return (flags & QItemSelectionModel::Deselect) ? QItemSelectionModel::ClearAndSelect : flags;
}

void ListBoxWidget::mousePressEvent(QMouseEvent* event)
{
    if (!indexAt(event->position().toPoint()).isValid()) {
        setFocus(Qt::MouseFocusReason);
        return;
    }
    QListWidget::mousePressEvent(event);
}

void ListViewWidget::mousePressEvent(QMouseEvent* event)
{
    const QPoint inFirstColumn(columnViewportPosition(0), event->position().toPoint().y());
    const bool leftOrRight = event->button() == Qt::LeftButton || event->button() == Qt::RightButton;
    if (leftOrRight && !indexAt(inFirstColumn).isValid())
        clearSelection();
    QTreeWidget::mousePressEvent(event);
}

void HideSelectionWithoutFocus(QPlainTextEdit* edit)
{
    QPalette palette = edit->palette();
    palette.setBrush(QPalette::Inactive, QPalette::Highlight,
                     palette.brush(QPalette::Inactive, QPalette::Base));
    palette.setBrush(QPalette::Inactive, QPalette::HighlightedText,
                     palette.brush(QPalette::Inactive, QPalette::Text));
    edit->setPalette(palette);
}
