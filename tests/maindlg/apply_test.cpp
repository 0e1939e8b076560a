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
#include "settings/Setting.h"
#include "platform/system/profile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>

namespace {

using namespace relaytest;

template <typename Dialog> Dialog* OpenDialog()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* dlg = dynamic_cast<Dialog*>(w); dlg != nullptr && dlg->isVisible())
            return dlg;
    }
    return nullptr;
}

// Clicks a button of the dialog of type Dialog once it is open.
template <typename Dialog> void AnswerWith(UINT buttonId)
{
    QTimer::singleShot(0, [buttonId] {
        Dialog* dlg = OpenDialog<Dialog>();
        ASSERT_NE(dlg, nullptr) << "the dialog did not open";
        qobject_cast<QPushButton*>(dlg->GetDlgItem(buttonId))->click();
    });
}

// Runs the general settings dialog: `edit` changes its controls, then the
// button given is clicked.
void RunSetting(CSkiffaDlg& main, const std::function<void(CSetting&)>& edit, UINT buttonId)
{
    QTimer::singleShot(0, [&edit, buttonId] {
        CSetting* dlg = OpenDialog<CSetting>();
        ASSERT_NE(dlg, nullptr) << "the dialog did not open";
        edit(*dlg);
        qobject_cast<QPushButton*>(dlg->GetDlgItem(buttonId))->click();
    });
    main.OnSetting();
}

void SetEdit(CSetting& dlg, UINT id, const char* text)
{
    qobject_cast<QLineEdit*>(dlg.GetDlgItem(id))->setText(QString::fromUtf8(text));
}

