// End to end: the telnet byte rules on both sides of a call: the two option
// offers, the skipping of the caller's option replies, IAC IAC undoubled
// towards the host and every 0xFF doubled towards the caller.
#include "e2e/relay_test.h"

namespace e2e {
namespace {

const std::string FF = "\xFF";

class Telnet : public RelayTest {
protected:
    void SetUp() override
    {
        RelaySetup setup;
        setup.lines.assign(2, LineSetup());  // no RINGs, CONNECT after ATA
        ASSERT_NO_FATAL_FAILURE(StartRelay(setup));
    }

    // A connected call on the next free line; the host has had its CONNECT.
    void Connect(std::optional<TcpCaller>& caller, size_t line)
    {
        ASSERT_NO_FATAL_FAILURE(CallIn(caller));
        ASSERT_TRUE(Receives(relay_.host(line), "CONNECT 38400\r\n", "the host"));
    }
};

// The offers are the caller's first bytes; its replies IAC DO BINARY, IAC DO
// ECHO are skipped, and the host sees only the byte after them. In the data
// phase IAC IAC reaches the host as one 0xFF, also when the pair is split
// over two writes; IAC with another byte passes whole.
TEST_F(Telnet, CallerSideUndoubling)
{
    std::optional<TcpCaller> caller;
    ASSERT_NO_FATAL_FAILURE(Connect(caller, 0));
    PtyHost& host = relay_.host(0);

    ASSERT_TRUE(caller->WriteAll(std::string("\xFF\xFD\x00\xFF\xFD\x01", 6) + "a"));
    ASSERT_TRUE(Receives(host, "a", "the host"));

    struct Case {
        std::string send, host;
    } cases[] = {
        {"b" + FF + FF + "c", "b" + FF + "c"},
        {FF + "A", FF + "A"},
        {FF + FF + FF + FF, FF + FF},
        {FF + "\xF0", FF + "\xF0"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(caller->WriteAll(c.send));
        ASSERT_TRUE(Receives(host, c.host, "the host")) << "caller sent [" << Printable(c.send) << "]";
    }

    // A pair split over two writes: the first 0xFF passes at once, the one
    // that starts the next write is dropped.
    ASSERT_TRUE(caller->WriteAll("d" + FF));
    ASSERT_TRUE(Receives(host, "d" + FF, "the host"));
    ASSERT_TRUE(caller->WriteAll(FF + "e"));
    ASSERT_TRUE(Receives(host, "e", "the host"));
    // A lone 0xFF followed in the next write by another byte: both pass.
    ASSERT_TRUE(caller->WriteAll("f" + FF));
    ASSERT_TRUE(Receives(host, "f" + FF, "the host"));
    ASSERT_TRUE(caller->WriteAll("B"));
    ASSERT_TRUE(Receives(host, "B", "the host"));
    EXPECT_TRUE(HasNothing(*caller, "the caller"));
}

// Every 0xFF from the host reaches the caller doubled, one chunk or many.
TEST_F(Telnet, HostSideDoubling)
{
    std::optional<TcpCaller> caller;
    ASSERT_NO_FATAL_FAILURE(Connect(caller, 0));
    PtyHost& host = relay_.host(0);

    ASSERT_TRUE(host.WriteAll(FF + "A" + FF));
    ASSERT_TRUE(Receives(*caller, FF + FF + "A" + FF + FF, "the caller"));
    ASSERT_TRUE(host.WriteAll(FF));
    ASSERT_TRUE(Receives(*caller, FF + FF, "the caller"));
    ASSERT_TRUE(host.WriteAll(FF + "x"));
    ASSERT_TRUE(Receives(*caller, FF + FF + "x", "the caller"));

    std::string block(3000, '\xFF');
    ASSERT_TRUE(host.WriteAll(block));
    ASSERT_TRUE(Receives(*caller, DoubleIac(block), "the caller"));
    EXPECT_TRUE(HasNothing(host, "the host"));
}

// The skipping phase counts in groups of three from the call start: a
// sub-negotiation at a group boundary loses its first three bytes; and the
// data that follows the replies in the same read is undoubled. Two callers
// at once, one per line.
TEST_F(Telnet, SkippingPhaseGroups)
{
    std::optional<TcpCaller> first, second;
    ASSERT_NO_FATAL_FAILURE(Connect(first, 0));
    ASSERT_NO_FATAL_FAILURE(Connect(second, 1));

    ASSERT_TRUE(first->WriteAll(std::string("\xFF\xFA\x18\x01\xFF\xF0", 6)));
    ASSERT_TRUE(Receives(relay_.host(0), std::string("\x01\xFF\xF0", 3), "host 1"));

    ASSERT_TRUE(second->WriteAll(std::string("\xFF\xFD\x01", 3) + "x" + FF + FF + "y"));
    ASSERT_TRUE(Receives(relay_.host(1), "x" + FF + "y", "host 2"));
}

}  // namespace
}  // namespace e2e
