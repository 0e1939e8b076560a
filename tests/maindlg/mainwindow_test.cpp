// The main window's keyboard rule, its COM-port button and the drawing of the
// list's selected rows, on the real dialog with three lines on memory devices.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <gtest/gtest.h>

#include "platform/system/cp932.h"
#include "support/memserial.h"
#include "platform/base/module.h"
#include "platform/windows/msgbox.h"
#include "resources/resource.h"
#include "settings/PortSetting.h"
#include "support/free_port.h"
#include "support/scratch_files.h"
#include "maindlg/SkiffaDlg.h"

namespace {

const char* const kPorts[] = {"COM81", "COM82", "COM83"};

// The main dialog over three lines, with every message box recorded.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetModuleFileNameForTesting(m_dir.File("skiffa"));
        scratch::WriteBytes(m_dir.File("korvo.ini"),
                            "[SERVER]\nPORT=" + std::to_string(scratch::FreeTcpPort()) +
                                "\n[COM1]\nNAME=COM81\n[COM2]\nNAME=COM82\n[COM3]\nNAME=COM83\n");
        for (const char* name : kPorts)
            MemSerialDevice::Register(name)->SetDsr(true);
        SetMessageBoxHookForTesting([this](const MessageBoxRecord& r) {
            m_boxes.push_back(r.text);
            return IDOK;
        });
    }
    void TearDown() override
    {
        SetMessageBoxHookForTesting({});
        for (const char* name : kPorts)
            MemSerialDevice::Unregister(name);
        SetModuleFileNameForTesting("");
    }

    // Runs the dialog; `body` acts once the window is active, then the
    // dialog is closed as a signal from outside would close it.
    void Run(const std::function<void()>& body)
    {
        QTimer::singleShot(0, [&] {
            EXPECT_TRUE(QTest::qWaitForWindowActive(&m_dlg));
            body();
            m_dlg.PostMessage(WM_CLOSE, 0, 0);
        });
        m_dlg.DoModal();
    }

    QTreeWidget* List() const { return qobject_cast<QTreeWidget*>(m_dlg.GetDlgItem(IDC_PORT_LIST)); }
    QPushButton* Button(unsigned id) const { return qobject_cast<QPushButton*>(m_dlg.GetDlgItem(id)); }
    static void PressOn(QWidget* w, Qt::Key key)
    {
        w->setFocus();
        ASSERT_EQ(QApplication::focusWidget(), w);
        QTest::keyClick(w, key);
    }

    scratch::TempDir m_dir{"skiffa-mainwindow-"};
    std::vector<std::string> m_boxes;
    CSkiffaDlg m_dlg;
};

// The visible port settings dialog, if one is open.
CPortSetting* OpenPortSetting()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* dlg = dynamic_cast<CPortSetting*>(w); dlg != nullptr && dlg->isVisible())
            return dlg;
    }
    return nullptr;
}

// How many pixels of a list row stand out from the row's own background: its
// text, drawn readable, is most of them.
int TextPixels(QTreeWidget* list, QTreeWidgetItem* item)
{
    const QImage image = list->grab().toImage();
    const QRect row = list->visualItemRect(item).translated(list->viewport()->pos());
    std::map<QRgb, int> counts;
    for (int y = row.top(); y <= row.bottom(); ++y)
        for (int x = row.left(); x <= row.right(); ++x)
            ++counts[image.pixel(x, y)];
    const QRgb background = std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) {
                                return a.second < b.second;
                            })->first;
    int standingOut = 0;
    for (const auto& [color, count] : counts)
        if (std::abs(qGray(color) - qGray(background)) > 100)
            standingOut += count;
    return standingOut;
}

}  // namespace

TEST_F(MainWindowTest, EnterAndEscNeverEndIt)
{
    bool running = false;
    QWidget* focusAfterTab = nullptr;
    Run([&] {
        for (QWidget* w : {static_cast<QWidget*>(List()), static_cast<QWidget*>(Button(IDC_SETTING))}) {
            PressOn(w, Qt::Key_Escape);
            PressOn(w, Qt::Key_Return);
            PressOn(w, Qt::Key_Enter);
        }
        running = m_dlg.isVisible();
        // Other keys still act: Tab moves on from the list.
        PressOn(List(), Qt::Key_Tab);
        focusAfterTab = QApplication::focusWidget();
    });
    EXPECT_TRUE(running) << "Esc or Enter ended the main window";
    EXPECT_EQ(focusAfterTab, Button(IDC_EXIT));
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(MainWindowTest, ComPortButtonIsEnabledExactlyWhileARowIsSelected)
{
    std::vector<bool> enabled;
    Run([&] {
        QTreeWidget* list = List();
        enabled.push_back(m_dlg.m_btnComPort.IsWindowEnabled());
        const QRect second = list->visualItemRect(list->topLevelItem(1));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, second.center());
        enabled.push_back(m_dlg.m_btnComPort.IsWindowEnabled());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, second.center());
        enabled.push_back(m_dlg.m_btnComPort.IsWindowEnabled());
        m_dlg.m_listPort.SetItemSelected(2, true);
        enabled.push_back(m_dlg.m_btnComPort.IsWindowEnabled());
    });
    EXPECT_EQ(enabled, (std::vector<bool>{false, true, false, true}))
        << "none, clicked, ctrl-clicked off, selected";
}

