// The answering modem of each line, driven through the real dialog: the host
// side is an in-memory serial device, the caller a loopback TCP client.
#include "relay_fixture.h"

#include "serial/SerialPort.h"

using namespace relaytest;

namespace {

// One line on COM71 with the given extra keys.
std::string OneLine(const std::string& keys)
{
    return "[COM1]\nNAME=COM71\n" + keys + "\n[TIME]\nKEEP=0\n";
}

}  // namespace

TEST_F(RelayTest, DsrDropCutsTheCallOnlyWhenTheOptionIsOn)
{
    for (int option : {1, 0}) {
        auto dev = Device("COM71");
        Run(OneLine("RING=0\nCONNECT=0\nDSR=" + std::to_string(option)), [&](CSkiffaDlg& dlg) {
            auto caller = Call(dlg);
            ASSERT_EQ(dlg.m_aPort[0].m_nState, LINE_CONNECTED);
            Tick(dlg);
            EXPECT_FALSE(caller->Ended()) << "DSR is on";
            dev->SetDsr(false);
            Tick(dlg);
            if (option == 1)
                EXPECT_TRUE(caller->WaitForEnd()) << "DSR dropped with the option on";
            else
                EXPECT_FALSE(caller->WaitForEnd(300ms)) << "DSR dropped with the option off";
        });
    }
}

TEST_F(RelayTest, DtrRisesAtEveryConnectAndDropsAtTheCallersClose)
{
    struct Path {
        const char* keys;
        const char* hostAnswer;  // sent once the first RING is seen, if any
    };
    const Path paths[] = {
        {"RING=0\nCONNECT=1", nullptr},               // connect at the call start
        {"RING=1\nINTERVAL=50\nCONNECT=2", nullptr},  // after the last RING
        {"RING=3\nINTERVAL=5000\nCONNECT=1\nCONNECT_INTERVAL=0", "ATA\r"},
        {"RING=3\nINTERVAL=5000\nCONNECT=0", "ATA\r"},
        {"RING=3\nINTERVAL=5000\nCONNECT=1\nCONNECT_INTERVAL=50", "ATA\r"},  // the delayed CONNECT
    };
    for (const Path& path : paths) {
        SCOPED_TRACE(path.keys);
        auto dev = Device("COM71");
        Run(OneLine(path.keys), [&](CSkiffaDlg& dlg) {
            EXPECT_FALSE(dev->Dtr());
            auto caller = Call(dlg);
            if (path.hostAnswer != nullptr) {
                HostGets(*dev, "RING\r\n");
                dev->FeedFromHost(path.hostAnswer);
            }
            EXPECT_TRUE(WaitUntil([&] { return dlg.m_aPort[0].m_nState == LINE_CONNECTED; }));
            EXPECT_TRUE(dev->Dtr());
            caller->Close();
            EXPECT_TRUE(WaitUntil([&] { return !dlg.m_aPort[0].HasCaller(); }));
            EXPECT_FALSE(dev->Dtr());
            EXPECT_EQ(dlg.m_aPort[0].m_nState, LINE_IDLE);
        });
        MemSerialDevice::Unregister("COM71");
    }
}

