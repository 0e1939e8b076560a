// End to end under load: a hundred lines with a hundred callers at once, a
// caller that stops reading while others carry on, and hostile byte streams
// from both sides, none of which may lose, corrupt or stall a call.
#include <array>
#include <future>
#include <map>
#include <random>

#include "e2e/relay_test.h"

namespace e2e {
namespace {

const std::string kFull = "All lines are busy.\r\n";
const std::string kAfter = "\r\n<AFTER>\r\n";

// What the host must receive from a caller's data-phase stream: IAC IAC as
// one 0xFF, a 0xFF carried over from one read to the next.
std::string UndoubledForHost(std::string_view caller)
{
    std::string out;
    bool pending = false;
    for (char c : caller) {
        bool iac = static_cast<unsigned char>(c) == 0xFF;
        if (pending) {
            pending = false;
            if (!iac)
                out += c;
        } else {
            out += c;
            pending = iac;
        }
    }
    return out;
}

// Where two byte strings first differ, for failure messages.
std::string FirstDifference(const std::string& got, const std::string& want)
{
    size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i])
        ++i;
    if (i == got.size() && i == want.size())
        return "equal";
    size_t from = i > 16 ? i - 16 : 0;
    return "got " + std::to_string(got.size()) + " bytes, want " + std::to_string(want.size()) +
           "; first difference at " + std::to_string(i) + ": got [" +
           Printable(std::string_view(got).substr(from, 48)) + "] want [" +
           Printable(std::string_view(want).substr(from, 48)) + "]";
}

std::string RandomBytes(std::mt19937& rng, size_t n)
{
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(rng() & 0xFF);
    return s;
}

class Load : public RelayTest {
protected:
    // Calls until a caller is served rather than refused with kFull (the line
    // may be initialising or held). Use with ASSERT_NO_FATAL_FAILURE.
    void CallInWhenFree(std::optional<TcpCaller>& caller)
    {
        Deadline deadline(kDeadline);
        std::string why;
        for (;;) {
            ASSERT_FALSE(deadline.Passed()) << "no caller was served";
            caller = relay_.Call(&why);
            ASSERT_TRUE(caller) << why;
            std::optional<std::string> first = caller->ReadN(1);
            ASSERT_TRUE(first) << caller->Describe();
            if (*first == "\xFF") {
                ASSERT_TRUE(Receives(*caller, kOffers.substr(1), "the caller"));
                return;
            }
            ASSERT_TRUE(ReceivesThenEnd(*caller, kFull.substr(1), "a refused caller"));
            std::this_thread::sleep_for(100ms);
        }
    }
};

