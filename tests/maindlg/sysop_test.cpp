// What a sysop's own korvo.ini and hardware bring: timer elapses below the
// shortest, TCP ports that are none, a device that vanishes during a call,
// and the log time of a caller who leaves before his line connected.
#include "relay_fixture.h"

#include <sys/socket.h>

#include "platform/base/clock.h"
#include "resources/resource.h"
#include "serial/SerialPort.h"
#include "resources/ResString.h"

using namespace relaytest;

namespace {

SYSTEMTIME Today(int hour, int minute, int second)
{
    SYSTEMTIME st{};
    st.wYear = 2019;
    st.wMonth = 1;
    st.wDay = 1;
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    return st;
}

}  // namespace

// INTERVAL=0 rings no faster than the shortest timer, 10 ms: three RINGs and
// the connect after them take at least three elapses.
TEST_F(RelayTest, RingTimerIsNeverShorterThanTenMs)
{
    auto dev = Device("COM71");
    Run("[COM1]\nNAME=COM71\nRING=3\nINTERVAL=0\nCONNECT=0\n", [&](CSkiffaDlg& dlg) {
        const auto before = std::chrono::steady_clock::now();  // before the accept can set the first timer
        Caller caller(ListenPort(dlg));
        ASSERT_TRUE(WaitUntil([&] { return dlg.m_aPort[0].m_nState == LINE_CONNECTED; }));
        const auto took = std::chrono::steady_clock::now() - before;
        EXPECT_GE(took, 3 * 10ms);
        EXPECT_EQ(HostGets(*dev, "RING\r\nRING\r\nRING\r\n"), "RING\r\nRING\r\nRING\r\n");
    });
}

