// End to end: how calls end and what they leave behind: refused callers and
// the FULL text, the AFTER text and the host's hang-up strings, the idle and
// call-time limits, the hold after a call, the daily log, and SIGTERM.
#include "e2e/relay_test.h"

namespace e2e {
namespace {

using Ms = std::chrono::duration<double, std::milli>;

const std::string kFull = "All lines are busy, call again later.\r\n";
const std::string kAfter = "\r\n+++CALLER GONE\r\n";

// The log lines named `name`, all lines checked for their form.
std::vector<LogLine> LinesNamed(const std::string& logs, const std::string& name)
{
    std::vector<std::string> odd;
    std::vector<LogLine> all = ParseLog(logs, &odd);
    EXPECT_TRUE(odd.empty()) << "malformed log line [" << (odd.empty() ? "" : odd[0]) << "]";
    std::vector<LogLine> out;
    for (const LogLine& l : all)
        if (l.name == name)
            out.push_back(l);
    return out;
}

class CallEnd : public RelayTest {
protected:
    // One line that connects at once, with the texts of this file.
    static RelaySetup OneLine()
    {
        RelaySetup setup;
        setup.lines = {LineSetup()};  // no RINGs, CONNECT after ATA
        setup.full = kFull;
        setup.after = kAfter;
        return setup;
    }

