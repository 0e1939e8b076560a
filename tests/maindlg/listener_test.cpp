// The listener under a burst of callers, and what every caller's socket is
// given at the accept.
#include "relay_fixture.h"

#include <QScopeGuard>
#include <algorithm>
#include <thread>
#include <vector>

using namespace relaytest;

// Far more callers than one turn of the relay accepts arrive while it is
// busy: the system queues every one of them for the relay, and each is
// refused with the FULL text and the end of the stream.
TEST_F(RelayTest, BurstOfCallersIsAnsweredToTheLast)
{
    constexpr size_t kBurst = 100;
    Run("[TEXT]\nFULL=busy\\r\\n\n[LOG]\nENABLE=0\n", [&](CSkiffaDlg& dlg) {
        std::vector<std::unique_ptr<Caller>> callers;
        for (size_t i = 0; i < kBurst; ++i)
            callers.push_back(std::make_unique<Caller>(ListenPort(dlg)));
        // The relay's loop does not run meanwhile.
        const auto queued = [&] {
            return std::all_of(callers.begin(), callers.end(), [](auto& c) { return c->Connected(); });
        };
        for (auto end = std::chrono::steady_clock::now() + 10s;
             !queued() && std::chrono::steady_clock::now() < end;)
            std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(queued()) << "callers left outside the listen queue";
        for (size_t i = 0; i < kBurst; ++i) {
            EXPECT_TRUE(callers[i]->WaitForEnd(30s)) << "caller " << i;
            EXPECT_EQ(callers[i]->Take(), "busy\r\n") << "caller " << i;
        }
    });
}

// A caller's socket gives up on bytes or an end it sent that stay
// unacknowledged for two minutes, so a caller whose network vanished does
// not keep his line for the quarter of an hour the system would try.
TEST_F(RelayTest, CallerSocketGivesUpAfterTwoMinutes)
{
    auto dev = Device("COM71");
    Run("[COM1]\nNAME=COM71\nRING=0\nCONNECT=0\n[COM2]\nNAME=\n[LOG]\nENABLE=0\n", [&](CSkiffaDlg& dlg) {
        auto caller = Call(dlg);
        ASSERT_TRUE(dlg.m_aPort[0].HasCaller());
        EXPECT_EQ(GiveUpSeconds(dlg.m_aPort[0].m_sock), 120);
    });
}

// A caller who was asked to end the call and never closes his side is cut
// as on a reset once the give-up time has passed, and his line comes back.
TEST_F(RelayTest, HalfClosedCallerWhoNeverClosesIsCut)
{
    auto dev = Device("COM71");
    CSkiffaDlg::SetCloseGiveUpForTesting(50ms);
    const auto restore = qScopeGuard([] { CSkiffaDlg::SetCloseGiveUpForTesting(120s); });
    Run("[COM1]\nNAME=COM71\nRING=0\nCONNECT=0\nDSR=0\n[COM2]\nNAME=\n[TIME]\nLIMIT=1\nKEEP=0\n",
        [&](CSkiffaDlg& dlg) {
            auto caller = Call(dlg);
            dlg.KillTimer(TIMER_TICK);  // the test ticks by hand
            Tick(dlg);
            Tick(dlg);
            EXPECT_TRUE(caller->WaitForEnd()) << "the limit did not half-close the call";
            EXPECT_TRUE(WaitUntil([&] { return !dlg.m_aPort[0].HasCaller(); }))
                << "the line stayed with a caller who never closes";
        });
}
