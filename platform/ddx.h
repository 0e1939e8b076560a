// Dialog data exchange: binding controls to members and moving values between
// them. A failed check shows its message and marks the exchange failed.
#pragma once

#include "platform/controls.h"

class CDialogEx;

class CDataExchange {
public:
    CDataExchange(CDialogEx* dlg, bool saveAndValidate) : m_pDlgWnd(dlg), m_bSaveAndValidate(saveAndValidate) {}
    CDialogEx* m_pDlgWnd;
    bool m_bSaveAndValidate;
    bool Failed() const { return m_failed; }
    void Fail() { m_failed = true; }

private:
    bool m_failed = false;
};

// Binds a control wrapper to the dialog's control with that id.
void DDX_Control(CDataExchange* pDX, unsigned id, CWndControl& control);
