// Applying what the settings dialogs return, with the real dialogs answered
// by the test and live calls on real sockets.
#include "relay_fixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>
#include <QTreeWidget>

#include "resources/ResString.h"
#include "resources/resource.h"
#include "settings/PortSetting.h"

namespace {

using namespace relaytest;

template <typename Dialog>
Dialog* OpenDialog()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* dlg = dynamic_cast<Dialog*>(w); dlg != nullptr && dlg->isVisible())
            return dlg;
    }
    return nullptr;
}

// Clicks a button of the dialog of type Dialog once it is open.
template <typename Dialog>
void AnswerWith(UINT buttonId)
{
    QTimer::singleShot(0, [buttonId] {
        Dialog* dlg = OpenDialog<Dialog>();
        ASSERT_NE(dlg, nullptr) << "the dialog did not open";
        qobject_cast<QPushButton*>(dlg->GetDlgItem(buttonId))->click();
    });
}

void SelectRow(CSkiffaDlg& dlg, int row)
{
    auto* list = qobject_cast<QTreeWidget*>(dlg.GetDlgItem(IDC_PORT_LIST));
    list->topLevelItem(row)->setSelected(true);
}

const char* const kTwoLines = "[COM1]\nNAME=COM91\n[COM2]\nNAME=COM92\n[COM3]\nNAME=\n";

// Cancel changes nothing: the call goes on and the file keeps its bytes. OK
// without a change asks 211 (a user is connected), then cuts every call,
// reopens every line and writes the file.
TEST_F(RelayTest, ComPortDialogCancelKeepsEverythingAndOkReopensEveryLine)
{
    auto dev1 = Device("COM91");
    auto dev2 = Device("COM92");
    Run(kTwoLines, [&](CSkiffaDlg& dlg) {
        const std::string before = scratch::ReadBytes(m_dir.File("korvo.ini"));
        auto caller = Call(dlg);
        ASSERT_TRUE(dlg.m_aPort[0].HasCaller());
        const CSerialPort* port1 = dlg.m_aPort[0].m_pComm;
        SelectRow(dlg, 1);

        AnswerWith<CPortSetting>(IDCANCEL);
        dlg.OnBnClickedComPort();
        EXPECT_TRUE(dlg.m_aPort[0].HasCaller()) << "Cancel cut a call";
        EXPECT_EQ(dlg.m_aPort[0].m_pComm, port1) << "Cancel reopened a line";
        EXPECT_EQ(scratch::ReadBytes(m_dir.File("korvo.ini")), before) << "Cancel wrote the file";

        SetMessageBoxHookForTesting([this](const MessageBoxRecord& box) {
            m_boxes.push_back(box);
            return IDYES;
        });
        AnswerWith<CPortSetting>(IDOK);
        dlg.OnBnClickedComPort();
        ASSERT_EQ(m_boxes.size(), 1u) << "question 211 while a user is connected";
        EXPECT_EQ(m_boxes[0].text, LoadResString(IDS_CONFIRM_CHANGE));
        EXPECT_FALSE(dlg.m_aPort[0].HasCaller()) << "the call goes on";
        EXPECT_TRUE(caller->WaitForEnd()) << "the caller's connection was not closed";
        for (const CPortInfo& p : dlg.m_aPort)
            EXPECT_EQ(p.m_nState, LINE_IDLE);
        EXPECT_NE(scratch::ReadBytes(m_dir.File("korvo.ini")), before) << "the file was not written";
        EXPECT_NE(scratch::ReadBytes(m_dir.File("korvo.ini")).find("DSR=1"), std::string::npos);
    });
}

}  // namespace
