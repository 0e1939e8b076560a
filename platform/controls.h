// Thin control wrappers bound to the widgets a dialog template built: the list
// view (report view over QTreeWidget), buttons, combo boxes and edits. Texts
// are code-page (CP932) bytes, as everywhere in the program.
#pragma once

#include <string>

#include "platform/wintypes.h"

class QAbstractButton;
class QComboBox;
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
};
