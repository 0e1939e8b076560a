// The widgets behind a template's controls where the system's controls behave
// otherwise than Qt's own: the digits-only edit's validator, the list box, the
// report-view list and the multi-line edit's selection and Enter key.
#pragma once

#include <QItemSelectionModel>
#include <QListWidget>
#include <QString>
#include <QTreeWidget>
#include <QValidator>

class QEvent;
class QLineEdit;
class QModelIndex;
class QMouseEvent;
class QPlainTextEdit;
class QWidget;

// An edit that takes only digits from the keyboard and the clipboard, as the
// system's digits-only edits do: what a change would insert must be digits;
// text set by the program, and what is already there, are not judged.
class DigitsOnlyValidator : public QValidator {
public:
    explicit DigitsOnlyValidator(QLineEdit* edit);
    State validate(QString& input, int& pos) const override;

private:
    QString m_old;
};

// A single-selection list box: a click or a key always selects the entry it
// meets, Ctrl does not take the selection away, and a click below the last
// entry leaves the selection as it is.
class ListBoxWidget : public QListWidget {
public:
    explicit ListBoxWidget(QWidget* parent);

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override;
    void mousePressEvent(QMouseEvent* event) override;
};

// A report-view list: a press of either button below its last row clears the
// selection, before a right press asks for the list's menu.
class ListViewWidget : public QTreeWidget {
public:
    explicit ListViewWidget(QWidget* parent) : QTreeWidget(parent) {}

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

// Without the focus a multi-line edit shows no selection, as an edit does;
// the selection stays for when the focus comes back.
void HideSelectionWithoutFocus(QPlainTextEdit* edit);

// The property that marks a multi-line edit in which Enter starts a line.
const char* const kWantReturn = "skiffaWantReturn";
