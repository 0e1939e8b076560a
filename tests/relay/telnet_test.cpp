// Tests of the caller side's telnet byte rules: the skipping of option
// replies, IAC undoubling towards the host and doubling towards the caller.
#include "relay/telnet.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

// The caller's reads from the start of a call. Returns what the host receives.
struct CallerSide {
    bool negotiating = true;
    int count = 0;
    int iacPending = 0;

    Bytes Read(const Bytes& in)
    {
        Bytes out(in.size());
        out.resize(static_cast<size_t>(CallerBytesToHost(in.data(), static_cast<int>(in.size()), negotiating,
                                                         count, iacPending, out.data())));
        return out;
    }
};

struct Case {
    const char* name;
    std::vector<Bytes> reads;
    std::vector<Bytes> toHost;  // per read
};

// The skipping phase and the data phase together, read by read.
TEST(TelnetTest, CallerBytesToHost)
{
    const std::vector<Case> cases = {
        {"DO replies then a letter", {{0xFF, 0xFD, 0x00, 0xFF, 0xFD, 0x01, 'a'}}, {{'a'}}},
        {"no options at all", {{'h', 'i'}, {'!'}}, {{'h', 'i'}, {'!'}}},
        {"sub-negotiation at a group boundary", {{0xFF, 0xFA, 0x18, 0x01, 0xFF, 0xF0}}, {{0x01, 0xFF, 0xF0}}},
        {"phase ends in a read with FF FF",
         {{0xFF, 0xFB, 0x01, 'x', 0xFF, 0xFF}, {0xFF, 0xFF}},
         {{'x', 0xFF}, {0xFF}}},
        {"groups split between reads",
         {{0xFF, 0xFD}, {0x00, 0xFF}, {0xFD, 0x01}, {'a', 'b'}},
         {{}, {}, {}, {'a', 'b'}}},
        {"a non-IAC byte inside a group is skipped", {{0xFF, 'q', 'r', 's'}}, {{'s'}}},
        {"FF FF in the data phase", {{'a'}, {0xFF, 0xFF}}, {{'a'}, {0xFF}}},
        {"IAC IAC split between reads", {{'a'}, {'x', 0xFF}, {0xFF, 'b'}}, {{'a'}, {'x', 0xFF}, {'b'}}},
        {"FF 41 passes both bytes", {{'a'}, {0xFF, 0x41}}, {{'a'}, {0xFF, 0x41}}},
        {"FF FF FF FF gives FF FF", {{'a'}, {0xFF, 0xFF, 0xFF, 0xFF}}, {{'a'}, {0xFF, 0xFF}}},
        {"trailing IAC then another command", {{'a'}, {'x', 0xFF}, {0xF4}}, {{'a'}, {'x', 0xFF}, {0xF4}}},
        {"the read that ends the phase carries an IAC over",
         {{'a', 0xFF}, {0xFF, 'b'}},
         {{'a', 0xFF}, {'b'}}},
    };
    for (const Case& c : cases) {
        CallerSide side;
        ASSERT_EQ(c.reads.size(), c.toHost.size()) << c.name;
        for (size_t i = 0; i < c.reads.size(); ++i)
            EXPECT_EQ(side.Read(c.reads[i]), c.toHost[i]) << c.name << ", read " << i;
    }
}

// The skipping phase's own results: the index, the count and the flag.
TEST(TelnetTest, SkipOptionRepliesResults)
{
    bool negotiating = true;
    int count = 0;
    const Bytes all = {0xFF, 0xFB, 0x00, 0xFF};
    EXPECT_EQ(SkipOptionReplies(all.data(), 4, negotiating, count), 4);
    EXPECT_TRUE(negotiating);
    EXPECT_EQ(count, 4);
    // A failed read changes nothing.
    EXPECT_EQ(SkipOptionReplies(all.data(), -1, negotiating, count), -1);
    EXPECT_EQ(SkipOptionReplies(all.data(), 0, negotiating, count), 0);
    EXPECT_TRUE(negotiating);
    EXPECT_EQ(count, 4);
    const Bytes rest = {0x00, 0x01, 'z', 'y'};
    EXPECT_EQ(SkipOptionReplies(rest.data(), 4, negotiating, count), 2);
    EXPECT_FALSE(negotiating);
    EXPECT_EQ(count, 6);
    // Once over, every byte is for the host.
    EXPECT_EQ(SkipOptionReplies(rest.data(), 4, negotiating, count), 0);
}

// A caller that keeps sending option groups cannot run the count past its
// range: the group rhythm holds at the top of it.
TEST(TelnetTest, SkipCountKeepsRhythmAtTopOfRange)
{
    bool negotiating = true;
    int count = INT_MAX - 1;  // a multiple of 3
    const Bytes in = {0xFF, 0xFD, 0x01, 0xFF, 0xFD, 0x00, 'x'};
    EXPECT_EQ(SkipOptionReplies(in.data(), 7, negotiating, count), 6);
    EXPECT_FALSE(negotiating);
    EXPECT_GE(count, 0);
    EXPECT_EQ(count % 3, 0);
}

// Every 0xFF doubled towards the caller, at most twice the input.
TEST(TelnetTest, DoubleIac)
{
    const Bytes in = {0xFF, 0x41, 0xFF};
    Bytes out(6);
    out.resize(static_cast<size_t>(DoubleIac(in.data(), 3, out.data())));
    EXPECT_EQ(out, (Bytes{0xFF, 0xFF, 0x41, 0xFF, 0xFF}));

    const Bytes full(2048, 0xFF);
    Bytes big(4096 + 1, 0x00);
    EXPECT_EQ(DoubleIac(full.data(), 2048, big.data()), 4096);
    EXPECT_EQ(Bytes(big.begin(), big.begin() + 4096), Bytes(4096, 0xFF));
    EXPECT_EQ(big[4096], 0x00) << "wrote past twice the input";
    EXPECT_EQ(DoubleIac(full.data(), 0, big.data()), 0);
}

// Random streams, rich in 0xFF, doubled and then undoubled in random read
// splits come back unchanged.
TEST(TelnetTest, DoubleThenUndoubleRoundTrip)
{
    std::mt19937 rng(20240611);
    for (int round = 0; round < 500; ++round) {
        const int len = std::uniform_int_distribution<int>(0, 3000)(rng);
        const int ffPercent = std::uniform_int_distribution<int>(0, 100)(rng);
        Bytes original(static_cast<size_t>(len));
        for (BYTE& b : original)
            b = std::uniform_int_distribution<int>(0, 99)(rng) < ffPercent
                    ? 0xFF
                    : static_cast<BYTE>(std::uniform_int_distribution<int>(0, 255)(rng));
        Bytes wire(2 * original.size());
        wire.resize(static_cast<size_t>(DoubleIac(original.data(), len, wire.data())));

        Bytes back;
        int pending = 0;
        size_t at = 0;
        while (at < wire.size()) {
            const size_t take =
                std::min<size_t>(wire.size() - at, std::uniform_int_distribution<size_t>(1, 2048)(rng));
            Bytes out(take);
            out.resize(static_cast<size_t>(
                UndoubleIac(wire.data() + at, static_cast<int>(take), out.data(), pending)));
            back.insert(back.end(), out.begin(), out.end());
            at += take;
        }
        ASSERT_EQ(back, original) << "round " << round;
        EXPECT_EQ(pending, 0) << "round " << round;
    }
}

}  // namespace