TEST_F(RelayTest, HostCommandLines)
{
    struct Case {
        const char* line;
        bool answers;  // the call is answered
        bool okReply;  // "OK\r\n" comes back
    };
    const Case cases[] = {
        {"ata\r", true, false},  {"ATA0\r\n", true, false}, {"AtA\r", true, false},
        {"AT A\r", false, true}, {"ATH\r", false, true},    {"AT\r\n", false, true},
        {"A\r", false, false},   {"\r", false, false},      {"+++", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        auto dev = Device("COM71");
        Run(OneLine("RING=3\nINTERVAL=5000\nCONNECT=0"), [&](CSkiffaDlg& dlg) {
            auto caller = Call(dlg);
            HostGets(*dev, "RING\r\n");
            dev->FeedFromHost(c.line);
            if (c.answers) {
                EXPECT_TRUE(WaitUntil([&] { return dlg.m_aPort[0].m_nState == LINE_CONNECTED; }));
                EXPECT_EQ(dev->TakeWritten(), "") << "mode 0 sends no CONNECT line";
            } else if (c.okReply) {
                EXPECT_EQ(HostGets(*dev, "OK\r\n"), "OK\r\n");
                EXPECT_EQ(dlg.m_aPort[0].m_nState, LINE_MODEM_INIT);
            } else {
                // A probe line after it: its OK is the first and only reply,
                // so the line before got none.
                dev->FeedFromHost("\rAT\r");
                EXPECT_EQ(HostGets(*dev, "OK\r\n"), "OK\r\n");
            }
        });
        MemSerialDevice::Unregister("COM71");
    }
}

TEST_F(RelayTest, PendingCommandSurvivesACall)
{
    auto dev = Device("COM71");
    Run(OneLine("RING=0\nCONNECT=0"), [&](CSkiffaDlg& dlg) {
        dev->FeedFromHost("ATZ");
        ASSERT_TRUE(WaitUntil([&] { return dlg.m_aPort[0].m_nCmdLen == 3; })) << "ATZ waits as command text";
        auto caller = Call(dlg);
        caller->Close();
        ASSERT_TRUE(WaitUntil([&] { return !dlg.m_aPort[0].HasCaller(); }));
        dev->TakeWritten();
        dev->FeedFromHost("\r");
        EXPECT_EQ(HostGets(*dev, "OK\r\n"), "OK\r\n") << "ATZ completed after the call";
    });
}

TEST_F(RelayTest, AnsweringOneLineLeavesTheOtherRinging)
{
    auto a = Device("COM71");
    auto b = Device("COM72");
    const std::string line = "RING=3\nINTERVAL=150\nCONNECT=0\n";
    Run("[COM1]\nNAME=COM71\n" + line + "[COM2]\nNAME=COM72\n" + line, [&](CSkiffaDlg& dlg) {
        auto first = Call(dlg);
        auto second = Call(dlg);
        HostGets(*a, "RING\r\n");
        HostGets(*b, "RING\r\n");
        a->FeedFromHost("ATA\r");
        ASSERT_TRUE(WaitUntil([&] { return dlg.m_aPort[0].m_nState == LINE_CONNECTED; }));
        EXPECT_EQ(dlg.m_aPort[1].m_nState, LINE_RINGING);
        // Line 2 goes on ringing: two more RINGs, then it connects by itself.
        std::string rings;
        EXPECT_TRUE(WaitUntil([&] {
            rings += b->TakeWritten();
            return dlg.m_aPort[1].m_nState == LINE_CONNECTED;
        }));
        EXPECT_EQ(rings, "RING\r\nRING\r\n");
    });
}

TEST_F(RelayTest, TimersPendingAcrossAReopenDoNothing)
{
    auto dev = Device("COM71");
    Run(OneLine("RING=2\nINTERVAL=200\nCONNECT=1\nCONNECT_INTERVAL=200"), [&](CSkiffaDlg& dlg) {
        auto caller = Call(dlg);
        HostGets(*dev, "RING\r\n");
        dev->FeedFromHost("ATA\r");
        ASSERT_TRUE(WaitUntil([&] { return dlg.m_aPort[0].m_nState == LINE_WAIT_CONNECT; }));
        dlg.ClosePorts();  // cuts the call while TIMER_CONNECT is pending
        dlg.SetupPorts();
        EXPECT_EQ(dlg.m_aPort[0].m_nState, LINE_IDLE);
        EXPECT_TRUE(caller->WaitForEnd()) << "the caller was cut";
        dev->TakeWritten();
        // The old delayed CONNECT, and a release timer, fire into an idle line.
        dlg.SendMessage(WM_TIMER, TIMER_CONNECT + 0, 0);
        dlg.SendMessage(WM_TIMER, TIMER_RING + 0, 0);
        dlg.SendMessage(WM_TIMER, TIMER_RELEASE + 0, 0);
        Pump(300ms);
        EXPECT_EQ(dlg.m_aPort[0].m_nState, LINE_IDLE);
        EXPECT_EQ(dev->TakeWritten(), "") << "nothing went to the host";
        EXPECT_FALSE(dev->Dtr());
    });
}

TEST_F(RelayTest, CallerGetsTheFirstIdleLineWithAnOpenPort)
{
    auto a = Device("COM71");
    auto c = Device("COM73");  // COM72 is not there: open error
    const std::string line = "RING=0\nCONNECT=0\n";
    Run("[COM1]\nNAME=COM71\n" + line + "[COM2]\nNAME=COM72\n" + line + "[COM3]\nNAME=COM73\n" + line +
            "[TIME]\nKEEP=30\n",
        [&](CSkiffaDlg& dlg) {
            ASSERT_EQ(m_boxes.size(), 1u) << "one open-error box for COM72";
            EXPECT_EQ(dlg.m_aPort[1].m_nState, LINE_OPEN_ERROR);
            EXPECT_EQ(dlg.m_listPort.GetItemText(1, 2), LineStateText(LINE_OPEN_ERROR));
            {
                auto first = Call(dlg);
                EXPECT_EQ(dlg.m_aPort[0].m_nState, LINE_CONNECTED);
                first->Close();
                ASSERT_TRUE(WaitUntil([&] { return dlg.m_aPort[0].m_nState == LINE_HOLD; }));
            }
            // Line 1 holds, line 2 is in open error: line 3 takes the call.
            auto second = Call(dlg);
            EXPECT_TRUE(dlg.m_aPort[2].HasCaller());
            EXPECT_EQ(dlg.m_listPort.GetItemText(2, 3), "127.0.0.1");
            // No line left: the next caller is refused with the FULL text.
            Caller third(ListenPort(dlg));
            EXPECT_TRUE(third.WaitForEnd());
            EXPECT_EQ(third.Take(), dlg.m_strFull);
        });
}

TEST_F(RelayTest, StaleDataFromAReplacedPortIsDropped)
{
    auto dev = Device("COM71");
    Run(OneLine("RING=0\nCONNECT=0"), [&](CSkiffaDlg& dlg) {
        auto caller = Call(dlg);
        const DWORD oldGeneration = dlg.m_aPort[0].m_pComm->Generation();
        caller->Close();
        ASSERT_TRUE(WaitUntil([&] { return !dlg.m_aPort[0].HasCaller(); }));
        dlg.ClosePorts();
        dlg.SetupPorts();
        ASSERT_NE(dlg.m_aPort[0].m_pComm, nullptr);
        // A message of the old port, naming slot 0, arrives late.
        dlg.SendMessage(WM_COMDATA, 0, static_cast<LPARAM>(oldGeneration) << 8);
        dev->FeedFromHost("AT\r");
        EXPECT_EQ(HostGets(*dev, "OK\r\n"), "OK\r\n") << "the new port's first slot is still its own";
        // A row without a port or past the end is ignored.
        dlg.SendMessage(WM_COMDATA, 7, 0);
    });
}

TEST_F(RelayTest, HangupStringEndsTheCallWithoutAfterText)
{
    auto dev = Device("COM71");
    Run(OneLine("RING=0\nCONNECT=0") + "[TEXT]\nCHECK1=NO CARRIER\nAFTER=bye\\r\n", [&](CSkiffaDlg& dlg) {
        auto caller = Call(dlg);
        dev->FeedFromHost("hello NO CAR");
        EXPECT_TRUE(caller->ReadAtLeast(12));
        EXPECT_FALSE(caller->Ended());
        dev->FeedFromHost("RIER\r\n");
        EXPECT_TRUE(caller->WaitForEnd()) << "the hang-up string half-closes the call";
        EXPECT_EQ(caller->Take(), "hello NO CARRIER\r\n");
        caller->Close();
        ASSERT_TRUE(WaitUntil([&] { return !dlg.m_aPort[0].HasCaller(); }));
        EXPECT_EQ(dev->TakeWritten(), "") << "no AFTER text after a hang-up string";
    });
}

TEST_F(RelayTest, LimitsEndTheCallAtTheirTick)
{
    auto dev = Device("COM71");
    Run(OneLine("RING=0\nCONNECT=0") + "[TIME]\nLIMIT=2\nKEEP=0\n[TEXT]\nAFTER=after\n",
        [&](CSkiffaDlg& dlg) {
            auto caller = Call(dlg);
            dlg.KillTimer(TIMER_TICK);  // the test ticks by hand
            for (int i = 0; i < 3; ++i)
                Tick(dlg);
            EXPECT_FALSE(caller->WaitForEnd(200ms)) << "three ticks of four";
            Tick(dlg);
            EXPECT_TRUE(caller->WaitForEnd()) << "the fourth tick reaches two seconds";
            caller->Close();
            EXPECT_EQ(HostGets(*dev, "after"), "after") << "AFTER text after a limit";
        });
}

TEST_F(RelayTest, RestOfTheAnsweringMessageIsCommandText)
{
    auto dev = Device("COM71");
    Run(OneLine("RING=3\nINTERVAL=5000\nCONNECT=0"), [&](CSkiffaDlg& dlg) {
        auto caller = Call(dlg);
        HostGets(*dev, "RING\r\n");
        dev->FeedFromHost("ATA\rhello");
        ASSERT_TRUE(WaitUntil([&] { return dlg.m_aPort[0].m_nState == LINE_CONNECTED; }));
        EXPECT_EQ(dlg.m_aPort[0].m_nCmdLen, 5) << "hello waits as command text";
        dev->FeedFromHost("world");
        ASSERT_TRUE(caller->ReadAtLeast(5));
        EXPECT_EQ(caller->Take(), "world") << "only the next message reaches the caller";
    });
}
