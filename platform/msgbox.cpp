// Message boxes on QMessageBox.
#include "platform/msgbox.h"

#include <QMessageBox>
#include <QWidget>
#include <algorithm>
#include <vector>

#include "platform/cp932.h"
#include "platform/module.h"

namespace {

std::function<int(const MessageBoxRecord&)> g_hook;
std::vector<QMessageBox*> g_openBoxes;  // innermost last
bool g_ending = false;                  // the program is ending: no more boxes

QMessageBox::Icon IconOf(UINT type)
{
    switch (type & MB_ICONMASK) {
    case MB_ICONSTOP: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case MB_ICONEXCLAMATION: return QMessageBox::Warning;
    default: return QMessageBox::NoIcon;
    }
}

std::string FileTitleOfExecutable()
{
    std::string name = GetModuleFileNameA();
    const size_t slash = name.find_last_of('/');
    if (slash != std::string::npos)
        name = name.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name = name.substr(0, dot);
    return name;
}

}  // namespace

int MessageBoxA(HWND owner, const std::string& text, const std::string& caption, UINT type)
{
    if (g_hook)
        return g_hook(MessageBoxRecord{owner, text, caption, type});
    if (g_ending)
        return (type & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK;
    QWidget* parent = dynamic_cast<QWidget*>(owner);
    QMessageBox box(IconOf(type), cp932::ToQString(caption), cp932::ToQString(text),
                    QMessageBox::NoButton, parent);
    if ((type & MB_TYPEMASK) == MB_YESNO) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    g_openBoxes.push_back(&box);
    const int r = box.exec();
    g_openBoxes.erase(std::find(g_openBoxes.begin(), g_openBoxes.end(), &box));
    if (r == QMessageBox::Yes) return IDYES;
    if (r == QMessageBox::No) return IDNO;
    return IDOK;
}

void ResetMessageBoxEndForTesting()
{
    g_ending = false;
}

void EndMessageBoxes()
{
    g_ending = true;
    for (QMessageBox* box : g_openBoxes) {
        const bool yesNo = box->standardButtons() & QMessageBox::No;
        box->done(yesNo ? QMessageBox::No : QMessageBox::Ok);
    }
}

int AfxMessageBox(const std::string& text, UINT type, HWND owner)
{
    if ((type & MB_ICONMASK) == 0)
        type |= MB_ICONEXCLAMATION;
    return MessageBoxA(owner, text, FileTitleOfExecutable(), type);
}

void SetMessageBoxHookForTesting(std::function<int(const MessageBoxRecord&)> hook)
{
    g_hook = std::move(hook);
}
