// Assertions over byte streams and the fixture of the end-to-end tests: every
// test starts the built relay with its own configuration in its own folder,
// and ends it with SIGTERM, expecting exit status 0.
#pragma once

#include <gtest/gtest.h>

#include <iostream>
#include <optional>
#include <sstream>
#include <vector>
#include <string>
#include <string_view>

#include "e2e/harness.h"

namespace e2e {

// The next bytes of `s` are exactly `want`.
inline ::testing::AssertionResult Receives(Stream& s, std::string_view want, const char* who,
                                           Clock::duration wait = kDeadline)
{
    std::optional<std::string> got = s.ReadN(want.size(), wait);
    if (!got)
        return ::testing::AssertionFailure() << who << " expected [" << Printable(want)
                                             << "] but did not get that many bytes in time: " << s.Describe();
    if (*got != want)
        return ::testing::AssertionFailure()
               << who << " expected [" << Printable(want) << "] but received [" << Printable(*got) << "]";
    return ::testing::AssertionSuccess();
}

// The stream ends, after exactly `before` more bytes.
inline ::testing::AssertionResult ReceivesThenEnd(Stream& s, std::string_view before, const char* who,
                                                  Clock::duration wait = kDeadline)
{
    std::optional<std::string> got = s.ReadToEnd(wait);
    if (!got)
        return ::testing::AssertionFailure()
               << who << " expected [" << Printable(before)
               << "] and the end of the stream, but the stream did not end in time: " << s.Describe();
    if (*got != before)
        return ::testing::AssertionFailure()
               << who << " expected [" << Printable(before) << "] before the end of the stream but received ["
               << Printable(*got) << "]";
    return ::testing::AssertionSuccess();
}

// Nothing is buffered or readable right now.
inline ::testing::AssertionResult HasNothing(Stream& s, const char* who)
{
    std::string got = s.TakeAvailable(0s);
    if (!got.empty())
        return ::testing::AssertionFailure()
               << who << " should have received nothing but has [" << Printable(got) << "]";
    return ::testing::AssertionSuccess();
}

// "HH:MM:SS" as seconds of the day, or -1 when it is not exactly that form.
inline int SecondsOfDay(std::string_view hms)
{
    if (hms.size() != 8 || hms[2] != ':' || hms[5] != ':')
        return -1;
    for (size_t i : {0u, 1u, 3u, 4u, 6u, 7u})
        if (hms[i] < '0' || hms[i] > '9')
            return -1;
    auto two = [hms](size_t at) { return (hms[at] - '0') * 10 + (hms[at + 1] - '0'); };
    if (two(0) > 23 || two(3) > 59 || two(6) > 59)
        return -1;
    return two(0) * 3600 + two(3) * 60 + two(6);
}

// One line of the daily log: its first field ("COM3", "Full") and its times
// as seconds of the day.
struct LogLine {
    std::string name;
    std::vector<int> times;
};

// The lines of the daily logs that have the form of a call line
// (NAME,HH:MM:SS,HH:MM:SS) or a refusal line (Full,HH:MM:SS); any other line
// goes to *odd.
inline std::vector<LogLine> ParseLog(const std::string& logs, std::vector<std::string>* odd)
{
    std::vector<LogLine> out;
    std::istringstream in(logs);
    for (std::string line; std::getline(in, line);) {
        LogLine l;
        std::istringstream fields(line);
        std::string field;
        bool ok = static_cast<bool>(std::getline(fields, l.name, ','));
        while (ok && std::getline(fields, field, ',')) {
            l.times.push_back(SecondsOfDay(field));
            ok = l.times.back() >= 0;
        }
        ok = ok && !l.name.empty() && l.times.size() == (l.name == "Full" ? 1u : 2u);
        if (ok)
            out.push_back(l);
        else
            odd->push_back(line);
    }
    return out;
}

// t lies in [from, to] on the clock of one day (the span may cross midnight).
inline bool TimeWithin(int t, int from, int to)
{
    return from <= to ? (t >= from && t <= to) : (t >= from || t <= to);
}

class RelayTest : public ::testing::Test {
protected:
    // Starts the relay and waits until it has opened every line it has a pty
    // for. Use with ASSERT_NO_FATAL_FAILURE.
    void StartRelay(const RelaySetup& setup)
    {
        std::string why = relay_.Start(setup);
        ASSERT_EQ(why, "") << "the relay could not be started";
        started_ = true;
        ASSERT_TRUE(relay_.WaitLinesOpen(&why)) << why;
    }

    // A caller that got a line: connected, and offered the two telnet options
    // as its first bytes. Use with ASSERT_NO_FATAL_FAILURE.
    void CallIn(std::optional<TcpCaller>& caller, int rcvbuf = 0)
    {
        std::string why;
        caller = relay_.Call(&why, rcvbuf);
        ASSERT_TRUE(caller) << "no connection to the relay: " << why;
        ASSERT_TRUE(Receives(*caller, kOffers, "the caller")) << relay_.State();
    }

    // Ends the relay with SIGTERM and expects exit status 0.
    void StopRelay()
    {
        if (!started_)
            return;
        started_ = false;
        std::optional<int> status = relay_.Stop();
        ASSERT_TRUE(status) << "the relay did not end within " << kDeadline / 1s << " s of SIGTERM";
        EXPECT_EQ(StatusText(*status), "exit status 0") << "how the relay ended after SIGTERM";
    }

    void TearDown() override
    {
        StopRelay();
        if (HasFailure() && !relay_.folder().empty()) {
            relay_.KeepFolder();
            std::cerr << "relay folder kept: " << relay_.folder().string() << "\n--- relay output ---\n"
                      << relay_.Output() << "--- end of relay output ---\n";
        }
    }

    RelayRun relay_;
    bool started_ = false;
};

}  // namespace e2e
