// End to end: whole calls in each CONNECT mode, as the host and the caller
// see them: the RINGs at their interval, the host's ATA, the CONNECT line
// with the port's speed, and bytes both ways once the line is connected.
#include "e2e/relay_test.h"

namespace e2e {
namespace {

using Ms = std::chrono::duration<double, std::milli>;

// Bytes go both ways on a connected call: the host's reach the caller and the
// caller's reach the host, each exactly.
void ExpectBothWays(PtyHost& host, TcpCaller& caller)
{
    ASSERT_TRUE(host.WriteAll("Welcome to the board\r\n"));
    ASSERT_TRUE(Receives(caller, "Welcome to the board\r\n", "the caller"));
    ASSERT_TRUE(caller.WriteAll("guest\r"));
    ASSERT_TRUE(Receives(host, "guest\r", "the host"));
}

// On a line connected without a CONNECT line the host cannot tell when its
// bytes start to reach the caller: it sends dots until the caller sees one,
// then a '!', and the caller drains the dots up to it.
void WaitHostReachesCaller(PtyHost& host, TcpCaller& caller)
{
    Deadline deadline(kDeadline);
    while (caller.buffered().find('.') == std::string::npos) {
        ASSERT_FALSE(deadline.Passed()) << "the host's bytes never reached the caller: " << caller.Describe();
        ASSERT_TRUE(host.WriteAll("."));
        caller.Fill(50ms);
    }
    ASSERT_TRUE(host.WriteAll("!"));
    std::optional<std::string> dots = caller.ReadUntil("!");
    ASSERT_TRUE(dots) << caller.Describe();
    EXPECT_EQ(dots->find_first_not_of('.'), dots->size() - 1)
        << "the caller got [" << Printable(*dots) << "]";
}

class CallModes : public RelayTest {};

// RING 0: the line connects at the accept. Modes 1 and 2 send the CONNECT
// line with the port's speed at once (mode 1's CONNECT wait plays no part),
// mode 0 sends none; in all three bytes pass both ways straight away.
TEST_F(CallModes, RingZeroConnectsAtOnce)
{
    RelaySetup setup;
    setup.lines.assign(3, LineSetup());  // no RINGs
    setup.lines[0].m_nSpeed = 19200;
    setup.lines[0].m_nConnectInterval = 8000;
    setup.lines[1].m_nSpeed = 57600;
    setup.lines[1].m_nConnect = CONNECT_AFTER_RING;
    setup.lines[2].m_nSpeed = 9600;
    setup.lines[2].m_nConnect = CONNECT_NONE;
    ASSERT_NO_FATAL_FAILURE(StartRelay(setup));

    std::optional<TcpCaller> first, second, third;
    ASSERT_NO_FATAL_FAILURE(CallIn(first));
    // Well before the 8 s CONNECT wait would be over.
    ASSERT_TRUE(Receives(relay_.host(0), "CONNECT 19200\r\n", "host 1", 5s));
    ASSERT_NO_FATAL_FAILURE(ExpectBothWays(relay_.host(0), *first));

    ASSERT_NO_FATAL_FAILURE(CallIn(second));
    ASSERT_TRUE(Receives(relay_.host(1), "CONNECT 57600\r\n", "host 2"));
    ASSERT_NO_FATAL_FAILURE(ExpectBothWays(relay_.host(1), *second));

    ASSERT_NO_FATAL_FAILURE(CallIn(third));
    // Mode 0: the caller's first bytes are the first thing the host sees.
    ASSERT_NO_FATAL_FAILURE(ExpectBothWays(relay_.host(2), *third));
    EXPECT_TRUE(HasNothing(relay_.host(0), "host 1"));
}

// Mode 1 without a CONNECT wait: the host hears RING, the caller's early
// bytes reach it while the line still rings, and its ATA is answered at once
// with CONNECT and the port's speed.
TEST_F(CallModes, ModeOneAnswersAtaAtOnce)
{
    RelaySetup setup;
    LineSetup& line = setup.lines[0];
    line.m_nSpeed = 9600;
    line.m_nRing = 3;
    line.m_nRingInterval = 1000;
    ASSERT_NO_FATAL_FAILURE(StartRelay(setup));

    std::optional<TcpCaller> caller;
    ASSERT_NO_FATAL_FAILURE(CallIn(caller));
    PtyHost& host = relay_.host(0);
    ASSERT_TRUE(Receives(host, "RING\r\n", "the host"));
    ASSERT_TRUE(caller->WriteAll("early"));
    std::optional<std::string> early = host.ReadUntil("early");
    ASSERT_TRUE(early) << "the caller's bytes did not reach the ringing line: " << host.Describe();
    for (std::string_view rest(*early); rest != "early"; rest.remove_prefix(6))
        ASSERT_EQ(rest.substr(0, 6), "RING\r\n") << "the host got [" << Printable(*early) << "]";

    ASSERT_TRUE(host.WriteAll("ATA\r"));
    ASSERT_TRUE(Receives(host, "CONNECT 9600\r\n", "the host"));
    ASSERT_NO_FATAL_FAILURE(ExpectBothWays(host, *caller));
}

// Mode 1 with a CONNECT wait: CONNECT follows the wait after ATA, not before.
TEST_F(CallModes, ModeOneWaitsBeforeConnect)
{
    RelaySetup setup;
    LineSetup& line = setup.lines[0];
    line.m_nRing = 3;
    line.m_nRingInterval = 1500;
    line.m_nConnectInterval = 600;
    ASSERT_NO_FATAL_FAILURE(StartRelay(setup));

    std::optional<TcpCaller> caller;
    ASSERT_NO_FATAL_FAILURE(CallIn(caller));
    PtyHost& host = relay_.host(0);
    ASSERT_TRUE(Receives(host, "RING\r\n", "the host"));
    auto ata = Clock::now();
    ASSERT_TRUE(host.WriteAll("ATA\r"));
    ASSERT_TRUE(Receives(host, "CONNECT 38400\r\n", "the host"));
    double waited = Ms(Clock::now() - ata).count();
    EXPECT_GE(waited, 600 * 0.8) << "CONNECT came " << waited << " ms after ATA; the wait is 600 ms";
    ASSERT_NO_FATAL_FAILURE(ExpectBothWays(host, *caller));
}

// Mode 2 with a host that never answers: RING, RING one interval later, and
// one interval after the last RING the CONNECT line, with the port's speed.
TEST_F(CallModes, ModeTwoConnectsAfterLastRing)
{
    RelaySetup setup;
    LineSetup& line = setup.lines[0];
    line.m_nSpeed = 115200;
    line.m_nRing = 2;
    line.m_nRingInterval = 250;
    line.m_nConnect = CONNECT_AFTER_RING;
    ASSERT_NO_FATAL_FAILURE(StartRelay(setup));

    std::optional<TcpCaller> caller;
    ASSERT_NO_FATAL_FAILURE(CallIn(caller));
    PtyHost& host = relay_.host(0);
    ASSERT_TRUE(Receives(host, "RING\r\n", "the host"));
    auto ring1 = Clock::now();
    ASSERT_TRUE(Receives(host, "RING\r\n", "the host"));
    auto ring2 = Clock::now();
    ASSERT_TRUE(Receives(host, "CONNECT 115200\r\n", "the host"));
    auto connect = Clock::now();
    // Lower bounds only, with room for a late first read.
    EXPECT_GE(Ms(ring2 - ring1).count(), 250 * 0.6);
    EXPECT_GE(Ms(connect - ring2).count(), 250 * 0.6);
    ASSERT_NO_FATAL_FAILURE(ExpectBothWays(host, *caller));
}

// Mode 0 with a host that never answers: two RINGs, then the line connects
// by itself without any CONNECT line, and bytes pass both ways.
TEST_F(CallModes, ModeZeroConnectsSilentlyAfterLastRing)
{
    RelaySetup setup;
    LineSetup& line = setup.lines[0];
    line.m_nRing = 2;
    line.m_nRingInterval = 250;
    line.m_nConnect = CONNECT_NONE;
    ASSERT_NO_FATAL_FAILURE(StartRelay(setup));

    std::optional<TcpCaller> caller;
    ASSERT_NO_FATAL_FAILURE(CallIn(caller));
    PtyHost& host = relay_.host(0);
    ASSERT_TRUE(Receives(host, "RING\r\nRING\r\n", "the host"));
    ASSERT_NO_FATAL_FAILURE(WaitHostReachesCaller(host, *caller));
    // Nothing but the caller's bytes follows the RINGs: no CONNECT line.
    ASSERT_TRUE(caller->WriteAll("c"));
    ASSERT_TRUE(Receives(host, "c", "the host"));
    ASSERT_NO_FATAL_FAILURE(ExpectBothWays(host, *caller));
}

// Mode 0 answered by ATA (in small letters): the line connects at the ATA,
// still without a CONNECT line.
TEST_F(CallModes, ModeZeroAnsweredByAta)
{
    RelaySetup setup;
    LineSetup& line = setup.lines[0];
    line.m_nRing = 3;
    line.m_nRingInterval = 1500;
    line.m_nConnect = CONNECT_NONE;
    ASSERT_NO_FATAL_FAILURE(StartRelay(setup));

    std::optional<TcpCaller> caller;
    ASSERT_NO_FATAL_FAILURE(CallIn(caller));
    PtyHost& host = relay_.host(0);
    ASSERT_TRUE(Receives(host, "RING\r\n", "the host"));
    ASSERT_TRUE(host.WriteAll("ata\r"));
    ASSERT_NO_FATAL_FAILURE(WaitHostReachesCaller(host, *caller));
    ASSERT_TRUE(caller->WriteAll("c"));
    ASSERT_TRUE(Receives(host, "c", "the host"));
}

}  // namespace
}  // namespace e2e
