// Tests of the host's command-line parser and the hang-up string matcher.
#include "relay/modem.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// The pending command line with a guard after its buffer.
struct CommandLine {
    char cmd[CMD_BUFFER_SIZE];
    char guard[16];
    int len = 0;

    CommandLine() { std::memset(guard, 0x5A, sizeof guard); }

    // Feeds the bytes; returns the results of the line ends among them.
    std::vector<HostLine> Feed(const std::string& bytes)
    {
        std::vector<HostLine> ends;
        for (char c : bytes) {
            const HostLine r = FeedHostByte(cmd, len, static_cast<BYTE>(c));
            if (c == '\r' || c == '\n')
                ends.push_back(r);
            else
                EXPECT_EQ(r, HostLine::None) << "a byte inside a line gave a result";
        }
        return ends;
    }
    bool GuardIntact() const
    {
        for (char g : guard)
            if (g != 0x5A)
                return false;
        return true;
    }
};

using L = HostLine;

// Host lines and what each line end asks for.
TEST(ModemTest, HostCommandLines)
{
    struct Case {
        std::string bytes;
        std::vector<HostLine> ends;
        int pending;  // characters left on the line afterwards
    };
    const std::vector<Case> cases = {
        {"ata\r", {L::Answer}, 0},
        {"ATA0\r\n", {L::Answer, L::None}, 0},
        {"AtA\r", {L::Answer}, 0},
        {"aTa\n", {L::Answer}, 0},
        {"AT A\r", {L::OtherAt}, 0},
        {"ATH\r", {L::OtherAt}, 0},
        {"AT\r\n", {L::OtherAt, L::None}, 0},
        {"atz\r", {L::OtherAt}, 0},
        {"A\r", {L::None}, 0},
        {"\r", {L::None}, 0},
        {"TA\r", {L::None}, 0},
        {" ATA\r", {L::None}, 0},
        {"+++", {}, 3},
        {"ATA\rhello", {L::Answer}, 5},
        {"ATZ\rATA\r", {L::OtherAt, L::Answer}, 0},
    };
    for (const Case& c : cases) {
        CommandLine line;
        EXPECT_EQ(line.Feed(c.bytes), c.ends) << c.bytes;
        EXPECT_EQ(line.len, c.pending) << c.bytes;
    }
}

// A line's characters wait for its end across messages, and the ended line
// is left zero-terminated in the buffer.
TEST(ModemTest, PendingLineCompletesLater)
{
    CommandLine line;
    EXPECT_TRUE(line.Feed("AT").empty());
    EXPECT_TRUE(line.Feed("Z").empty());
    EXPECT_EQ(line.len, 3);
    EXPECT_EQ(line.Feed("\r"), std::vector<HostLine>{L::OtherAt});
    EXPECT_STREQ(line.cmd, "ATZ");
    EXPECT_EQ(line.len, 0);
}

// A line far longer than the buffer never runs past it and is still decided
// by its first characters; the next line starts clean.
TEST(ModemTest, OverlongLineStaysInBuffer)
{
    for (const std::string start : {"ATA", "ATH", "xyz"}) {
        CommandLine line;
        EXPECT_TRUE(line.Feed(start + std::string(100 * 1024, 'q')).empty());
        EXPECT_EQ(line.len, CMD_BUFFER_SIZE - 1);
        EXPECT_TRUE(line.GuardIntact()) << start;
        const HostLine want = start == "ATA" ? L::Answer : start == "ATH" ? L::OtherAt : L::None;
        EXPECT_EQ(line.Feed("\r"), std::vector<HostLine>{want}) << start;
        EXPECT_EQ(line.cmd[CMD_BUFFER_SIZE - 1], '\0');
        EXPECT_EQ(std::strncmp(line.cmd, start.c_str(), 3), 0);
        EXPECT_TRUE(line.GuardIntact()) << start;
        EXPECT_EQ(line.Feed("at\r"), std::vector<HostLine>{L::OtherAt}) << start;
    }
}

int Match(const char* str, int& pos, const std::string& chunk)
{
    return MatchHangup(str, pos, reinterpret_cast<const BYTE*>(chunk.data()), static_cast<int>(chunk.size()));
}

// Hang-up strings: split across chunks, the byte that breaks a match is not
// tried again, exact bytes only.
TEST(ModemTest, HangupMatcher)
{
    struct Case {
        const char* str;
        std::vector<std::string> chunks;
        std::vector<int> hits;
    };
    const std::vector<Case> cases = {
        {"abc", {"xxab", "cyy"}, {0, 1}},
        {"abc", {"a", "b", "c"}, {0, 0, 1}},
        {"ab", {"aab"}, {0}},
        {"ab", {"a", "ab"}, {0, 0}},
        {"ab", {"abab", "xab"}, {2, 1}},
        {"ABC", {"abc"}, {0}},
        {"NO CARRIER\r\n", {"...NO CARR", "IER\r\n"}, {0, 1}},
        {"\x82\xa0\x82\xa2", {"\x82\xa0", "\x82\xa2"}, {0, 1}},  // CP932 text
        {"\xff\x01", {"\xff", "\x01"}, {0, 1}},
        {"", {"anything"}, {0}},
    };
    for (const Case& c : cases) {
        int pos = 0;
        for (size_t i = 0; i < c.chunks.size(); ++i)
            EXPECT_EQ(Match(c.str, pos, c.chunks[i]), c.hits[i]) << c.str << ", chunk " << i;
    }
}

// The position carries over, returns to 0 after a hit, and a position the
// string no longer has (it was shortened meanwhile) starts over safely.
TEST(ModemTest, HangupPosition)
{
    int pos = 0;
    EXPECT_EQ(Match("hello", pos, "xhel"), 0);
    EXPECT_EQ(pos, 3);
    EXPECT_EQ(Match("hello", pos, "lo"), 1);
    EXPECT_EQ(pos, 0);

    pos = 3;
    EXPECT_EQ(Match("hi", pos, "hi"), 1);
    EXPECT_EQ(pos, 0);
    pos = 7;
    EXPECT_EQ(Match("", pos, "x"), 0);
}

}  // namespace