// One line's side of the hundred-callers test, on its own thread: the host
// answers the RING with ATA; host and caller then agree on a clean start
// (the ATA may come after the line has connected by itself) and send each
// other 32 KiB at once. Empty when every byte arrived as it should.
std::string ServeLine(PtyHost& host, std::shared_future<TcpCaller*> callerReady, unsigned seed,
                      bool* connectLine)
{
    const std::string who = "line " + std::to_string(seed);
    // The caller is handed over once it holds this line; the RING comes then.
    // A test that stops early breaks the promise, which ends the wait.
    TcpCaller* callerPtr = nullptr;
    try {
        if (callerReady.wait_for(60s) != std::future_status::ready)
            return who + ": no caller";
        callerPtr = callerReady.get();
    } catch (const std::future_error&) {
        return who + ": no caller";
    }
    TcpCaller& caller = *callerPtr;
    if (!host.ReadUntil("RING\r\n"))
        return who + ": no RING: " + host.Describe();
    if (!host.WriteAll("ATA\r"))
        return who + ": cannot write ATA";

    // The host sends <S> until the caller answers <A>; then <E>. The caller
    // drops everything before <S> (an ATA that came after the line had
    // connected by itself) and after it up to <E>.
    Deadline deadline(60s);
    std::optional<std::string> beforeAck;
    auto callerSide = std::async(std::launch::async, [&caller]() -> std::string {
        if (!caller.ReadUntil("<S>", 60s))
            return "no <S>: " + caller.Describe();
        if (!caller.WriteAll("<A>"))
            return "cannot write <A>";
        if (!caller.ReadUntil("<E>", 60s))
            return "no <E>: " + caller.Describe();
        return {};
    });
    for (;;) {
        if (deadline.Passed())
            return who + ": the caller never answered <S>: " + host.Describe();
        if (!host.WriteAll("<S>"))
            return who + ": cannot write <S>";
        host.Fill(50ms);
        if (host.buffered().find("<A>") != std::string::npos)
            break;
    }
    beforeAck = host.ReadUntil("<A>");
    if (!host.WriteAll("<E>"))
        return who + ": cannot write <E>";
    std::string callerError = callerSide.get();
    if (!callerError.empty())
        return who + ": caller: " + callerError;
    if (*beforeAck != "<A>" && *beforeAck != "CONNECT 38400\r\n<A>")
        return who + ": the host got [" + Printable(*beforeAck) + "] before the caller's <A>";
    *connectLine = *beforeAck != "<A>";

    std::mt19937 rng(seed);
    std::string toHost = RandomBytes(rng, 32 * 1024);
    std::string toCaller = RandomBytes(rng, 32 * 1024);
    std::string wire = DoubleIac(toCaller);
    if (!Exchange(caller, DoubleIac(toHost), wire.size(), host, toCaller, toHost.size(), 120s))
        return who + ": transfer incomplete; caller " + caller.Describe() + "; host " + host.Describe();
    std::string atHost = host.TakeAll(), atCaller = caller.TakeAll();
    if (atHost != toHost)
        return who + ": host bytes: " + FirstDifference(atHost, toHost);
    if (atCaller != wire)
        return who + ": caller bytes: " + FirstDifference(atCaller, wire);
    return {};
}

// A hundred lines, a hundred callers at once, each host answering ATA, every
// byte through both ways; the 101st caller is refused with the FULL text,
// and every call leaves its log line.
TEST_F(Load, HundredLinesHundredCallers)
{
    constexpr size_t kLines = 100;
    RelaySetup setup;
    LineSetup line;
    line.m_nRing = 1;
    line.m_nRingInterval = 100;
    setup.lines.assign(kLines, line);
    setup.full = kFull;
    ASSERT_NO_FATAL_FAILURE(StartRelay(setup));

    // Declared so that, should the test stop early, the promises go first
    // (the line threads then stop waiting), then the threads are joined, and
    // only then the callers they use are closed.
    std::vector<std::optional<TcpCaller>> callers(kLines);
    std::array<bool, kLines> connectLines{};
    std::vector<std::future<std::string>> results;
    std::vector<std::promise<TcpCaller*>> ready(kLines);
    for (size_t i = 0; i < kLines; ++i)
        results.push_back(std::async(std::launch::async, ServeLine, std::ref(relay_.host(i)),
                                     ready[i].get_future().share(), static_cast<unsigned>(i + 1),
                                     &connectLines[i]));
    // One caller after the other, each given its line before the next comes,
    // so caller i holds line i (the first free line in list order).
    for (size_t i = 0; i < kLines; ++i) {
        ASSERT_NO_FATAL_FAILURE(CallIn(callers[i])) << "caller " << i + 1;
        ready[i].set_value(&*callers[i]);
    }
    std::string why;
    std::optional<TcpCaller> extra = relay_.Call(&why);
    ASSERT_TRUE(extra) << why;
    EXPECT_TRUE(ReceivesThenEnd(*extra, kFull, "the 101st caller"));

    for (size_t i = 0; i < kLines; ++i) {
        std::string error = results[i].get();
        EXPECT_EQ(error, "") << "line " << i + 1;
    }
    std::cout << "lines answered with CONNECT (the rest had connected by themselves): "
              << std::count(connectLines.begin(), connectLines.end(), true) << " of " << kLines << "\n";

    for (auto& c : callers)
        c->Close();
    bool ok = false;
    std::string logs = relay_.WaitLogLines(",", kLines + 1, &ok, 30s);
    ASSERT_TRUE(ok) << "expected " << kLines << " call lines and a Full line: [" << logs << "]";
    std::vector<std::string> odd;
    std::map<std::string, int> perLine;
    for (const LogLine& l : ParseLog(logs, &odd))
        ++perLine[l.name];
    EXPECT_TRUE(odd.empty()) << "malformed log line [" << (odd.empty() ? "" : odd[0]) << "]";
    EXPECT_EQ(perLine["Full"], 1) << logs;
    for (size_t i = 1; i <= kLines; ++i)
        EXPECT_EQ(perLine["COM" + std::to_string(i)], 1)
            << "log lines for COM" << i << " in [" << logs << "]";
}

