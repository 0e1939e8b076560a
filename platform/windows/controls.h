// Thin control wrappers bound to the widgets a dialog template built: the list
// view (report view over QTreeWidget), list boxes, buttons, combo boxes, edits
// and static texts. Texts are code-page (CP932) bytes, as everywhere in the
// program.
#pragma once

#include <string>

#include "platform/base/wintypes.h"

class QAbstractButton;
class QComboBox;
class QListWidget;
class QTreeWidget;
class QWidget;

struct RECT {
    int left, top, right, bottom;
};

constexpr int LVCFMT_LEFT = 0;
constexpr int LVNI_ALL = 0;
constexpr int LVNI_SELECTED = 2;
constexpr DWORD LVS_EX_GRIDLINES = 0x01;
constexpr DWORD LVS_EX_FULLROWSELECT = 0x20;

// System metrics: the list's usable width and the large icon's size.
constexpr int SM_CXVSCROLL = 2;
constexpr int SM_CXICON = 11;
constexpr int SM_CYICON = 12;
constexpr int SM_CXEDGE = 45;
int GetSystemMetrics(int index);

// The widget that has the keyboard focus; null when none has.
QWidget* GetFocus();

// An edit's text as the system's edits hand it out: each line break of a
// multi-line edit is CR LF, and a lone CR or LF it was given comes back as it
// was, so a text survives being shown and taken back byte for byte.
std::string GetEditText(const QWidget* edit);
// Sets an edit's text, but only when it differs, so an unchanged field keeps
// its cursor and selection. A limit set on the edit does not cut it.
void SetEditText(QWidget* edit, const std::string& text);
// The most bytes (GetEditText's) the user can bring the text to by typing or
// pasting; what does not fit is not taken. Text already there is kept.
void LimitEditText(QWidget* edit, size_t maxBytes);

class CWndControl {
public:
    virtual ~CWndControl() = default;
    void Attach(QWidget* w) { m_widget = w; }
    QWidget* GetWidget() const { return m_widget; }
    BOOL EnableWindow(BOOL enable);
    BOOL IsWindowEnabled() const;
    void GetClientRect(RECT* rect) const;

protected:
    QWidget* m_widget = nullptr;
};

class CListCtrl : public CWndControl {
public:
    DWORD GetExtendedStyle() const;
    DWORD SetExtendedStyle(DWORD style);
    int InsertColumn(int col, const std::string& heading, int format, int width);
    int GetColumnWidth(int col) const;
    std::string GetColumnHeading(int col) const;
    int GetColumnCount() const;
    int InsertItem(int row, const std::string& text);
    BOOL SetItemText(int row, int col, const std::string& text);
    std::string GetItemText(int row, int col) const;
    BOOL DeleteAllItems();
    int GetItemCount() const;
    // The next row after `start` (-1: from the top) that matches the flags;
    // -1 when none.
    int GetNextItem(int start, int flags) const;
    // Selects or deselects one row (as a click would).
    void SetItemSelected(int row, bool selected);

private:
    QTreeWidget* Tree() const;
    DWORD m_exStyle = 0;
};

constexpr int LB_ERR = -1;

// A single-selection list box over QListWidget. Changes made here are not
// reported as the user's selection changes.
class CListBox : public CWndControl {
public:
    int GetCount() const;
    // The selected entry; LB_ERR when none is selected.
    int GetCurSel() const;
    // Selects the entry; -1 (or an index with no entry) leaves none selected.
    int SetCurSel(int index);
    // Appends an entry; returns its index.
    int AddString(const std::string& text);
    // Inserts an entry before `index` (-1: at the end); returns its index.
    int InsertString(int index, const std::string& text);
    // Removes an entry, leaving no entry selected if it was the selected one;
    // returns the number of entries left, LB_ERR for an index with no entry.
    int DeleteString(int index);
    std::string GetText(int index) const;
    void ResetContent();

private:
    QListWidget* List() const;
};

// A static text; CR LF in its text breaks the line.
class CStatic : public CWndControl {
public:
    void SetWindowText(const std::string& text);
    std::string GetWindowText() const;
};

class CButton : public CWndControl {
public:
    int GetCheck() const;
    void SetCheck(int check);
};

class CComboBox : public CWndControl {
public:
    int GetCurSel() const;
    int SetCurSel(int index);
    int GetCount() const;
    int AddString(const std::string& text);
    std::string GetLBText(int index) const;
    void ResetContent();
};

class CEdit : public CWndControl {
public:
    std::string GetText() const;
    void SetText(const std::string& text);
    // The most bytes the user can type into the edit (see LimitEditText).
    void SetLimitText(size_t maxBytes);
};
