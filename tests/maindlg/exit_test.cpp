// Ending the program: the Exit button, the close command and the tray menu's
// exit with their questions, the service-hosted rules; the list's menu; F1.
#include "relay_fixture.h"
#include "tray_shell.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "platform/system/cp932.h"
#include "platform/windows/help.h"
#include "platform/windows/menu.h"
#include "resources/ResString.h"
#include "resources/resource.h"
#include "settings/PortSetting.h"

using namespace relaytest;

namespace {

class ExitTest : public RelayTest {
protected:
    // Answers every box with `answer` and records it.
    void Answer(int answer)
    {
        SetMessageBoxHookForTesting([this, answer](const MessageBoxRecord& r) {
            m_boxes.push_back(r);
            return answer;
        });
    }
    // A line with a connected caller.
    std::string OneLine() { return "[COM1]\nNAME=COM72\nRING=0\nCONNECT=0\n"; }

    // Runs the dialog until `body` ends it; false when it was still running
    // a generous while after the body and had to be closed from outside.
    bool RunToEnd(const std::string& ini, const std::function<void(CSkiffaDlg&)>& body)
    {
        std::ofstream(m_dir.File("korvo.ini")) << "[SERVER]\nPORT=" << scratch::FreeTcpPort() << "\n" << ini;
        CSkiffaDlg dlg;
        bool closedFromOutside = false;
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, [&] {
            closedFromOutside = true;
            dlg.PostMessage(WM_CLOSE, 0, 0);
        });
        QTimer::singleShot(0, [&] {
            body(dlg);
            deadline.start(10000);
        });
        dlg.DoModal();
        return !closedFromOutside;
    }
    // A shown dialog that is still running, a moment after a request.
    static bool StillShown(CSkiffaDlg& dlg)
    {
        Pump(20ms);
        return dlg.isVisible();
    }
};

// Chooses `id` in every pop-up menu and records the menus.
struct MenuChoice {
    explicit MenuChoice(UINT id)
    {
        SetPopupMenuHookForTesting([this, id](const PopupMenuRecord& r) {
            menus.push_back(r);
            return id;
        });
    }
    ~MenuChoice() { SetPopupMenuHookForTesting({}); }
    std::vector<PopupMenuRecord> menus;
};

}  // namespace

TEST_F(ExitTest, ExitButtonAsksAndOnlyYesEnds)
{
    auto dev = Device("COM72");
    EXPECT_TRUE(RunToEnd(OneLine(), [&](CSkiffaDlg& dlg) {
        ASSERT_TRUE(WaitUntil([&] { return dlg.isVisible(); }));
        auto* exit = qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_EXIT));
        Answer(IDNO);
        exit->click();
        ASSERT_EQ(m_boxes.size(), 1u);
        EXPECT_EQ(m_boxes[0].text, LoadResString(IDS_CONFIRM_EXIT));
        EXPECT_EQ(m_boxes[0].caption, LoadResString(IDS_APP_TITLE));
        EXPECT_EQ(m_boxes[0].type, MB_YESNO | MB_ICONQUESTION);
        EXPECT_TRUE(StillShown(dlg));

        auto caller = Call(dlg);
        exit->click();
        ASSERT_EQ(m_boxes.size(), 2u);
        EXPECT_EQ(m_boxes[1].text, LoadResString(IDS_CONFIRM_EXIT_CONNECTED));
        EXPECT_TRUE(StillShown(dlg));
        caller->Send("still here");
        EXPECT_NE(HostGets(*dev, "still here").find("still here"), std::string::npos) << "the call goes on";
        EXPECT_TRUE(dev->Dtr());

        Answer(IDYES);
        exit->click();
    }));
    EXPECT_FALSE(dev->Dtr()) << "every line drops DTR at the end";
}

TEST_F(ExitTest, CloseCommandAsksLikeTheExitButton)
{
    EXPECT_TRUE(RunToEnd("", [&](CSkiffaDlg& dlg) {
        ASSERT_TRUE(WaitUntil([&] { return dlg.isVisible(); }));
        Answer(IDNO);
        dlg.SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
        ASSERT_EQ(m_boxes.size(), 1u);
        EXPECT_EQ(m_boxes[0].text, LoadResString(IDS_CONFIRM_EXIT));
        EXPECT_TRUE(StillShown(dlg));
        Answer(IDYES);
        dlg.SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
    }));
}