// Two calls, the first with a caller that does not read (a small receive
// buffer); its host floods it with `size` random bytes while the second call
// echoes, before and after the flood is taken. Returns the flood.
class SlowCaller : public Load {
protected:
    void SetUp() override
    {
        RelaySetup setup;
        setup.lines.assign(2, LineSetup());  // no RINGs, CONNECT after ATA
        ASSERT_NO_FATAL_FAILURE(StartRelay(setup));
        ASSERT_NO_FATAL_FAILURE(CallIn(slow_, 4096));
        ASSERT_TRUE(Receives(relay_.host(0), "CONNECT 38400\r\n", "host 1"));
        ASSERT_NO_FATAL_FAILURE(CallIn(other_));
        ASSERT_TRUE(Receives(relay_.host(1), "CONNECT 38400\r\n", "host 2"));
    }

    void FloodWhileEchoing(const std::string& flood)
    {
        auto writer = std::async(std::launch::async, [&] { return relay_.host(0).WriteAll(flood, 60s); });
        int round = 0;
        auto echo = [&] {
            std::string ping = "ping " + std::to_string(round++) + "\r";
            ASSERT_TRUE(other_->WriteAll(ping));
            ASSERT_TRUE(Receives(relay_.host(1), ping, "host 2")) << "round " << round;
            ASSERT_TRUE(relay_.host(1).WriteAll(ping + "\n"));
            ASSERT_TRUE(Receives(*other_, ping + "\n", "caller 2")) << "round " << round;
        };
        while (writer.wait_for(0s) != std::future_status::ready || round < 5)
            ASSERT_NO_FATAL_FAILURE(echo());
        ASSERT_TRUE(writer.get()) << "the relay stopped taking host 1's bytes while its caller did not read";
        for (int i = 0; i < 5; ++i)
            ASSERT_NO_FATAL_FAILURE(echo());
    }

    std::optional<TcpCaller> slow_, other_;
};

// Host bytes queued for a caller that does not read are not lost: 512 KiB
// (within the relay's 1 MiB per-caller queue) arrive whole and in order once
// it reads again.
TEST_F(SlowCaller, QueuedBytesAreNotLost)
{
    std::mt19937 rng(512);
    const std::string flood = RandomBytes(rng, 512 * 1024);
    ASSERT_NO_FATAL_FAILURE(FloodWhileEchoing(flood));
    const std::string wire = DoubleIac(flood);
    std::optional<std::string> got = slow_->ReadN(wire.size(), 60s);
    ASSERT_TRUE(got) << "the slow caller got " << slow_->buffered().size() << " of " << wire.size()
                     << " bytes";
    EXPECT_TRUE(*got == wire) << FirstDifference(*got, wire);
}

// A flood of 4 MiB, past the relay's queue and the kernel's socket buffers:
// the relay keeps taking the host's bytes and the other call keeps echoing.
TEST_F(SlowCaller, FloodStallsNoOtherLine)
{
    std::mt19937 rng(4096);
    ASSERT_NO_FATAL_FAILURE(FloodWhileEchoing(RandomBytes(rng, 4096 * 1024)));
}

