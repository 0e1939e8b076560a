// The relay while host lines never stop sending: the bytes they pour out
// must not keep everything else waiting.
#include "relay_fixture.h"

#include <atomic>
#include <thread>
#include <vector>

using namespace relaytest;

namespace {

// Hosts that pour out bytes: each feeds its line again as soon as the relay
// has read what it had, until stopped or until `limit` has passed.
class Floods {
public:
    Floods(const std::vector<std::shared_ptr<MemSerialDevice>>& hosts, std::chrono::seconds limit)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        const std::string chunk = [] {
            std::string s;
            while (s.size() < 256 * 1024)
                s += "y\r\n";
            return s;
        }();
        for (const auto& host : hosts)
            m_threads.emplace_back([this, host, end, chunk] {
                while (!m_stop) {
                    if (std::chrono::steady_clock::now() > end) {
                        m_over = true;
                        return;
                    }
                    host->FeedFromHost(chunk);
                    host->WaitForInputTaken(100ms);
                }
            });
    }
    ~Floods()
    {
        m_stop = true;
        for (std::thread& t : m_threads)
            t.join();
    }
    // Whether the hosts stopped on their own, the limit having passed.
    bool Over() const { return m_over; }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_over{false};
    std::vector<std::thread> m_threads;
};

// Reads what the flooded callers get, on a thread of its own, so that the
// relay's sends go out as they would to real callers.
class Readers {
public:
    explicit Readers(std::vector<std::unique_ptr<Caller>>& callers)
        : m_thread([this, &callers] {
              while (!m_stop) {
                  for (auto& c : callers)
                      m_received += c->Take().size();
                  std::this_thread::sleep_for(1ms);
              }
          })
    {
    }
    ~Readers()
    {
        m_stop = true;
        m_thread.join();
    }
    size_t Received() const { return m_received; }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<size_t> m_received{0};
    std::thread m_thread;
};

}  // namespace

// While four hosts keep sending, a caller's bytes still reach his host, a new
// caller is still answered and a RING timer still fires: each gets its turn
// while the floods go on, not after they stop.
TEST_F(RelayTest, SustainedHostOutputLeavesEveryoneATurn)
{
    constexpr size_t kFlooded = 4;
    std::vector<std::shared_ptr<MemSerialDevice>> hosts;
    std::string ini;
    for (size_t i = 0; i < kFlooded + 2; ++i) {
        const std::string name = "COM" + std::to_string(71 + i);
        hosts.push_back(Device(name));
        const bool last = i == kFlooded + 1;
        ini += "[COM" + std::to_string(i + 1) + "]\nNAME=" + name + "\nCONNECT=0\nDSR=0\n" +
               (last ? "RING=2\nINTERVAL=10\n" : "RING=0\n");
    }
    // The byte trace makes each message dearer to handle, so that the hosts
    // send faster than the relay can pass their bytes on.
    Run(ini + "[DEBUG]\nENABLE=1\n", [&](CSkiffaDlg& dlg) {
        std::vector<std::unique_ptr<Caller>> flooded;
        for (size_t i = 0; i < kFlooded; ++i)
            flooded.push_back(Call(dlg));
        auto talker = Call(dlg);
        Readers readers(flooded);
        Floods floods({hosts.begin(), hosts.begin() + kFlooded}, 20s);
        ASSERT_TRUE(WaitUntil([&] { return readers.Received() > 4 * 1024 * 1024; }, 30s));

        talker->Send("ping");
        EXPECT_TRUE(WaitUntil([&] { return hosts[kFlooded]->TakeWritten().find("ping") != std::string::npos; }, 30s));
        EXPECT_FALSE(floods.Over()) << "the caller's bytes waited until the hosts stopped";

        auto newcomer = std::make_unique<Caller>(ListenPort(dlg));
        EXPECT_TRUE(newcomer->ReadAtLeast(kOffers.size(), 30s)) << "the new caller was not answered";
        EXPECT_FALSE(floods.Over()) << "the new caller waited until the hosts stopped";

        EXPECT_NE(HostGets(*hosts.back(), "RING\r\nRING\r\n").find("RING\r\nRING\r\n"), std::string::npos);
        EXPECT_FALSE(floods.Over()) << "the RING timer waited until the hosts stopped";
    });
}
