// Message boxes: the answers a closed box gives, and the application box's
// caption.
#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "platform/windows/dialog.h"
#include "platform/base/module.h"
#include "platform/windows/msgbox.h"

namespace {

// Real boxes on the offscreen platform, for the tests that close open ones.
struct ShownBoxes {
    ShownBoxes() { ShowMessageBoxesOffscreenForTesting(true); }
    ~ShownBoxes() { ShowMessageBoxesOffscreenForTesting(false); }
};

}  // namespace

TEST(MessageBoxes, EndingAnswersOpenBoxesNegatively)
{
    ShownBoxes shown;
    QTimer::singleShot(0, [] { EndMessageBoxes(); });
    EXPECT_EQ(MessageBoxA(nullptr, "question?", "caption", MB_YESNO | MB_ICONQUESTION), IDNO);
    QTimer::singleShot(0, [] { EndMessageBoxes(); });
    ResetMessageBoxEndForTesting();
    QTimer::singleShot(0, [] { EndMessageBoxes(); });
    EXPECT_EQ(MessageBoxA(nullptr, "note", "caption", MB_OK | MB_ICONSTOP), IDOK);
    // Boxes that come after the end are answered at once, without a wait.
    EXPECT_EQ(MessageBoxA(nullptr, "later", "caption", MB_YESNO), IDNO);
    ResetMessageBoxEndForTesting();
}

TEST(MessageBoxes, NestedBoxesAllClose)
{
    ShownBoxes shown;
    int inner = 0;
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(0, [] { EndMessageBoxes(); });
        inner = MessageBoxA(nullptr, "inner", "caption", MB_YESNO);
    });
    EXPECT_EQ(MessageBoxA(nullptr, "outer", "caption", MB_OK), IDOK);
    EXPECT_EQ(inner, IDNO);
    ResetMessageBoxEndForTesting();
}

// A box is at least as wide as its bold caption with room on either side for
// the title bar's icon and buttons, three squares a line high.
TEST(MessageBoxes, BoxIsWideEnoughForItsCaption)
{
    ShownBoxes shown;
    const QString caption = QStringLiteral("Varnex - Skiffa: a caption longer than its text");
    QTimer::singleShot(0, [&] {
        const QWidget* box = QApplication::activeModalWidget();
        EndMessageBoxes();  // the box answers once the check is done
        ASSERT_NE(box, nullptr);
        QFont bold = box->font();
        bold.setBold(true);
        const QFontMetrics fm(bold);
        EXPECT_GE(box->width(), fm.horizontalAdvance(caption) + 2 * 3 * fm.height());
    });
    MessageBoxA(nullptr, "OK?", caption.toStdString(), MB_OK);
    ResetMessageBoxEndForTesting();
}

TEST(MessageBoxes, ApplicationBoxIsCaptionedWithTheProgramName)
{
    SetModuleFileNameForTesting("/opt/relay/prog.exe");
    std::vector<MessageBoxRecord> seen;
    SetMessageBoxHookForTesting([&](const MessageBoxRecord& r) {
        seen.push_back(r);
        return IDOK;
    });
    AfxMessageBox("text", MB_OK);
    SetMessageBoxHookForTesting({});
    SetModuleFileNameForTesting("");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, "prog");
    EXPECT_EQ(seen[0].type & 0xF0, MB_ICONEXCLAMATION);
}

// With nobody to answer (the offscreen platform), a box is not shown: it takes
// its default answer at once and says on stderr what it would have shown.
TEST(MessageBoxes, OffscreenBoxesAnswerThemselvesOnStderr)
{
    ASSERT_FALSE(CanAnswerMessageBoxes()) << "the tests run on the offscreen platform";
    testing::internal::CaptureStderr();
    const int ok = MessageBoxA(nullptr, "COM Port \x83\x49\x81\x5B\x83\x76\x83\x93", "Varnex - Skiffa",
                               MB_ICONSTOP, "COM2 (/dev/ttyS1): No such file or directory");
    const int yes = MessageBoxA(nullptr, "line one\r\nline two", "caption", MB_YESNO | MB_ICONQUESTION);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ok, IDOK);
    EXPECT_EQ(yes, IDYES) << "the default button";
    EXPECT_EQ(err, "skiffa: COM Port \xE3\x82\xAA\xE3\x83\xBC\xE3\x83\x97\xE3\x83\xB3 "
                   "[COM2 (/dev/ttyS1): No such file or directory]\n"
                   "skiffa: line one line two\n")
        << "the program's prefix, the text in UTF-8, line breaks as one blank, the detail in brackets";
}

// A box is modal to its owner only: while it is open, a window that it does
// not belong to (the tray icon's, say) is not blocked and still takes clicks.
TEST(MessageBoxes, OnlyTheOwnerIsBlockedWhileABoxIsOpen)
{
    ShownBoxes shown;
    static const DialogTemplate kWindow{1, 40, 20, "window", "Sans", 9, TS_NONE, {}, {}};
    CDialogEx owner(kWindow);
    CDialogEx other(kWindow);
    owner.show();
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
    struct BlockWatch : QObject {
        bool blocked = false;
        bool eventFilter(QObject*, QEvent* e) override
        {
            blocked |= e->type() == QEvent::WindowBlocked;
            return false;
        }
    } ownerWatch, otherWatch;
    owner.installEventFilter(&ownerWatch);
    other.installEventFilter(&otherWatch);
    QTimer::singleShot(0, [&] { EndMessageBoxesOwnedBy(&owner); });
    EXPECT_EQ(MessageBoxA(&owner, "question?", "caption", MB_YESNO), IDNO);
    EXPECT_TRUE(ownerWatch.blocked);
    EXPECT_FALSE(otherWatch.blocked) << "the box blocked a window it does not belong to";
}
