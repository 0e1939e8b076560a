// Message boxes: the answers a closed box gives, and the application box's
// caption.
#include <QTimer>
#include <gtest/gtest.h>

#include "platform/module.h"
#include "platform/msgbox.h"

TEST(MessageBoxes, EndingAnswersOpenBoxesNegatively)
{
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
    int inner = 0;
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(0, [] { EndMessageBoxes(); });
        inner = MessageBoxA(nullptr, "inner", "caption", MB_YESNO);
    });
    EXPECT_EQ(MessageBoxA(nullptr, "outer", "caption", MB_OK), IDOK);
    EXPECT_EQ(inner, IDNO);
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
