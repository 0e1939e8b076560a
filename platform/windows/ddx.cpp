// The dialog data exchange on the template's Qt controls.
#include "platform/windows/ddx.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <algorithm>
#include <climits>

#include "platform/windows/afxstrings.h"
#include "platform/system/cp932.h"
#include "platform/windows/dialog.h"
#include "platform/windows/msgbox.h"

namespace {

// The framework reads at most this many bytes of an edit for a number.
constexpr size_t kNumberTextLimit = 63;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

}  // namespace

// --- the exchange ---------------------------------------------------------------

QWidget* CDataExchange::PrepareCtrl(unsigned id)
{
    m_idLastControl = id;
    m_bEditLastControl = false;
    return m_pDlgWnd->GetDlgItem(id);
}

QWidget* CDataExchange::LastCtrl() const
{
    return m_pDlgWnd->GetDlgItem(m_idLastControl);
}

QWidget* CDataExchange::PrepareEditCtrl(unsigned id)
{
    QWidget* w = PrepareCtrl(id);
    m_bEditLastControl = true;
    return w;
}

void CDataExchange::Fail(const std::string& message)
{
    AfxMessageBox(message, MB_ICONEXCLAMATION, m_pDlgWnd);
    if (QWidget* w = m_pDlgWnd->GetDlgItem(m_idLastControl)) {
        w->setFocus(Qt::OtherFocusReason);
        if (m_bEditLastControl)
            SelectEditText(w);
    }
    m_stopped = true;
}

// --- reading numbers ------------------------------------------------------------

bool ParseDialogInt(const std::string& text, int& value)
{
    const std::string s = text.substr(0, kNumberTextLimit);
    size_t i = 0;
    while (i < s.size() && IsBlank(s[i]))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    if (i >= s.size() || !IsDigit(s[i]))
        return false;
    // Saturates one past INT_MAX, which is enough for both ends.
    constexpr long long kCap = static_cast<long long>(INT_MAX) + 1;
    long long magnitude = 0;
    for (; i < s.size() && IsDigit(s[i]); ++i)
        magnitude = std::min(kCap, magnitude * 10 + (s[i] - '0'));
    const long long signedValue = negative ? -magnitude : magnitude;
    value = static_cast<int>(std::clamp<long long>(signedValue, INT_MIN, INT_MAX));
    return true;
}

// --- exchange functions ---------------------------------------------------------

void DDX_Text(CDataExchange* pDX, unsigned id, int& value)
{
    if (pDX->Stopped())
        return;
    QWidget* w = pDX->PrepareEditCtrl(id);
    if (w == nullptr)
        return;
    if (!pDX->m_bSaveAndValidate) {
        SetEditText(w, std::to_string(value));
        return;
    }
    if (!ParseDialogInt(GetEditText(w), value))
        pDX->Fail(AfxLoadString(AFX_IDP_PARSE_INT));
}

void DDX_Text(CDataExchange* pDX, unsigned id, std::string& value)
{
    if (pDX->Stopped())
        return;
    QWidget* w = pDX->PrepareEditCtrl(id);
    if (w == nullptr)
        return;
    if (pDX->m_bSaveAndValidate)
        value = GetEditText(w);
    else
        SetEditText(w, value);
}

void DDV_MaxChars(CDataExchange* pDX, const std::string& value, int maxBytes)
{
    if (pDX->Stopped() || maxBytes < 0)
        return;
    const auto limit = static_cast<size_t>(maxBytes);
    if (!pDX->m_bSaveAndValidate) {
        LimitEditText(pDX->LastCtrl(), limit);
        return;
    }
    if (value.size() > limit)
        pDX->Fail(AfxFormatString1(AFX_IDP_PARSE_STRING_SIZE, std::to_string(maxBytes)));
}

void DDX_CBString(CDataExchange* pDX, unsigned id, std::string& value)
{
    if (pDX->Stopped())
        return;
    auto* combo = qobject_cast<QComboBox*>(pDX->PrepareCtrl(id));
    if (combo == nullptr)
        return;
    if (pDX->m_bSaveAndValidate) {
        value = cp932::FromQString(combo->currentText());
        return;
    }
    // An empty text would begin every item; it selects none, so that it comes
    // back as it went in.
    const QString text = cp932::ToQString(value);
    for (int i = 0; !text.isEmpty() && i < combo->count(); ++i) {
        if (combo->itemText(i).startsWith(text, Qt::CaseInsensitive)) {
            combo->setCurrentIndex(i);
            return;
        }
    }
    if (!combo->isEditable())
        return;  // a drop-down list shows only its items
    combo->setCurrentIndex(-1);
    combo->setEditText(text);
}

void DDV_MinMaxInt(CDataExchange* pDX, int value, int minVal, int maxVal)
{
    if (pDX->Stopped() || !pDX->m_bSaveAndValidate)
        return;
    if (value < minVal || value > maxVal)
        pDX->Fail(AfxFormatString2(AFX_IDP_PARSE_INT_RANGE, std::to_string(minVal), std::to_string(maxVal)));
}

void DDX_CBIndex(CDataExchange* pDX, unsigned id, int& index)
{
    if (pDX->Stopped())
        return;
    auto* combo = qobject_cast<QComboBox*>(pDX->PrepareCtrl(id));
    if (combo == nullptr)
        return;
    if (pDX->m_bSaveAndValidate)
        index = combo->currentIndex();
    else
        combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

void DDX_Check(CDataExchange* pDX, unsigned id, int& value)
{
    if (pDX->Stopped())
        return;
    auto* button = qobject_cast<QAbstractButton*>(pDX->PrepareCtrl(id));
    if (button == nullptr)
        return;
    auto* box = qobject_cast<QCheckBox*>(button);
    const bool threeState = box != nullptr && box->isTristate();
    if (pDX->m_bSaveAndValidate) {
        if (threeState)
            value =
                box->checkState() == Qt::PartiallyChecked ? 2 : (box->checkState() == Qt::Checked ? 1 : 0);
        else if (button->isChecked())
            value = button->property(kCheckIndeterminate).toBool() ? 2 : 1;
        else
            value = 0;
        return;
    }
    if (value < 0 || value > 2)
        value = 0;
    if (threeState) {
        box->setCheckState(value == 2 ? Qt::PartiallyChecked : (value == 1 ? Qt::Checked : Qt::Unchecked));
    } else {
        // A two-state box shows 2 as set and keeps it as 2 until it is clicked.
        button->setChecked(value != 0);
        button->setProperty(kCheckIndeterminate, value == 2);
    }
}