    void Connect(std::optional<TcpCaller>& caller)
    {
        ASSERT_NO_FATAL_FAILURE(CallIn(caller));
        ASSERT_TRUE(Receives(relay_.host(0), "CONNECT 38400\r\n", "the host"));
    }
};

// With the one line in a call, the next caller gets exactly the FULL text and
// the end of the stream, nothing of what it sends reaches the host, and the
// daily log gets a Full line with the time of day.
TEST_F(CallEnd, RefusedCallerGetsFullText)
{
    ASSERT_NO_FATAL_FAILURE(StartRelay(OneLine()));
    int from = SecondsOfDayNow();
    std::optional<TcpCaller> first;
    ASSERT_NO_FATAL_FAILURE(Connect(first));

    std::string why;
    std::optional<TcpCaller> refused = relay_.Call(&why);
    ASSERT_TRUE(refused) << why;
    ASSERT_TRUE(refused->WriteAll("let me in\r"));
    ASSERT_TRUE(ReceivesThenEnd(*refused, kFull, "the refused caller"));
    refused->Close();

    bool ok = false;
    std::string logs = relay_.WaitLogLines("Full,", 1, &ok);
    ASSERT_TRUE(ok) << "no Full line in the daily log: [" << logs << "]";
    std::vector<LogLine> full = LinesNamed(logs, "Full");
    ASSERT_EQ(full.size(), 1u) << logs;
    EXPECT_TRUE(TimeWithin(full[0].times[0], from, SecondsOfDayNow())) << logs;

    // The call in progress is untouched, and the refused caller's bytes never
    // reached its host.
    ASSERT_TRUE(first->WriteAll("still here"));
    ASSERT_TRUE(Receives(relay_.host(0), "still here", "the host"));
    ASSERT_TRUE(relay_.host(0).WriteAll("ok"));
    ASSERT_TRUE(Receives(*first, "ok", "the first caller"));
}

// An empty FULL text: the refused caller sees the end of the stream at once.
TEST_F(CallEnd, EmptyFullTextEndsStreamAtOnce)
{
    RelaySetup setup = OneLine();
    setup.full = "";
    ASSERT_NO_FATAL_FAILURE(StartRelay(setup));
    std::optional<TcpCaller> first;
    ASSERT_NO_FATAL_FAILURE(Connect(first));
    std::string why;
    std::optional<TcpCaller> refused = relay_.Call(&why);
    ASSERT_TRUE(refused) << why;
    ASSERT_TRUE(ReceivesThenEnd(*refused, "", "the refused caller"));
}

// A caller's close, orderly or reset, sends the AFTER text to the host and
// writes the call's log line "COM1,<connected>,<closed>"; the line is free
// again for the next caller at once when there is no hold time.
TEST_F(CallEnd, AfterTextAndLogLineAtCallerClose)
{
    ASSERT_NO_FATAL_FAILURE(StartRelay(OneLine()));
    int from = SecondsOfDayNow();

    std::optional<TcpCaller> caller;
    ASSERT_NO_FATAL_FAILURE(Connect(caller));
    ASSERT_TRUE(caller->WriteAll("hello"));
    ASSERT_TRUE(Receives(relay_.host(0), "hello", "the host"));
    caller->Close();
    ASSERT_TRUE(Receives(relay_.host(0), kAfter, "the host"));

    ASSERT_NO_FATAL_FAILURE(Connect(caller));
    caller->Reset();
    ASSERT_TRUE(Receives(relay_.host(0), kAfter, "the host"));

    bool ok = false;
    std::string logs = relay_.WaitLogLines("COM1,", 2, &ok);
    ASSERT_TRUE(ok) << "expected two call lines in the daily log: [" << logs << "]";
    std::vector<LogLine> calls = LinesNamed(logs, "COM1");
    ASSERT_EQ(calls.size(), 2u) << logs;
    int to = SecondsOfDayNow();
    for (const LogLine& call : calls) {
        EXPECT_TRUE(TimeWithin(call.times[0], from, to)) << logs;
        EXPECT_TRUE(TimeWithin(call.times[1], call.times[0], to)) << logs;
    }
    EXPECT_EQ(logs.find("Full"), std::string::npos) << logs;
}

// The host's hang-up strings end the call: the caller gets the bytes up to
// and including the string (split over two writes for the first string), then
// the end of the stream; the caller's close then sends no AFTER text.
TEST_F(CallEnd, HangupStringsEndCallWithoutAfterText)
{
    RelaySetup setup = OneLine();
    setup.check1 = "\r\nNO CARRIER\r\n";
    setup.check2 = "ATH0\r";
    ASSERT_NO_FATAL_FAILURE(StartRelay(setup));
    PtyHost& host = relay_.host(0);

    std::optional<TcpCaller> caller;
    ASSERT_NO_FATAL_FAILURE(Connect(caller));
    ASSERT_TRUE(host.WriteAll("Bye now\r\nNO CAR"));
    ASSERT_TRUE(Receives(*caller, "Bye now\r\nNO CAR", "the caller"));
    ASSERT_TRUE(host.WriteAll("RIER\r\n"));
    ASSERT_TRUE(ReceivesThenEnd(*caller, "RIER\r\n", "the caller"));
    caller->Close();
    bool ok = false;
    std::string logs = relay_.WaitLogLines("COM1,", 1, &ok);
    ASSERT_TRUE(ok) << "no call line in the daily log: [" << logs << "]";
    // The log line is written after the AFTER text would have been.
    EXPECT_TRUE(HasNothing(host, "the host"));

    ASSERT_NO_FATAL_FAILURE(Connect(caller));
    ASSERT_TRUE(host.WriteAll("xATH0\r"));
    ASSERT_TRUE(ReceivesThenEnd(*caller, "xATH0\r", "the caller"));
    caller->Close();
    logs = relay_.WaitLogLines("COM1,", 2, &ok);
    ASSERT_TRUE(ok) << "no second call line in the daily log: [" << logs << "]";
    EXPECT_TRUE(HasNothing(host, "the host"));
}

// TIME/NO_COMM 1: a call without traffic is cut within about a second of the
// last byte; the caller's close afterwards still sends the AFTER text.
TEST_F(CallEnd, IdleLimitEndsCall)
{
    RelaySetup setup = OneLine();
    setup.noComm = 1;
    ASSERT_NO_FATAL_FAILURE(StartRelay(setup));

    std::optional<TcpCaller> caller;
    ASSERT_NO_FATAL_FAILURE(Connect(caller));
    ASSERT_TRUE(relay_.host(0).WriteAll("hi"));
    auto last = Clock::now();
    ASSERT_TRUE(ReceivesThenEnd(*caller, "hi", "the idle caller"));
    EXPECT_GE(Ms(Clock::now() - last).count(), 400) << "cut well before the idle limit";
    caller->Close();
    ASSERT_TRUE(Receives(relay_.host(0), kAfter, "the host"));
}

// TIME/LIMIT 2: a call is cut about two seconds after it connected, however
// busy it is.
TEST_F(CallEnd, CallTimeLimitEndsBusyCall)
{
    RelaySetup setup = OneLine();
    setup.limit = 2;
    ASSERT_NO_FATAL_FAILURE(StartRelay(setup));
    PtyHost& host = relay_.host(0);

    std::optional<TcpCaller> caller;
    ASSERT_NO_FATAL_FAILURE(Connect(caller));
    auto connected = Clock::now();
    Deadline deadline(kDeadline);
    // Keep the call busy both ways until the relay cuts it.
    while (!caller->ended()) {
        ASSERT_FALSE(deadline.Passed()) << "the call was not cut by the 2 s limit";
        ASSERT_TRUE(caller->WriteAll("p"));
        ASSERT_TRUE(Receives(host, "p", "the host"));
        ASSERT_TRUE(host.WriteAll("q"));
        caller->Fill(100ms);
        caller->TakeAll();
    }
    EXPECT_GE(Ms(Clock::now() - connected).count(), 1400) << "cut well before the call-time limit";
}

// TIME/KEEP 2: a caller during the hold after a call is refused with the FULL
// text; once the hold is over, callers are served again.
TEST_F(CallEnd, HoldTimeRefusesThenServes)
{
    RelaySetup setup = OneLine();
    setup.keep = 2;
    ASSERT_NO_FATAL_FAILURE(StartRelay(setup));

    std::optional<TcpCaller> caller;
    ASSERT_NO_FATAL_FAILURE(Connect(caller));
    caller->Close();
    ASSERT_TRUE(Receives(relay_.host(0), kAfter, "the host"));
    auto closed = Clock::now();

    std::string why;
    std::optional<TcpCaller> during = relay_.Call(&why);
    ASSERT_TRUE(during) << why;
    ASSERT_TRUE(ReceivesThenEnd(*during, kFull, "a caller during the hold"));

    // Call again and again until a caller is served rather than refused.
    Deadline deadline(kDeadline);
    for (;;) {
        ASSERT_FALSE(deadline.Passed()) << "no caller was served after the hold";
        std::optional<TcpCaller> next = relay_.Call(&why);
        ASSERT_TRUE(next) << why;
        std::optional<std::string> first = next->ReadN(1);
        ASSERT_TRUE(first) << next->Describe();
        if (*first == "\xFF") {
            EXPECT_GE(Ms(Clock::now() - closed).count(), 2000 * 0.75) << "served before the hold was over";
            ASSERT_TRUE(Receives(*next, kOffers.substr(1), "the served caller"));
            ASSERT_TRUE(Receives(relay_.host(0), "CONNECT 38400\r\n", "the host"));
            break;
        }
        ASSERT_TRUE(ReceivesThenEnd(*next, kFull.substr(1), "a refused caller"))
            << "first byte " << Printable(*first);
        std::this_thread::sleep_for(100ms);
    }
}

// SIGTERM in the middle of a call ends the relay with exit status 0, and the
// caller sees its connection end.
TEST_F(CallEnd, SigtermDuringCallExitsCleanly)
{
    ASSERT_NO_FATAL_FAILURE(StartRelay(OneLine()));
    std::optional<TcpCaller> caller;
    ASSERT_NO_FATAL_FAILURE(Connect(caller));
    ASSERT_NO_FATAL_FAILURE(StopRelay());
    ASSERT_TRUE(caller->ReadToEnd()) << "the caller's connection outlived the relay: " << caller->Describe();
}

}  // namespace
}  // namespace e2e