// A PORT that is no TCP port (also "abc", which reads as 0) fails like a
// port in use: message 202, with the port and the reason for the journal,
// and nothing listens.
TEST_F(RelayTest, PortOutsideTheRangeGivesMessage202)
{
    const int busy = ::socket(AF_INET, SOCK_STREAM, 0);
    const int port = scratch::FreeTcpPort();
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    ASSERT_EQ(::bind(busy, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(busy, 1), 0);

    const struct {
        std::string value;
        std::string detail;
    } cases[] = {
        {"-1", "TCP port -1: not a TCP port (1 to 65535)"},
        {"99999", "TCP port 99999: not a TCP port (1 to 65535)"},
        {"abc", "TCP port 0: not a TCP port (1 to 65535)"},
        {std::to_string(port), "TCP port " + std::to_string(port) + ": Address already in use"},
    };
    for (const auto& c : cases) {
        m_boxes.clear();
        int bound = -1;
        RunAsWritten("[SERVER]\nPORT=" + c.value + "\n", [&](CSkiffaDlg& dlg) { bound = ListenPort(dlg); });
        ASSERT_EQ(m_boxes.size(), 1u) << c.value;
        EXPECT_EQ(m_boxes[0].text, LoadResString(IDS_LISTEN_FAILED));
        EXPECT_EQ(m_boxes[0].type & 0xF0, MB_ICONSTOP);
        EXPECT_EQ(m_boxes[0].detail, c.detail);
        if (c.value != std::to_string(port)) {
            EXPECT_EQ(bound, 0) << c.value << ": the listener must not be bound anywhere";
        }
    }
    ::close(busy);
}

// A line whose device vanishes leaves the pool at once, in a call or idle:
// the list shows the open error, stderr names the port and its device once,
// and a call on it ends as on a DSR drop (the caller is half-closed, his
// close ends the call). A reopening of the lines tries both again.
TEST_F(RelayTest, VanishedDeviceTakesItsLineOutOfThePool)
{
    auto first = Device("COM71");
    auto second = Device("COM72");
    const auto gone = [](const std::string& err, const std::string& port) {
        const std::string line = "COM Port オープンエラー [" + port + " (in-memory device " + port +
                                 "): the device has gone away]";
        const size_t at = err.find(line);
        return at != std::string::npos && err.find(line, at + 1) == std::string::npos;
    };
    ::testing::internal::CaptureStderr();
    Run("[COM1]\nNAME=COM71\nRING=0\nCONNECT=0\nDSR=0\n[COM2]\nNAME=COM72\nRING=0\nCONNECT=0\nDSR=0\n[COM3]\n"
        "NAME=\n[TIME]\nKEEP=0\n[LOG]\nENABLE=0\n",
        [&](CSkiffaDlg& dlg) {
            auto caller = Call(dlg);
            ASSERT_TRUE(dlg.m_aPort[0].HasCaller());
            first->Fail();  // the adapter is pulled
            ASSERT_TRUE(WaitUntil([&] { return dlg.m_aPort[0].m_nState == LINE_OPEN_ERROR; }));
            EXPECT_EQ(dlg.m_listPort.GetItemText(0, 2), LineStateText(LINE_OPEN_ERROR));
            EXPECT_TRUE(caller->WaitForEnd()) << "the call goes on on a dead line";
            caller->Close();
            ASSERT_TRUE(WaitUntil([&] { return !dlg.m_aPort[0].HasCaller(); }));
            EXPECT_EQ(dlg.m_aPort[0].m_nState, LINE_OPEN_ERROR) << "the call's end put the line back";

            second->Fail();  // gone while idle
            ASSERT_TRUE(WaitUntil([&] { return dlg.m_aPort[1].m_nState == LINE_OPEN_ERROR; }));
            EXPECT_EQ(dlg.m_listPort.GetItemText(1, 2), LineStateText(LINE_OPEN_ERROR));
            Caller refused(ListenPort(dlg));
            EXPECT_TRUE(refused.WaitForEnd()) << "no line is left: the caller is refused";

            // Plugged in again: the next reopening of the lines takes them back.
            first = Device("COM71");
            second = Device("COM72");
            dlg.ClosePorts();
            dlg.SetupPorts();
            EXPECT_EQ(dlg.m_aPort[0].m_nState, LINE_IDLE);
            EXPECT_EQ(dlg.m_aPort[1].m_nState, LINE_IDLE);
        });
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(gone(err, "COM71")) << err;
    EXPECT_TRUE(gone(err, "COM72")) << err;
}

// A caller who leaves while his line still rings is logged with the time he
// came, not the connect time of the line's previous call.
TEST_F(RelayTest, EarlyLeaverIsLoggedWithTheTimeHeCame)
{
    auto dev = Device("COM71");
    Run("[COM1]\nNAME=COM71\nRING=3\nINTERVAL=5000\nCONNECT=0\n[COM2]\nNAME=\n[TIME]\nKEEP=0\n[LOG]\nENABLE="
        "1\nDIR=" +
            m_dir.Path().string() + "\n",
        [&](CSkiffaDlg& dlg) {
            SetLocalTimeSourceForTesting([] { return Today(10, 0, 0); });
            auto caller = Call(dlg);
            dev->FeedFromHost("ATA\r");
            ASSERT_TRUE(WaitUntil([&] { return dlg.m_aPort[0].m_nState == LINE_CONNECTED; }));
            SetLocalTimeSourceForTesting([] { return Today(10, 5, 0); });
            caller->Close();
            ASSERT_TRUE(WaitUntil([&] { return !dlg.m_aPort[0].HasCaller(); }));

            SetLocalTimeSourceForTesting([] { return Today(11, 11, 11); });
            auto early = Call(dlg);
            ASSERT_EQ(dlg.m_aPort[0].m_nState, LINE_RINGING);
            SetLocalTimeSourceForTesting([] { return Today(11, 11, 20); });
            early->Close();
            ASSERT_TRUE(WaitUntil([&] { return !dlg.m_aPort[0].HasCaller(); }));
        });
    SetLocalTimeSourceForTesting({});
    std::ifstream in(m_dir.File("Korvo_190101.log"));
    const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(log, "COM71,10:00:00,10:05:00\nCOM71,11:11:11,11:11:20\n");
}
