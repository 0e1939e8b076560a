// The relay while host lines never stop sending.
#include "relay_fixture.h"

#include <QScopeGuard>
#include <atomic>
#include <thread>
#include <vector>

using namespace relaytest;

// While four hosts keep sending, a caller's bytes still reach his host, a new
// caller is still answered and a RING timer still fires: each gets its turn
// while the floods go on, not after they stop (at the latest after 20 s).
TEST_F(RelayTest, SustainedHostOutputLeavesEveryoneATurn)
{
    constexpr size_t kFlooded = 4;
    std::vector<std::shared_ptr<MemSerialDevice>> hosts;
    std::string ini = "[DEBUG]\nENABLE=1\n";  // the trace makes each message dearer to handle
    for (size_t i = 0; i < kFlooded + 2; ++i) {
        const std::string name = "COM" + std::to_string(71 + i);
        hosts.push_back(Device(name));
        ini += "[COM" + std::to_string(i + 1) + "]\nNAME=" + name + "\nCONNECT=0\nDSR=0\n" +
               (i == kFlooded + 1 ? "RING=2\nINTERVAL=10\n" : "RING=0\n");
    }
    Run(ini, [&](CSkiffaDlg& dlg) {
        std::vector<std::unique_ptr<Caller>> flooded;
        for (size_t i = 0; i < kFlooded; ++i)
            flooded.push_back(Call(dlg));
        auto talker = Call(dlg);
        std::atomic<bool> stop{false}, over{false};
        std::atomic<size_t> received{0};
        std::vector<std::thread> threads;
        const auto joinAll = qScopeGuard([&] {
            stop = true;
            for (std::thread& t : threads)
                t.join();
        });
        // The flooded callers read on a thread of their own, as real ones do.
        threads.emplace_back([&] {
            for (; !stop; std::this_thread::sleep_for(1ms))
                for (auto& c : flooded)
                    received += c->Take().size();
        });
        const auto end = std::chrono::steady_clock::now() + 20s;
        for (size_t i = 0; i < kFlooded; ++i)
            threads.emplace_back([&, host = hosts[i]] {
                const std::string chunk(256 * 1024, 'y');
                for (; !stop; host->WaitForInputTaken(100ms)) {
                    over = over || std::chrono::steady_clock::now() > end;
                    if (!over)
                        host->FeedFromHost(chunk);
                }
            });
        ASSERT_TRUE(WaitUntil([&] { return received > 4 * 1024 * 1024; }, 30s));

        talker->Send("ping");
        EXPECT_TRUE(
            WaitUntil([&] { return hosts[kFlooded]->TakeWritten().find("ping") != std::string::npos; }, 30s));
        EXPECT_FALSE(over) << "the caller's bytes waited until the hosts stopped";
        Caller newcomer(ListenPort(dlg));
        EXPECT_TRUE(newcomer.ReadAtLeast(kOffers.size(), 30s));
        EXPECT_FALSE(over) << "the new caller waited until the hosts stopped";
        EXPECT_NE(HostGets(*hosts.back(), "RING\r\nRING\r\n").find("RING\r\nRING\r\n"), std::string::npos);
        EXPECT_FALSE(over) << "the RING timer waited until the hosts stopped";
    });
}