// Whether a blocking connect to the local port is refused.
bool Refuses(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool refused =
        ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno == ECONNREFUSED;
    ::close(fd);
    return refused;
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

// Cancel leaves members, calls and file alone; OK with new times, a new
// AFTER text and a lowered limit cuts nothing, recomputes the tick counts,
// and the running call then ends at the next tick and gets the new text.
TEST_F(RelayTest, GeneralDialogTakesTimesAndTextsBackWithoutCuttingCalls)
{
    auto dev = Device("COM91");
    Run("; my notes\n[COM1]\nNAME=COM91\nRING=0\nCONNECT=0\n[COM2]\nNAME=\n[TIME]\nLIMIT=3600\n",
        [&](CSkiffaDlg& dlg) {
            const std::string before = scratch::ReadBytes(m_dir.File("korvo.ini"));
            auto caller = Call(dlg);
            RunSetting(
                dlg, [](CSetting& s) { SetEdit(s, IDC_NOCOMM_TIME, "99"); }, IDCANCEL);
            EXPECT_EQ(dlg.m_nNoCommTime, 0);
            EXPECT_EQ(scratch::ReadBytes(m_dir.File("korvo.ini")), before) << "Cancel wrote the file";

            RunSetting(
                dlg,
                [](CSetting& s) {
                    SetEdit(s, IDC_NOCOMM_TIME, "30");
                    qobject_cast<QPlainTextEdit*>(s.GetDlgItem(IDC_AFTER))->setPlainText("NEW AFTER");
                },
                IDOK);
            EXPECT_EQ(dlg.m_nNoCommCount, 60);
            EXPECT_EQ(dlg.m_nLimitCount, 7200);
            ASSERT_TRUE(dlg.m_aPort[0].HasCaller()) << "a change of times and texts cut the call";
            EXPECT_EQ(dlg.m_aPort[0].m_nState, LINE_CONNECTED);
            const std::string saved = scratch::ReadBytes(m_dir.File("korvo.ini"));
            EXPECT_NE(saved.find("; my notes\n[COM1]\n"), std::string::npos) << "the comment was lost";
            EXPECT_NE(saved.find("NO_COMM=30"), std::string::npos);
            EXPECT_TRUE(m_boxes.empty()) << "no question without a pool change";

            for (int i = 0; i < 3; ++i)
                Tick(dlg);
            RunSetting(
                dlg, [](CSetting& s) { SetEdit(s, IDC_LIMIT_TIME, "1"); }, IDOK);
            Tick(dlg);  // the counter has passed the lowered limit of 2 ticks
            EXPECT_TRUE(caller->WaitForEnd()) << "the lowered limit did not end the call";
            caller->Close();
            EXPECT_NE(HostGets(*dev, "NEW AFTER").find("NEW AFTER"), std::string::npos);
        });
}

// With nothing to watch the tick sleeps; a limit set during a call wakes it,
// ends the call on its own, and the tick stops again once no call needs it.
TEST_F(RelayTest, ALimitSetDuringAnUnwatchedCallWakesTheTick)
{
    auto dev = Device("COM91");
    Run("[COM1]\nNAME=COM91\nRING=0\nCONNECT=0\nDSR=0\n", [&](CSkiffaDlg& dlg) {
        auto caller = Call(dlg);
        ASSERT_EQ(dlg.m_aPort[0].m_nState, LINE_CONNECTED);
        EXPECT_FALSE(dlg.IsTimerPending(TIMER_TICK)) << "a call without limits or DSR keeps the tick going";
        RunSetting(
            dlg, [](CSetting& s) { SetEdit(s, IDC_LIMIT_TIME, "1"); }, IDOK);
        EXPECT_TRUE(dlg.IsTimerPending(TIMER_TICK));
        EXPECT_TRUE(caller->WaitForEnd()) << "the new limit never ended the call";
        caller->Close();
        ASSERT_TRUE(WaitUntil([&] { return !dlg.m_aPort[0].HasCaller(); }));
        EXPECT_TRUE(WaitUntil([&] { return !dlg.IsTimerPending(TIMER_TICK); }))
            << "the tick runs on with no call";
    });
}

// A new TCP port replaces only the listener: the call goes on, the old port
// refuses and the new one takes callers. A debug value outside 0 to 2 in the
// file comes back as 0: every call is cut without a question, the lines are
// reopened with the trace off, and the file keeps its value.
TEST_F(RelayTest, GeneralDialogMovesTheListenerAndReopensForTheDebugOption)
{
    auto dev1 = Device("COM91");
    auto dev2 = Device("COM92");
    const int newPort = scratch::FreeTcpPort();
    Run(std::string(kTwoLines) + "[DEBUG]\nENABLE=3\n", [&](CSkiffaDlg& dlg) {
        auto caller = Call(dlg);
        const int oldPort = ListenPort(dlg);
        RunSetting(
            dlg,
            [&](CSetting& s) {
                auto* combo = qobject_cast<QComboBox*>(s.GetDlgItem(IDC_TCP_PORT));
                combo->setEditText(QString::number(newPort));
            },
            IDOK);
        EXPECT_EQ(dlg.m_nPort, newPort);
        EXPECT_EQ(ListenPort(dlg), newPort);
        EXPECT_EQ(dlg.m_bDebugLog, 0) << "the debug option came back as 0";
        EXPECT_FALSE(dlg.m_aPort[0].HasCaller()) << "the debug change did not cut the call";
        EXPECT_TRUE(caller->WaitForEnd());
        EXPECT_TRUE(m_boxes.empty()) << "a debug change alone asks nothing";
        EXPECT_TRUE(Refuses(oldPort)) << "the old port still listens";
        auto next = Call(dlg);
        EXPECT_TRUE(dlg.m_aPort[0].HasCaller());
    });
    const std::string saved = scratch::ReadBytes(m_dir.File("korvo.ini"));
    EXPECT_NE(saved.find("[DEBUG]\nENABLE=3"), std::string::npos) << "the debug option is never written";
    EXPECT_NE(saved.find("PORT=" + std::to_string(newPort)), std::string::npos);
}

// A new TCP port that cannot be bound shows 202 and is written all the same;
// the old listener is gone.
TEST_F(RelayTest, GeneralDialogWritesATcpPortThatCannotBeBound)
{
    auto dev1 = Device("COM91");
    auto dev2 = Device("COM92");
    const int busy = scratch::FreeTcpPort();
    Run(kTwoLines, [&](CSkiffaDlg& dlg) {
        const int oldPort = ListenPort(dlg);
        const int holder = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(busy));
        ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ASSERT_EQ(::listen(holder, 1), 0);
        RunSetting(
            dlg,
            [&](CSetting& s) {
                qobject_cast<QComboBox*>(s.GetDlgItem(IDC_TCP_PORT))->setEditText(QString::number(busy));
            },
            IDOK);
        ::close(holder);
        ASSERT_EQ(m_boxes.size(), 1u);
        EXPECT_EQ(m_boxes[0].text, LoadResString(IDS_LISTEN_FAILED));
        EXPECT_EQ(dlg.m_nPort, busy);
        EXPECT_TRUE(Refuses(oldPort)) << "the old listener was not closed";
    });
    EXPECT_NE(scratch::ReadBytes(m_dir.File("korvo.ini")).find("PORT=" + std::to_string(busy)),
              std::string::npos);
}

