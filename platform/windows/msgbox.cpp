// Message boxes on QMessageBox.
#include "platform/windows/msgbox.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QScreen>
#include <QShowEvent>
#include <QWidget>
#include <algorithm>
#include <vector>

#include "platform/system/cp932.h"
#include "platform/base/module.h"
#include "platform/base/stderrline.h"
#include "platform/windows/dialog.h"

namespace {

std::function<int(const MessageBoxRecord&)> g_hook;
std::vector<QMessageBox*> g_openBoxes;  // innermost last
bool g_ending = false;                  // the program is ending: no more boxes
bool g_showOffscreen = false;           // tests: real boxes on the offscreen platform

QMessageBox::Icon IconOf(UINT type)
{
    switch (type & MB_ICONMASK) {
    case MB_ICONSTOP: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case MB_ICONEXCLAMATION: return QMessageBox::Warning;
    default: return QMessageBox::NoIcon;
    }
}

// A box whose owner is not on the screen (not shown yet, or in the tray)
// comes up in the middle of the screen, not over the owner's unshown place.
// It has no help of its own: F1 asks its owner's.
class OwnedMessageBox : public QMessageBox {
public:
    OwnedMessageBox(Icon icon, const QString& caption, const QString& text, HWND owner)
        : QMessageBox(icon, caption, text, QMessageBox::NoButton, dynamic_cast<QWidget*>(owner)), m_owner(owner)
    {
    }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() != Qt::Key_F1) {
            QMessageBox::keyPressEvent(event);
            return;
        }
        SendMessageA(m_owner, WM_HELP, 0, 0);
        event->accept();
    }
    void showEvent(QShowEvent* event) override
    {
        QMessageBox::showEvent(event);
        const QWidget* owner = parentWidget();
        if (owner == nullptr || owner->isVisible() || event->spontaneous() || owner->screen() == nullptr)
            return;
        move(owner->screen()->availableGeometry().center() - rect().center());
    }

private:
    HWND m_owner;
};

// Makes a box at least as wide as its title bar needs to show the whole
// caption: the text in the bold face window managers draw titles in, and,
// since some centre it, room on either side for the window's icon and
// buttons, three squares about a line high. The box sizes itself to its
// layout, so the width goes in as a row of its own.
void FitCaption(QMessageBox& box)
{
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (grid == nullptr)
        return;
    QFont title = box.font();
    title.setBold(true);
    const QFontMetrics fm(title);
    const int square = fm.height() + fm.averageCharWidth();
    const int needed = fm.horizontalAdvance(box.windowTitle()) + 2 * 3 * square + 2 * fm.averageCharWidth();
    const QMargins margins = grid->contentsMargins();
    grid->addItem(new QSpacerItem(needed - margins.left() - margins.right(), 0, QSizePolicy::Fixed),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

}  // namespace

std::string MessageBoxLogLine(const MessageBoxRecord& box)
{
    std::string line;
    bool lineBreak = false;
    for (char c : cp932::ToUtf8(box.text)) {
        const bool breaks = c == '\r' || c == '\n';
        if (!breaks)
            line += c;
        else if (!lineBreak)
            line += ' ';  // a CR LF pair, or several, as one blank
        lineBreak = breaks;
    }
    if (!box.detail.empty())
        line += " [" + box.detail + "]";
    return line;
}

void WriteMessageBoxLogLine(const MessageBoxRecord& box)
{
    WriteStderrLine(MessageBoxLogLine(box));
}

bool CanAnswerMessageBoxes()
{
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr)
        return false;
    const QString platform = QGuiApplication::platformName();
    return g_showOffscreen || (platform != "offscreen" && platform != "minimal");
}

void ShowMessageBoxesOffscreenForTesting(bool show)
{
    g_showOffscreen = show;
}

int MessageBoxA(HWND owner, const std::string& text, const std::string& caption, UINT type,
                const std::string& detail)
{
    const bool yesNo = (type & MB_TYPEMASK) == MB_YESNO;
    // Nothing opens above a window that has ended: the code that resumes
    // after its boxes gets the negative answer and stops there.
    if (CDialogEx::IsEndingWindow(dynamic_cast<QWidget*>(owner)))
        return yesNo ? IDNO : IDOK;
    const MessageBoxRecord record{owner, text, caption, type, detail};
    WriteMessageBoxLogLine(record);
    if (g_hook)
        return g_hook(record);
    if (g_ending)
        return yesNo ? IDNO : IDOK;
    if (!CanAnswerMessageBoxes())
        return yesNo ? IDYES : IDOK;  // the default button's answer
    OwnedMessageBox box(IconOf(type), cp932::ToQString(caption), cp932::ToQString(text), owner);
    if (yesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    // Modal to its owner only, as the system's boxes are: the program's other
    // windows, its tray icon among them, still take clicks.
    if (box.parentWidget() != nullptr)
        box.setWindowModality(Qt::WindowModal);
    FitCaption(box);
    g_openBoxes.push_back(&box);
    const int r = box.exec();
    g_openBoxes.erase(std::find(g_openBoxes.begin(), g_openBoxes.end(), &box));
    if (r == QMessageBox::Yes)
        return IDYES;
    if (r == QMessageBox::No)
        return IDNO;
    return IDOK;
}

void ResetMessageBoxEndForTesting()
{
    g_ending = false;
}

namespace {

void AnswerNegatively(QMessageBox* box)
{
    const bool yesNo = box->standardButtons() & QMessageBox::No;
    box->done(yesNo ? QMessageBox::No : QMessageBox::Ok);
}

}  // namespace

void EndMessageBoxes()
{
    g_ending = true;
    for (QMessageBox* box : g_openBoxes)
        AnswerNegatively(box);
}

void EndMessageBoxesOwnedBy(HWND owner)
{
    const auto* window = dynamic_cast<QWidget*>(owner);
    for (QMessageBox* box : g_openBoxes) {
        for (const QWidget* w = box->parentWidget(); w != nullptr; w = w->parentWidget()) {
            if (w == window) {
                AnswerNegatively(box);
                break;
            }
        }
    }
}

int AfxMessageBox(const std::string& text, UINT type, HWND owner)
{
    if ((type & MB_ICONMASK) == 0)
        type |= MB_ICONEXCLAMATION;
    return MessageBoxA(owner, text, GetModuleFileTitle(), type);
}

void SetMessageBoxHookForTesting(std::function<int(const MessageBoxRecord&)> hook)
{
    g_hook = std::move(hook);
}