TEST_F(ExitTest, TrayExitAsksOnlyWhileSomeoneIsConnected)
{
    TestTrayShell shell;
    MenuChoice choice(ID_TRAY_EXIT);
    EXPECT_TRUE(
        RunToEnd("[ALL]\nTRAY=1\n", [&](CSkiffaDlg& dlg) { ASSERT_TRUE(shell.Click(&dlg, WM_RBUTTONUP)); }));
    EXPECT_EQ(choice.menus.size(), 1u);
    EXPECT_TRUE(m_boxes.empty());

    auto dev = Device("COM72");
    EXPECT_TRUE(RunToEnd(OneLine(), [&](CSkiffaDlg& dlg) {
        ASSERT_TRUE(WaitUntil([&] { return dlg.isVisible(); }));
        auto caller = Call(dlg);
        Answer(IDNO);
        dlg.SendMessage(WM_COMMAND, ID_TRAY_EXIT, 0);
        ASSERT_EQ(m_boxes.size(), 1u);
        EXPECT_EQ(m_boxes[0].text, LoadResString(IDS_CONFIRM_EXIT_CONNECTED));
        EXPECT_TRUE(StillShown(dlg));
        Answer(IDYES);
        dlg.SendMessage(WM_COMMAND, ID_TRAY_EXIT, 0);
    }));
}

// The tray's exit taken under a COM port dialog's message ends the program at
// once: nothing resumed after the message asks again or goes on to OK.
TEST_F(ExitTest, TrayExitUnderASettingsMessageEndsAtOnce)
{
    auto dev = Device("COM72");
    std::unique_ptr<Caller> caller;
    EXPECT_TRUE(RunToEnd(OneLine(), [&](CSkiffaDlg& dlg) {
        caller = Call(dlg);
        SetMessageBoxHookForTesting([&](const MessageBoxRecord& r) {
            m_boxes.push_back(r);
            if (m_boxes.size() == 1)  // the refused interval's message is open
                dlg.SendMessage(WM_COMMAND, ID_TRAY_EXIT, 0);
            return (r.type & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
        });
        QTimer::singleShot(0, [] {
            auto* port = dynamic_cast<CPortSetting*>(QApplication::activeModalWidget());
            ASSERT_NE(port, nullptr);
            qobject_cast<QLineEdit*>(port->GetDlgItem(IDC_RING_INTERVAL))->clear();
            port->SendMessage(WM_COMMAND, IDOK, 0);
        });
        dlg.m_listPort.SetItemSelected(0, true);
        dlg.SendMessage(WM_COMMAND, ID_COMPORT_SETTING, 0);
    }));
    ASSERT_EQ(m_boxes.size(), 2u);
    EXPECT_EQ(m_boxes[1].text, LoadResString(IDS_CONFIRM_EXIT_CONNECTED));
    EXPECT_FALSE(dev->Dtr());
}

TEST_F(ExitTest, ServiceHostedExitsWithoutQuestions)
{
    auto dev = Device("COM72");
    for (UINT path : {SC_CLOSE, ID_TRAY_EXIT}) {
        EXPECT_TRUE(RunToEnd(OneLine(), [&](CSkiffaDlg& dlg) {
            ASSERT_TRUE(WaitUntil([&] { return dlg.isVisible(); }));
            dlg.m_bServiceMode = true;
            auto caller = Call(dlg);
            qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_EXIT))->click();
            EXPECT_TRUE(StillShown(dlg)) << "the Exit button does nothing";
            if (path == SC_CLOSE)
                dlg.SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
            else
                dlg.SendMessage(WM_COMMAND, ID_TRAY_EXIT, 0);
        }));
    }
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(ExitTest, ListMenuOpensOnlyOverASelection)
{
    auto dev1 = Device("COM72");
    auto dev2 = Device("COM73");
    MenuChoice choice(0);
    Run(OneLine() + "[COM2]\nNAME=COM73\n", [&](CSkiffaDlg& dlg) {
        auto* tree = qobject_cast<QTreeWidget*>(dlg.m_listPort.GetWidget());
        emit tree->customContextMenuRequested(QPoint(5, 5));
        EXPECT_TRUE(choice.menus.empty()) << "no row selected";
        dlg.m_listPort.SetItemSelected(1, true);
        // The selected row is drawn highlighted across its columns.
        const QRect row = tree->visualItemRect(tree->topLevelItem(1));
        const QImage shown = tree->viewport()->grab().toImage();
        EXPECT_EQ(shown.pixelColor(row.left() + 2, row.center().y()), tree->palette().highlight().color());
        emit tree->customContextMenuRequested(QPoint(5, 5));
        ASSERT_EQ(choice.menus.size(), 1u);
        EXPECT_EQ(choice.menus[0].items,
                  (std::vector<std::pair<UINT, std::string>>{{32777, cp932::FromUtf8("COM Port 設定(&S)")}}));
        EXPECT_EQ(choice.menus[0].flags, TPM_RIGHTBUTTON);
        EXPECT_EQ(choice.menus[0].owner, &dlg);
        // A press below the rows clears the selection before X11 asks for the
        // menu, so none comes.
        const QPoint below(5, tree->viewport()->height() - 5);
        QTest::mousePress(tree->viewport(), Qt::RightButton, {}, below);
        QContextMenuEvent request(QContextMenuEvent::Mouse, below, tree->viewport()->mapToGlobal(below));
        QCoreApplication::sendEvent(tree->viewport(), &request);
        QTest::mouseRelease(tree->viewport(), Qt::RightButton, {}, below);
        EXPECT_EQ(dlg.m_listPort.GetNextItem(-1, LVNI_SELECTED), -1);
        EXPECT_EQ(choice.menus.size(), 1u);
    });
}

