// The shell's pieces on the offscreen platform: a real pop-up menu chosen from
// the keyboard, and the help opener.
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/windows/help.h"
#include "platform/windows/menu.h"

namespace {

// Records the window messages posted to it.
class Recorder : public QObject, public MessageTarget {
public:
    bool PostMessage(UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        posted.push_back({msg, wParam, lParam});
        return true;
    }
    LRESULT SendMessage(UINT, WPARAM, LPARAM) override { return 0; }
    struct Message {
        UINT msg;
        WPARAM wParam;
        LPARAM lParam;
    };
    std::vector<Message> posted;
};

const MenuTemplate kMenu{1,
                         {{"first", {{11, "One"}, {0, nullptr}, {12, "&Two"}}}, {"second", {{21, "Other"}}}}};

}  // namespace

TEST(PopupMenu, TheChosenItemIsPostedAsACommand)
{
    Recorder owner;
    CMenu menu;
    ASSERT_TRUE(menu.LoadMenu(kMenu));
    ASSERT_NE(menu.GetSubMenu(1), nullptr);
    EXPECT_EQ(menu.GetSubMenu(2), nullptr);
    CMenu* popup = menu.GetSubMenu(0);
    ASSERT_NE(popup, nullptr);
    EXPECT_FALSE(menu.TrackPopupMenu(0, 0, 0, &owner)) << "the menu itself is no pop-up";

    // The user presses the access key of "&Two" in the open menu.
    QTimer::singleShot(0, [] {
        auto* open = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(open, nullptr);
        QKeyEvent key(QEvent::KeyPress, Qt::Key_T, Qt::NoModifier, QStringLiteral("t"));
        QCoreApplication::sendEvent(open, &key);
    });
    EXPECT_TRUE(popup->TrackPopupMenu(TPM_RIGHTBUTTON, 40, 30, &owner));
    ASSERT_EQ(owner.posted.size(), 1u);
    EXPECT_EQ(owner.posted[0].msg, WM_COMMAND);
    EXPECT_EQ(owner.posted[0].wParam, 12u);

    // Dismissed with Esc: nothing is posted.
    QTimer::singleShot(0, [] {
        QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(QApplication::activePopupWidget(), &esc);
    });
    popup->TrackPopupMenu(TPM_RIGHTBUTTON, 40, 30, &owner);
    EXPECT_EQ(owner.posted.size(), 1u);

    // A program that is ending closes an open menu and opens no more.
    QTimer::singleShot(0, [] { EndPopupMenus(); });
    EXPECT_TRUE(popup->TrackPopupMenu(TPM_RIGHTBUTTON, 40, 30, &owner));
    EXPECT_TRUE(popup->TrackPopupMenu(TPM_RIGHTBUTTON, 40, 30, &owner));
    ResetPopupMenuEndForTesting();
    EXPECT_EQ(owner.posted.size(), 1u);
    EXPECT_TRUE(menu.DestroyMenu());
    EXPECT_EQ(menu.GetSubMenu(0), nullptr);
}

TEST(HelpOpener, OnlyAnExistingFileGoesToTheViewer)
{
    char tmpl[] = "/tmp/skiffa-help-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    std::vector<std::string> asked;
    SetHelpViewerForTesting([&](const std::string& path) {
        asked.push_back(path);
        return false;
    });
    EXPECT_EQ(HtmlHelpA(nullptr, dir + "/Korvo.chm", HH_DISPLAY_TOPIC, 0), nullptr);
    ASSERT_EQ(mkfifo((dir + "/fifo.chm").c_str(), 0600), 0);
    HtmlHelpA(nullptr, dir + "/fifo.chm", HH_DISPLAY_TOPIC, 0);
    HtmlHelpA(nullptr, dir, HH_DISPLAY_TOPIC, 0);
    EXPECT_TRUE(asked.empty()) << "a missing file, a FIFO and a folder open nothing";
    std::ofstream(dir + "/Korvo.chm") << "ITSF";
    HtmlHelpA(nullptr, dir + "/Korvo.chm", HH_DISPLAY_TOPIC, 0);
    EXPECT_EQ(asked, std::vector<std::string>{dir + "/Korvo.chm"});
    SetHelpViewerForTesting({});
    std::filesystem::remove_all(dir);
}
