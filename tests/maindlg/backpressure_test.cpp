// The relay with callers that send a block and close, and hosts that read
// slowly or not at all.
#include "relay_fixture.h"

#include "serial/SerialPort.h"

using namespace relaytest;

namespace {

// Bytes of every value in a pattern that does not repeat soon, none of them
// 0xFF, so that telnet leaves them as they are.
std::string Block(size_t size)
{
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>((i * 7 + i / 251) % 255);
    return s;
}

std::string Line(int n, const std::string& name)
{
    return "[COM" + std::to_string(n) + "]\nNAME=" + name + "\nRING=0\nCONNECT=0\nDSR=0\n";
}

}  // namespace

// A caller who sends a block and half-closes at once: every byte he sent
// reaches the host, in order, before the AFTER text of his close.
TEST_F(RelayTest, EveryByteBeforeTheCallersCloseReachesTheHost)
{
    auto host = Device("COM81");
    Run("[TEXT]\nAFTER=BYE\n" + Line(1, "COM81"), [&](CSkiffaDlg& dlg) {
        auto caller = Call(dlg);
        const std::string block = Block(300 * 1024);
        caller->Send(block);
        caller->HalfClose();
        const std::string got = HostGets(*host, "BYE");
        EXPECT_EQ(got.size(), block.size() + 3);
        EXPECT_TRUE(got == block + "BYE") << "the host's bytes differ from what the caller sent";
    });
}

// A host that reads nothing holds back only its own caller: another line
// still relays, and the relay keeps no more than the bound for the stuck
// host. The caller's close ends the call at once; his last bytes, the AFTER
// text and the DTR drop wait for the host in that order, and until the host
// has had them its line is given to no new caller.
TEST_F(RelayTest, HostThatReadsNothingHoldsBackOnlyItsCaller)
{
    auto stuck = Device("COM82");
    auto other = Device("COM83");
    Run("[TEXT]\nAFTER=BYE\n[TIME]\nKEEP=0\n" + Line(1, "COM82") + Line(2, "COM83"), [&](CSkiffaDlg& dlg) {
        auto paster = Call(dlg);
        auto talker = Call(dlg);
        ASSERT_TRUE(stuck->WaitForDtr(true, 5s));
        stuck->SetOutputQueueFull(true);
        const std::string block = Block(COM_OUTPUT_BOUND + 40 * 1024);
        paster->Send(block);
        CSerialPort* port = dlg.m_aPort[0].m_pComm;
        ASSERT_TRUE(WaitUntil([&] { return port->OutputQueued() >= COM_OUTPUT_BOUND; }));

        talker->Send("ping");
        EXPECT_NE(HostGets(*other, "ping").find("ping"), std::string::npos) << "the other line is held too";
        EXPECT_LT(port->OutputQueued(), COM_OUTPUT_BOUND + COM_SLOT_SIZE)
            << "the relay read on past the bound";

        paster->HalfClose();
        EXPECT_TRUE(paster->WaitForEnd()) << "the call waits for the host to read";
        EXPECT_TRUE(stuck->Dtr()) << "DTR dropped before the bytes queued before it";
        talker->Close();
        ASSERT_TRUE(WaitUntil([&] { return !dlg.m_aPort[1].HasCaller(); }));
        auto next = Call(dlg);
        EXPECT_TRUE(dlg.m_aPort[1].HasCaller()) << "a new call rang the host still busy with the last";

        stuck->SetOutputQueueFull(false);
        const std::string got = HostGets(*stuck, "BYE");
        EXPECT_EQ(got.size(), block.size() + 3);
        EXPECT_TRUE(got == block + "BYE") << "the stuck host's bytes differ from what the caller sent";
        EXPECT_TRUE(stuck->WaitForDtr(false, 5s));
    });
}
