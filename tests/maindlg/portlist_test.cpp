// The port list's settings column, caller addresses, and the line set-up's
// treatment of every record.
#include "relay_fixture.h"
#include "relay/Summaries.h"

#include "platform/system/cp932.h"

#include <cstring>

using namespace relaytest;

namespace {

std::string Utf8(const char* text)
{
    return cp932::FromUtf8(text);
}

}  // namespace

TEST(PortSettingsSummary, SectionDefaultsAndAPlainLine)
{
    EXPECT_EQ(PortSettingsSummary(CPortInfo::FromSectionDefaults("COM1")),
              Utf8("38400bps,81O,Ring2回(1000ms),Connect ATA受信後(2000ms),DSR OFF 回線切断"));
    CPortInfo plain = CPortInfo::FromSectionDefaults("COM2");
    plain.m_nSpeed = 9600;
    plain.m_nData = 7;
    plain.m_nStop = 2;
    plain.m_nParity = 2;
    plain.m_nRing = 0;
    plain.m_nConnect = 0;
    plain.m_nConnectInterval = 0;
    plain.m_bDsr = 0;
    EXPECT_EQ(PortSettingsSummary(plain), Utf8("9600bps,72E,Ringなし,Connect なし(0ms),DSR OFF 回線維持"));
}

TEST(PortSettingsSummary, HandEditedValuesStayWithinTheirTexts)
{
    // Values no dialog produces must not pick up neighbouring string-table
    // entries (RING 4 would read CONNECT texts, CONNECT 3 nothing at all).
    CPortInfo odd = CPortInfo::FromNewPortDefaults("COM3");
    odd.m_nParity = 7;
    odd.m_nRing = 4;
    odd.m_nConnect = 3;
    odd.m_nConnectInterval = 5;
    EXPECT_EQ(PortSettingsSummary(odd), Utf8("38400bps,81?,Ring4(1000ms),Connect 3(5ms),DSR OFF 回線切断"));
    odd.m_nRing = -1;
    odd.m_nConnect = -2;
    EXPECT_EQ(PortSettingsSummary(odd), Utf8("38400bps,81?,Ring-1(1000ms),Connect -2(5ms),DSR OFF 回線切断"));
}

TEST(IpToStringTest, BytesInMemoryOrder)
{
    const unsigned char bytes[4] = {10, 1, 2, 3};
    DWORD address = 0;
    std::memcpy(&address, bytes, 4);
    EXPECT_EQ(IpToString(address), "10.1.2.3");
    const unsigned char high[4] = {192, 168, 255, 0};
    std::memcpy(&address, high, 4);
    EXPECT_EQ(IpToString(address), "192.168.255.0");
}

TEST_F(RelayTest, ListRowsFollowTheRecords)
{
    auto dev = Device("COM71");
    Run("[COM1]\nNAME=COM71\nRING=0\nCONNECT=0\n[TIME]\nKEEP=0\n", [&](CSkiffaDlg& dlg) {
        ASSERT_EQ(dlg.m_listPort.GetItemCount(), 1);
        EXPECT_EQ(dlg.m_listPort.GetItemText(0, 0), "COM71");
        EXPECT_EQ(dlg.m_listPort.GetItemText(0, 1), PortSettingsSummary(dlg.m_aPort[0]));
        EXPECT_EQ(dlg.m_listPort.GetItemText(0, 2), LineStateText(LINE_IDLE));
        auto caller = Call(dlg);
        EXPECT_EQ(dlg.m_listPort.GetItemText(0, 2), LineStateText(LINE_CONNECTED));
        EXPECT_EQ(dlg.m_listPort.GetItemText(0, 3), "127.0.0.1");
        EXPECT_EQ(dlg.SendMessage(WM_GETUSERCOUNT, 0, 0), 1);
        // Closing every line cuts the caller at once, with nothing for the
        // host and no caller left in the list after the reopen.
        dlg.ClosePorts();
        dlg.SetupPorts();
        EXPECT_TRUE(caller->WaitForEnd());
        EXPECT_EQ(dlg.m_listPort.GetItemText(0, 3), "");
        EXPECT_EQ(dlg.SendMessage(WM_GETUSERCOUNT, 0, 0), 0);
        EXPECT_TRUE(dlg.m_mapSocket.empty());
        EXPECT_FALSE(dlg.m_btnComPort.IsWindowEnabled());
    });
}