// Hostile bytes from both sides never crash, stall or corrupt the relay:
// before the call the host sends a 100 kB line without a line end and a
// 100 kB AT line; in the call the caller sends a seeded stream of IAC storms,
// sub-negotiations, option commands, random bytes and 1 MB bursts, each write
// ending in a lone 0xFF, while the host floods 0xFF. The host receives
// exactly the undoubled caller stream, the caller exactly the doubled host
// stream; afterwards the relay still serves a new call.
TEST_F(Load, HostileStreamsFromBothSides)
{
    const unsigned seed = 20240611;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    RelaySetup setup;
    setup.full = kFull;
    setup.after = kAfter;
    ASSERT_NO_FATAL_FAILURE(StartRelay(setup));
    PtyHost& host = relay_.host(0);

    // Before any call: an overlong line that is not a command gets no reply;
    // an overlong AT line is still a command line and gets OK.
    std::string junk = "X";
    while (junk.size() < 100000)
        junk += static_cast<char>(' ' + rng() % 95);
    ASSERT_TRUE(host.WriteAll(junk + "\r", 30s));
    ASSERT_TRUE(host.WriteAll("AT" + std::string(100000, 'Z') + "\r", 30s));
    ASSERT_TRUE(Receives(host, "OK\r\n", "the host"));

    std::optional<TcpCaller> caller;
    ASSERT_NO_FATAL_FAILURE(CallInWhenFree(caller));
    ASSERT_TRUE(Receives(host, "CONNECT 38400\r\n", "the host"));

    // The skipping phase: whole groups of three starting with IAC, then one
    // plain byte, which must reach the host alone.
    static const char* kGroups[] = {"\xFF\xFD\x00", "\xFF\xFD\x01", "\xFF\xFB\x03",
                                    "\xFF\xFA\x18", "\xFF\xFE\x22", "\xFF\xFF\xFF"};
    std::string prelude;
    for (int i = 0, n = 1 + rng() % 8; i < n; ++i)
        prelude.append(kGroups[rng() % 6], 3);
    ASSERT_TRUE(caller->WriteAll(prelude + "S"));
    ASSERT_TRUE(Receives(host, "S", "the host")) << "after the prelude [" << Printable(prelude) << "]";

    std::string fromCaller;
    int bursts = 0;
    for (int i = 0; i < 300; ++i) {
        switch (rng() % 5) {
        case 0: fromCaller.append(1 + rng() % 4000, '\xFF'); break;
        case 1:
            fromCaller += "\xFF\xFA";
            fromCaller += RandomBytes(rng, 1 + rng() % 20);
            fromCaller += "\xFF\xF0";
            break;
        case 2:
            fromCaller += '\xFF';
            fromCaller += static_cast<char>(0xFB + rng() % 4);
            fromCaller += static_cast<char>(rng() & 0xFF);
            break;
        case 3: fromCaller += RandomBytes(rng, 1 + rng() % 3000); break;
        case 4:
            if (bursts < 2) {
                ++bursts;
                fromCaller += RandomBytes(rng, 1 << 20);
            }
            break;
        }
        fromCaller += '\xFF';
    }
    std::string fromHost;
    for (int i = 0; i < 4; ++i) {
        fromHost.append(64 * 1024, '\xFF');
        fromHost += RandomBytes(rng, 4096);
    }
    const std::string wantHost = UndoubledForHost(fromCaller);
    const std::string wantCaller = DoubleIac(fromHost);
    ASSERT_TRUE(Exchange(*caller, fromCaller, wantCaller.size(), host, fromHost, wantHost.size(), 180s))
        << "transfer incomplete; caller " << caller->Describe() << "; host " << host.Describe() << "; "
        << relay_.State();
    std::string atHost = host.TakeAll(), atCaller = caller->TakeAll();
    EXPECT_TRUE(atHost == wantHost) << "host: " << FirstDifference(atHost, wantHost);
    EXPECT_TRUE(atCaller == wantCaller) << "caller: " << FirstDifference(atCaller, wantCaller);

    // Still alive and serving.
    caller->Close();
    ASSERT_TRUE(Receives(host, kAfter, "the host"));
    ASSERT_NO_FATAL_FAILURE(CallInWhenFree(caller));
    ASSERT_TRUE(Receives(host, "CONNECT 38400\r\n", "the host"));
    ASSERT_TRUE(caller->WriteAll("fine"));
    ASSERT_TRUE(Receives(host, "fine", "the host"));
}

}  // namespace
}  // namespace e2e