// Every general value set through the real dialog and saved is what a fresh
// start reads back.
TEST_F(RelayTest, GeneralSettingsSavedAreReadBackByAFreshStart)
{
    auto dev1 = Device("COM91");
    auto dev2 = Device("COM92");
    const std::string logDir = m_dir.Path().string();
    std::unique_ptr<CSkiffaDlg> fresh;
    Run(kTwoLines, [&](CSkiffaDlg& dlg) {
        RunSetting(
            dlg,
            [&](CSetting& s) {
                SetEdit(s, IDC_NOCOMM_TIME, "45");
                SetEdit(s, IDC_LIMIT_TIME, "900");
                SetEdit(s, IDC_KEEP_TIME, "7");
                qobject_cast<QPlainTextEdit*>(s.GetDlgItem(IDC_CHECK1))->setPlainText("NO CARRIER");
                qobject_cast<QPlainTextEdit*>(s.GetDlgItem(IDC_AFTER))->setPlainText(" ATH0\r\nbye\t");
                qobject_cast<QPlainTextEdit*>(s.GetDlgItem(IDC_FULL))->setPlainText("all lines busy");
                qobject_cast<QCheckBox*>(s.GetDlgItem(IDC_TRAY))->setChecked(true);
                qobject_cast<QCheckBox*>(s.GetDlgItem(IDC_LOG))->click();
                SetEdit(s, IDC_LOG_DIR, logDir.c_str());
            },
            IDOK);
        fresh = std::make_unique<CSkiffaDlg>();
        fresh->m_strIniFile = m_dir.File("korvo.ini");
        fresh->LoadSettings();
        EXPECT_EQ(fresh->m_nNoCommTime, 45);
        EXPECT_EQ(fresh->m_nLimitTime, 900);
        EXPECT_EQ(fresh->m_nKeepTime, 7);
        EXPECT_EQ(HangUpString(fresh->m_szCheck1), HangUpString(dlg.m_szCheck1));
        EXPECT_EQ(HangUpString(fresh->m_szCheck1), "NO CARRIER");
        EXPECT_EQ(fresh->m_strAfter, dlg.m_strAfter) << "a text with a leading blank must read back whole";
        EXPECT_EQ(dlg.m_strAfter.front(), ' ');
        EXPECT_EQ(fresh->m_strFull, "all lines busy");
        EXPECT_EQ(fresh->m_strLogDir, logDir);
        EXPECT_EQ(fresh->m_bLog, 1);
        EXPECT_EQ(GetPrivateProfileIntA("ALL", "TRAY", 0, m_dir.File("korvo.ini")), 1);
        ASSERT_EQ(fresh->m_aPort.size(), 2u);
        EXPECT_EQ(fresh->m_aPort[1].m_strName, "COM92");
    });
}

}  // namespace
