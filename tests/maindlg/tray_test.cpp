// The main window and the tray: minimising into the tray and coming back,
// the tray menu, the shell's failures, a tray host started anew, the
// service-hosted mode, and the icon painted while minimised.
#include "relay_fixture.h"
#include "tray_shell.h"

#include <QApplication>
#include <QCursor>
#include <QImage>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>

#include "platform/system/cp932.h"
#include "platform/windows/menu.h"
#include "resources/ResString.h"
#include "resources/resource.h"

using namespace relaytest;

namespace {

// Records every pop-up menu and answers it with `choice`.
struct MenuLog {
    explicit MenuLog(UINT choice = 0)
    {
        SetPopupMenuHookForTesting([this, choice](const PopupMenuRecord& r) {
            menus.push_back(r);
            return choice;
        });
    }
    ~MenuLog() { SetPopupMenuHookForTesting({}); }
    std::vector<PopupMenuRecord> menus;
};

using TrayTest = RelayTest;

bool WaitShown(CSkiffaDlg& dlg)
{
    return WaitUntil([&] { return dlg.isVisible(); });
}

// Minimises the window and waits until it has gone into the tray.
bool MinimiseIntoTray(CSkiffaDlg& dlg)
{
    MinimiseFromOutside(dlg);
    return WaitUntil([&] { return !dlg.isVisible(); });
}

}  // namespace

TEST_F(TrayTest, MinimiseHidesIntoTheTrayUntilTheIconIsClicked)
{
    TestTrayShell shell;
    MenuLog menu;
    Run("", [&](CSkiffaDlg& dlg) {
        ASSERT_TRUE(WaitShown(dlg));
        ASSERT_TRUE(MinimiseIntoTray(dlg));
        EXPECT_FALSE(dlg.m_bShowWindow);
        const NOTIFYICONDATAA* icon = shell.Icon(&dlg);
        ASSERT_NE(icon, nullptr);
        EXPECT_EQ(icon->cbSize, 508u);
        EXPECT_EQ(icon->uFlags, 7u);
        EXPECT_EQ(icon->uCallbackMessage, 0x8002u);
        EXPECT_EQ(icon->hIcon, dlg.m_hIcon);
        EXPECT_STREQ(icon->szTip, "Skiffa");

        // No show request brings it back while it lives in the tray.
        dlg.ShowWindow(SW_RESTORE);
        dlg.show();
        EXPECT_FALSE(dlg.isVisible());
        // Moves, button downs and double clicks do nothing.
        for (LPARAM mouse : {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONDBLCLK, WM_RBUTTONDOWN, WM_MBUTTONUP})
            EXPECT_EQ(dlg.SendMessage(WM_TRAY_NOTIFY, 0, mouse), 1);
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_TRUE(menu.menus.empty());

        // The right button opens the tray menu at the cursor; dismissing it
        // changes nothing.
        QCursor::setPos(321, 123);
        ASSERT_TRUE(shell.Click(&dlg, WM_RBUTTONUP));
        ASSERT_TRUE(WaitUntil([&] { return !menu.menus.empty(); }));
        const PopupMenuRecord& m = menu.menus[0];
        EXPECT_EQ(m.items,
                  (std::vector<std::pair<UINT, std::string>>{{32775, cp932::FromUtf8("状態表示(&R)")},
                                                             {0, ""},
                                                             {32774, cp932::FromUtf8("終了(&X)")}}));
        EXPECT_EQ(m.x, 321);
        EXPECT_EQ(m.y, 123);
        EXPECT_EQ(m.flags, TPM_RIGHTBUTTON);
        EXPECT_EQ(m.owner, &dlg);
        Pump(50ms);
        EXPECT_FALSE(dlg.isVisible());

        // The left button restores the window, in front, and the icon goes.
        ASSERT_TRUE(shell.Click(&dlg, WM_LBUTTONUP));
        ASSERT_TRUE(WaitShown(dlg));
        EXPECT_TRUE(dlg.m_bShowWindow);
        EXPECT_FALSE(dlg.IsIconic());
        EXPECT_EQ(shell.IconCount(), 0u);
    });
    EXPECT_TRUE(shell.waits.empty());
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(TrayTest, TrayMenuShowsTheWindow)
{
    TestTrayShell shell;
    MenuLog menu(ID_TRAY_SHOW);
    Run("[ALL]\nTRAY=1\n", [&](CSkiffaDlg& dlg) {
        Pump(50ms);
        EXPECT_FALSE(dlg.isVisible()) << "starts in the tray";
        ASSERT_TRUE(shell.Click(&dlg, WM_RBUTTONUP));
        ASSERT_TRUE(WaitShown(dlg));
        EXPECT_EQ(shell.IconCount(), 0u);
    });
}

TEST_F(TrayTest, ShellTimeoutsAreWaitedOut)
{
    TestTrayShell shell;
    shell.FailNext(NIM_ADD, ERROR_GEN_FAILURE, 3);
    shell.FailNext(NIM_MODIFY, ERROR_TIMEOUT, 3);
    Run("", [&](CSkiffaDlg& dlg) {
        ASSERT_TRUE(WaitShown(dlg));
        ASSERT_TRUE(MinimiseIntoTray(dlg));
        EXPECT_EQ(shell.IconCount(), 1u);
    });
    EXPECT_EQ(shell.waits, (std::vector<DWORD>{1000, 1000, 1000}));
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(TrayTest, WithoutATrayHostTheWindowStaysShown)
{
    // The real shell: the offscreen platform has no tray host.
    Run("", [&](CSkiffaDlg& dlg) {
        ASSERT_TRUE(WaitShown(dlg));
        MinimiseFromOutside(dlg);
        ASSERT_TRUE(WaitUntil([&] { return !m_boxes.empty() && !dlg.IsIconic(); }));
        Pump(50ms);
        EXPECT_TRUE(dlg.isVisible());
        EXPECT_FALSE(dlg.IsIconic());
        EXPECT_TRUE(dlg.m_bShowWindow);
    });
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].text, LoadResString(IDS_TRAY_FAILED));
    EXPECT_EQ(m_boxes[0].caption, LoadResString(IDS_APP_TITLE));
    EXPECT_EQ(m_boxes[0].type, MB_ICONSTOP);
}