TEST_F(RelayTest, SlowCallerLosesNothingAndStallsNoOtherLine)
{
    auto slowHost = Device("COM71");
    auto otherHost = Device("COM72");
    const std::string line = "RING=0\nCONNECT=0\n";
    Run("[COM1]\nNAME=COM71\n" + line + "[COM2]\nNAME=COM72\n" + line, [&](CSkiffaDlg& dlg) {
        auto slow = Call(dlg, 4096);
        auto other = Call(dlg);
        ShrinkSendBuffer(dlg.m_aPort[0].m_sock);
        // 900 kB for a caller that does not read: more than the socket
        // buffers take, less than the relay's queue bound.
        std::string flood;
        for (int i = 0; i < 900 * 1024; ++i)
            flood += static_cast<char>('a' + i % 26);
        slowHost->FeedFromHost(flood);
        ASSERT_TRUE(WaitUntil([&] { return slowHost->WaitForInputTaken(0ms); }, 10s)) << "relay stalled";
        EXPECT_TRUE(WaitUntil([&] { return dlg.QueuedForCaller(dlg.m_aPort[0].m_sock) > 0; }))
            << "the socket took it all: no queue to test";
        // The other line still relays both ways meanwhile.
        other->Send("ping");
        EXPECT_EQ(HostGets(*otherHost, "ping"), "ping");
        otherHost->FeedFromHost("pong");
        ASSERT_TRUE(other->ReadAtLeast(4));
        EXPECT_EQ(other->Take(), "pong");
        // Now the slow caller reads everything, in order.
        ASSERT_TRUE(slow->ReadAtLeast(flood.size(), 20s));
        EXPECT_TRUE(slow->Take() == flood) << "bytes lost or reordered";
    });
}

TEST_F(RelayTest, QueueForASlowCallerIsBounded)
{
    auto host = Device("COM71");
    Run("[COM1]\nNAME=COM71\nRING=0\nCONNECT=0\n", [&](CSkiffaDlg& dlg) {
        auto slow = Call(dlg, 4096);
        ShrinkSendBuffer(dlg.m_aPort[0].m_sock);
        std::string flood;
        for (int i = 0; i < 1536 * 1024; ++i)
            flood += static_cast<char>('A' + i % 26);
        host->FeedFromHost(flood);
        ASSERT_TRUE(WaitUntil(
            [&] { return dlg.QueuedForCaller(dlg.m_aPort[0].m_sock) == CallerOutput::kQueueLimit; }, 10s))
            << "the queue fills to its bound and no further";
        // The caller gets the oldest bytes in order; newer ones were dropped.
        slow->ReadAtLeast(flood.size(), 3s);
        const std::string got = slow->Take();
        ASSERT_GE(got.size(), CallerOutput::kQueueLimit);
        EXPECT_LT(got.size(), flood.size());
        EXPECT_TRUE(flood.compare(0, CallerOutput::kQueueLimit, got, 0, CallerOutput::kQueueLimit) == 0)
            << "the first megabyte arrives whole and in order";
    });
}

TEST_F(RelayTest, HalfCloseIsNotHeldBackByAHostThatKeepsSending)
{
    auto host = Device("COM71");
    std::unique_ptr<Caller> slow;
    Run("[COM1]\nNAME=COM71\nRING=0\nCONNECT=0\n[TIME]\nLIMIT=1\n", [&](CSkiffaDlg& dlg) {
        slow = Call(dlg, 4096);
        dlg.KillTimer(TIMER_TICK);  // the test ticks by hand
        ShrinkSendBuffer(dlg.m_aPort[0].m_sock);
        const std::string first(300 * 1024, 'a');
        host->FeedFromHost(first);
        ASSERT_TRUE(WaitUntil([&] { return dlg.QueuedForCaller(dlg.m_aPort[0].m_sock) > 0; }));
        ASSERT_TRUE(WaitUntil([&] { return host->WaitForInputTaken(0ms); }));
        Tick(dlg);
        Tick(dlg);  // the call-time limit is reached: the call is to end
        host->FeedFromHost(std::string(300 * 1024, 'b'));
        ASSERT_TRUE(WaitUntil([&] { return host->WaitForInputTaken(0ms); }));
        EXPECT_TRUE(slow->WaitForEnd(10s)) << "the half-close went out after the queued bytes";
        const std::string got = slow->Take();
        EXPECT_FALSE(got.empty());
        EXPECT_EQ(got.find('b'), std::string::npos) << "nothing sent after the half-close was due arrives";
    });
    // The caller outlives the window: its close must reach nobody.
    slow->Close();
    Pump(100ms);
}
