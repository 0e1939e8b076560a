// The dialog data exchange on the template's Qt controls.
#include "platform/ddx.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <algorithm>
#include <climits>

#include "platform/afxstrings.h"
#include "platform/cp932.h"
#include "platform/dialog.h"
#include "platform/msgbox.h"

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

std::string EditText(const QWidget* w)
{
    if (const auto* e = qobject_cast<const QLineEdit*>(w))
        return cp932::FromQString(e->text());
    if (const auto* p = qobject_cast<const QPlainTextEdit*>(w))
        return cp932::FromQString(p->toPlainText());
    return {};
}

// Sets an edit's text only when it differs, so an unchanged field keeps its
// cursor and selection.
void SetEditText(QWidget* w, const std::string& text)
{
    const QString q = cp932::ToQString(text);
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
        if (e->text() != q)
            e->setText(q);
    } else if (auto* p = qobject_cast<QPlainTextEdit*>(w)) {
        if (p->toPlainText() != q)
            p->setPlainText(q);
    }
}

}  // namespace

// --- the exchange ---------------------------------------------------------------

QWidget* CDataExchange::PrepareCtrl(unsigned id)
{
    m_idLastControl = id;
    m_bEditLastControl = false;
    return m_pDlgWnd->GetDlgItem(id);
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
        if (auto* e = qobject_cast<QLineEdit*>(w); e != nullptr && m_bEditLastControl)
            e->selectAll();
        else if (auto* p = qobject_cast<QPlainTextEdit*>(w); p != nullptr && m_bEditLastControl)
            p->selectAll();
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
    if (!ParseDialogInt(EditText(w), value))
        pDX->Fail(AfxLoadString(AFX_IDP_PARSE_INT));
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
            value = box->checkState() == Qt::PartiallyChecked ? 2 : (box->checkState() == Qt::Checked ? 1 : 0);
        else
            value = button->isChecked() ? 1 : 0;
        return;
    }
    if (value < 0 || value > 2)
        value = 0;
    if (threeState)
        box->setCheckState(value == 2 ? Qt::PartiallyChecked : (value == 1 ? Qt::Checked : Qt::Unchecked));
    else
        button->setChecked(value != 0);  // a two-state box shows 2 as set
}