TEST_F(ExitTest, F1OpensTheHelpFileBesideTheExecutable)
{
    std::vector<std::string> opened;
    SetHelpViewerForTesting([&](const std::string& path) {
        opened.push_back(path);
        return false;  // no viewer on this desktop: nothing may go wrong
    });
    Run("", [&](CSkiffaDlg& dlg) {
        QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
        QCoreApplication::sendEvent(&dlg, &f1);
        EXPECT_TRUE(opened.empty()) << "there is no help file yet";
        std::ofstream(m_dir.File("Korvo.chm")) << "ITSF";
        QCoreApplication::sendEvent(&dlg, &f1);
        EXPECT_EQ(dlg.SendMessage(WM_HELP, 0, 0), TRUE);
    });
    SetHelpViewerForTesting({});
    EXPECT_EQ(opened, (std::vector<std::string>{m_dir.File("Korvo.chm"), m_dir.File("Korvo.chm")}));
}

// F1 in a settings dialog or in a box opens the help as in the main window:
// a window that has no help of its own passes the request to its owner.
TEST_F(ExitTest, F1InAnOwnedWindowOpensTheHelpToo)
{
    std::ofstream(m_dir.File("Korvo.chm")) << "ITSF";
    int opened = 0;
    SetHelpViewerForTesting([&](const std::string&) { return ++opened > 0; });
    SetMessageBoxHookForTesting({});
    ShowMessageBoxesOffscreenForTesting(true);
    Run("", [&](CSkiffaDlg& dlg) {
        QTimer::singleShot(0, [&] {
            auto* setting = dynamic_cast<CDialogEx*>(QApplication::activeModalWidget());
            ASSERT_NE(setting, nullptr);
            QTest::keyClick(setting, Qt::Key_F1);
            EXPECT_EQ(opened, 1) << "F1 in the settings dialog";
            QTimer::singleShot(0, [&] {
                QWidget* box = QApplication::activeModalWidget();
                QTest::keyClick(box, Qt::Key_F1);
                EXPECT_EQ(opened, 2) << "F1 in a box";
                EndMessageBoxesOwnedBy(setting);
            });
            setting->MessageBox("text", "caption", MB_OK);
            setting->EndDialog(IDCANCEL);
        });
        qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_SETTING))->click();
    });
    ShowMessageBoxesOffscreenForTesting(false);
    SetHelpViewerForTesting({});
}