TEST_F(TrayTest, ANewTrayHostGetsTheIconAgain)
{
    TestTrayShell shell;
    {
        CSkiffaDlg unregistered;
        unregistered.SendMessage(WM_NULL, 0, 0);
        EXPECT_TRUE(shell.requests.empty()) << "no message stands for a new tray host before start-up";
    }
    Run("", [&](CSkiffaDlg& dlg) {
        ASSERT_TRUE(WaitShown(dlg));
        EXPECT_GE(dlg.m_nTaskbarCreatedMsg, 0xC000u);
        dlg.SendMessage(dlg.m_nTaskbarCreatedMsg, 0, 0);
        EXPECT_EQ(shell.IconCount(), 1u) << "also while the window is shown";
        EXPECT_TRUE(dlg.isVisible());
        // A click on it brings the shown window in front of another one and
        // removes the icon.
        QWidget other;
        other.show();
        other.activateWindow();
        ASSERT_TRUE(WaitUntil([&] { return QGuiApplication::focusWindow() == other.windowHandle(); }));
        ASSERT_TRUE(shell.Click(&dlg, WM_LBUTTONUP));
        EXPECT_TRUE(WaitUntil([&] { return QGuiApplication::focusWindow() == dlg.windowHandle(); }));
        EXPECT_EQ(shell.IconCount(), 0u);
        dlg.SendMessage(dlg.m_nTaskbarCreatedMsg, 0, 0);
        // Minimising now finds the icon there: the add fails, the change works.
        shell.requests.clear();
        ASSERT_TRUE(MinimiseIntoTray(dlg));
        EXPECT_EQ(shell.requests, (std::vector<DWORD>{NIM_ADD, NIM_MODIFY}));
        EXPECT_EQ(shell.IconCount(), 1u);
        ASSERT_TRUE(shell.Click(&dlg, WM_LBUTTONUP));
        ASSERT_TRUE(WaitShown(dlg));
        EXPECT_EQ(shell.IconCount(), 0u);
    });
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(TrayTest, ServiceHostedMinimiseHasNoIconAndPaintsTheIcon)
{
    TestTrayShell shell;
    Run("", [&](CSkiffaDlg& dlg) {
        ASSERT_TRUE(WaitShown(dlg));
        const QImage normal = dlg.grab().toImage();
        dlg.m_bServiceMode = true;
        shell.requests.clear();
        ASSERT_TRUE(MinimiseIntoTray(dlg));
        EXPECT_TRUE(shell.requests.empty());
        // Minimised, the window paints its icon in the middle on its background.
        ASSERT_TRUE(dlg.IsIconic());
        QImage iconic(dlg.size(), QImage::Format_ARGB32);
        dlg.render(&iconic, QPoint(), QRegion(), QWidget::DrawWindowBackground);
        const int size = GetSystemMetrics(SM_CXICON);
        // A point on the icon's blue disc, left of the sail and above the hull.
        const QPoint disc((iconic.width() - size + 1) / 2 + size / 4,
                          (iconic.height() - size + 1) / 2 + size * 3 / 8);
        const QColor blue(0x1e, 0x5a, 0x96);
        EXPECT_EQ(iconic.pixelColor(disc), blue);
        EXPECT_EQ(iconic.pixelColor(2, 2), dlg.palette().window().color());
        EXPECT_NE(normal.pixelColor(disc), blue) << "shown, the window paints its controls";
        EXPECT_EQ(reinterpret_cast<HICON>(dlg.SendMessage(WM_QUERYDRAGICON, 0, 0)), dlg.m_hIcon);
        // Only the command itself brings it back.
        dlg.SendMessage(WM_COMMAND, ID_TRAY_SHOW, 0);
        EXPECT_TRUE(dlg.isVisible());
    });
}

// A settings dialog open when the window goes into the tray, and minimised by
// the window manager with it, comes back with the window, in front; the tray
// menu's exit then ends the program, the dialog cancelled with it.
TEST_F(TrayTest, AnOpenDialogComesBackWithTheWindowAndEndsWithIt)
{
    TestTrayShell shell;
    MenuLog menu(ID_TRAY_EXIT);
    bool rescued = false;
    Run("", [&](CSkiffaDlg& dlg) {
        ASSERT_TRUE(WaitShown(dlg));
        QTimer::singleShot(0, &dlg, [&] {
            QWidget* setting = QApplication::activeModalWidget();
            ASSERT_NE(setting, nullptr);
            ASSERT_TRUE(MinimiseIntoTray(dlg));
            MinimiseFromOutside(*setting);
            ASSERT_TRUE(WaitUntil([&] { return setting->isMinimized(); }));
            ASSERT_TRUE(shell.Click(&dlg, WM_LBUTTONUP));
            ASSERT_TRUE(WaitShown(dlg));
            EXPECT_TRUE(WaitUntil([&] { return !setting->isMinimized(); })) << "the dialog stayed minimised";
            EXPECT_TRUE(WaitUntil([&] { return QApplication::activeWindow() == setting; }))
                << "the dialog is not in front";
            ASSERT_TRUE(MinimiseIntoTray(dlg));
            ASSERT_TRUE(shell.Click(&dlg, WM_RBUTTONUP));
        });
        // Should the exit leave the dialog open, it is cancelled here instead.
        QTimer::singleShot(20s, &dlg, [&] {
            if (auto* open = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                rescued = true;
                open->reject();
            }
        });
        qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_SETTING))->click();
        EXPECT_FALSE(rescued) << "the exit did not end the dialog";
        EXPECT_EQ(menu.menus.size(), 1u);
    });
}

// A box shown before the window's first show (a port that cannot be opened)
// and minimised by a window manager that ignores its hints comes back at
// once: nothing on the screen leads to it, and start-up waits behind it.
TEST_F(TrayTest, ABoxBeforeTheFirstShowDoesNotStayMinimised)
{
    SetMessageBoxHookForTesting({});
    ShowMessageBoxesOffscreenForTesting(true);
    bool minimised = false;
    bool restored = false;
    Run("[ALL]\nTRAY=1\n[COM1]\nNAME=COM79\n", [&](CSkiffaDlg& dlg) {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr) << "no message for the port";
        EXPECT_FALSE(dlg.isVisible());
        QObject::connect(box->windowHandle(), &QWindow::windowStateChanged, [&](Qt::WindowState state) {
            restored = minimised && state != Qt::WindowMinimized;
            minimised |= state == Qt::WindowMinimized;
        });
        MinimiseFromOutside(*box);
        EXPECT_TRUE(WaitUntil([&] { return restored && !box->isMinimized(); })) << "the box stayed minimised";
        box->done(QMessageBox::Ok);
    });
    ShowMessageBoxesOffscreenForTesting(false);
}
