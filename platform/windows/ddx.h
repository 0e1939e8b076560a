// Dialog data exchange: binding controls to members and moving values between
// them, towards the controls or, with checks, towards the members. A rejected
// value shows the framework's message, puts the focus on its control and
// stops the exchange, so the members after it keep their values.
#pragma once

#include <string>

#include "platform/windows/controls.h"

class CDialogEx;
class QWidget;

class CDataExchange {
public:
    CDataExchange(CDialogEx* dlg, bool saveAndValidate) : m_pDlgWnd(dlg), m_bSaveAndValidate(saveAndValidate)
    {
    }
    CDialogEx* m_pDlgWnd;
    bool m_bSaveAndValidate;  // true: values are taken from the controls and checked

    // The control the next exchange and check are about; null when the dialog
    // has no control of that id.
    QWidget* PrepareCtrl(unsigned id);
    QWidget* PrepareEditCtrl(unsigned id);
    // The control last prepared; null when there is none.
    QWidget* LastCtrl() const;

    // Rejects the last prepared control's value: `message` in the framework's
    // box (exclamation icon, the program's name as caption), the focus on the
    // control (an edit's text selected), and the exchange stops.
    void Fail(const std::string& message);
    // True once a value was rejected; every exchange and check then does nothing.
    bool Stopped() const { return m_stopped; }

private:
    unsigned m_idLastControl = 0;
    bool m_bEditLastControl = false;
    bool m_stopped = false;
};

// Reads an integer as the framework reads "%d" from an edit: from its first 63
// bytes, blanks skipped, an optional sign, the digits, anything after them
// ignored. A number beyond the int range becomes the nearest end of the range.
// False, and `value` untouched, when no number can be read.
bool ParseDialogInt(const std::string& text, int& value);

// Binds a control wrapper to the dialog's control with that id.
void DDX_Control(CDataExchange* pDX, unsigned id, CWndControl& control);

// An int in an edit: shown with "%d"; taken as ParseDialogInt reads it, and
// rejected with message 61712 when no number can be read.
void DDX_Text(CDataExchange* pDX, unsigned id, int& value);

// A text in an edit, as GetEditText hands it out (a multi-line edit's line
// breaks as CR LF).
void DDX_Text(CDataExchange* pDX, unsigned id, std::string& value);

// While values are taken: rejects a text of more than maxBytes code-page
// bytes (a double-byte character counts two) with message 61716 naming the
// limit. While values are shown: the user can type no more than that into
// the edit last exchanged.
void DDV_MaxChars(CDataExchange* pDX, const std::string& value, int maxBytes);

// The text of a combo box. Taken: the text its field shows. Shown: the first
// item that begins with the text, compared without regard to case, is
// selected; when none does (or the text is empty), no item is selected and an
// editable combo box shows the text as it is.
void DDX_CBString(CDataExchange* pDX, unsigned id, std::string& value);

// While values are taken: rejects a value outside minVal to maxVal (both
// allowed) with message 61714 naming the two ends. While values are shown it
// does nothing.
void DDV_MinMaxInt(CDataExchange* pDX, int value, int minVal, int maxVal);

// A combo box's selected item: -1 when none is selected; an index with no
// item leaves the combo box without a selection.
void DDX_CBIndex(CDataExchange* pDX, unsigned id, int& index);

// A check box: 0 cleared, 1 set, 2 indeterminate. A value outside 0 to 2 is
// made 0 before it is shown. A two-state box shows 2 as set and hands it back
// as 2 until the user clicks it.
void DDX_Check(CDataExchange* pDX, unsigned id, int& value);
// The property of a two-state box that holds 2; a click clears it.
constexpr const char* kCheckIndeterminate = "skiffaCheckIndeterminate";