TEST_F(MainWindowTest, ComPortButtonEditsTheFirstSelectedLine)
{
    std::string caption;
    std::vector<CPortInfo> before;
    Run([&] {
        before = m_dlg.m_aPort;
        m_dlg.m_listPort.SetItemSelected(2, true);
        m_dlg.m_listPort.SetItemSelected(1, true);
        // Cancel first: nothing comes back.
        QTimer::singleShot(0, [&] {
            CPortSetting* dlg = OpenPortSetting();
            ASSERT_NE(dlg, nullptr);
            qobject_cast<QLineEdit*>(dlg->GetDlgItem(IDC_RING_INTERVAL))->setText("1500");
            qobject_cast<QPushButton*>(dlg->GetDlgItem(IDCANCEL))->click();
        });
        Button(IDC_COMPORT)->click();
        EXPECT_EQ(m_dlg.m_aPort[1].m_nRingInterval, before[1].m_nRingInterval);
        QTimer::singleShot(0, [&] {
            CPortSetting* dlg = OpenPortSetting();
            ASSERT_NE(dlg, nullptr);
            caption = dlg->GetWindowText();
            EXPECT_TRUE(dlg->m_bConfirm);
            qobject_cast<QComboBox*>(dlg->GetDlgItem(IDC_SPEED))->setCurrentIndex(0);
            qobject_cast<QComboBox*>(dlg->GetDlgItem(IDC_DATA))->setCurrentIndex(1);
            qobject_cast<QComboBox*>(dlg->GetDlgItem(IDC_PARITY))->setCurrentIndex(2);
            qobject_cast<QLineEdit*>(dlg->GetDlgItem(IDC_RING_INTERVAL))->setText("1500");
            qobject_cast<QLineEdit*>(dlg->GetDlgItem(IDC_CONNECT_INTERVAL))->setText("0");
            qobject_cast<QAbstractButton*>(dlg->GetDlgItem(IDC_DSR))->setChecked(false);
            qobject_cast<QPushButton*>(dlg->GetDlgItem(IDOK))->click();
        });
        Button(IDC_COMPORT)->click();
    });
    EXPECT_EQ(caption, cp932::FromUtf8("COM82 設定")) << "the first selected row in list order";
    ASSERT_EQ(m_dlg.m_aPort.size(), 3u);
    const CPortInfo& edited = m_dlg.m_aPort[1];
    EXPECT_EQ(edited.m_nSpeed, 9600);
    EXPECT_EQ(edited.m_nData, 7);
    EXPECT_EQ(edited.m_nParity, 2);
    EXPECT_EQ(edited.m_nStop, before[1].m_nStop);
    EXPECT_EQ(edited.m_nRing, before[1].m_nRing);
    EXPECT_EQ(edited.m_nConnect, before[1].m_nConnect);
    EXPECT_EQ(edited.m_nRingInterval, 1500);
    EXPECT_EQ(edited.m_nConnectInterval, 0);
    EXPECT_EQ(edited.m_bDsr, 0);
    for (size_t other : {size_t(0), size_t(2)}) {
        EXPECT_EQ(m_dlg.m_aPort[other].m_nSpeed, before[other].m_nSpeed);
        EXPECT_EQ(m_dlg.m_aPort[other].m_nRingInterval, before[other].m_nRingInterval);
        EXPECT_EQ(m_dlg.m_aPort[other].m_bDsr, before[other].m_bDsr);
    }
    EXPECT_TRUE(m_boxes.empty()) << "no caller, no question";
}

TEST_F(MainWindowTest, SelectedRowsStayReadableFocusedOrNot)
{
    int plain = 0;
    int selectedFocused = 0;
    int selectedUnfocused = 0;
    Run([&] {
        QTreeWidget* list = List();
        list->topLevelItem(0)->setSelected(true);
        list->setFocus();
        plain = TextPixels(list, list->topLevelItem(1));
        selectedFocused = TextPixels(list, list->topLevelItem(0));
        Button(IDC_SETTING)->setFocus();
        selectedUnfocused = TextPixels(list, list->topLevelItem(0));
    });
    ASSERT_GT(plain, 50) << "an unselected row shows its text";
    EXPECT_GT(selectedFocused, plain / 2) << "the selected row's text vanished (list focused)";
    EXPECT_GT(selectedUnfocused, plain / 2) << "the selected row's text vanished (list not focused)";
}
