// The host command-line parser and the hang-up string matcher; no I/O here.
#include "relay/modem.h"

#include <cstring>

namespace {

bool Is(char c, char upper)
{
    return c == upper || c == upper - 'A' + 'a';
}

}  // namespace

HostLine FeedHostByte(char* cmd, int& cmdLen, BYTE c)
{
    constexpr int kMaxChars = CMD_BUFFER_SIZE - 1;  // room for the terminating zero
    if (cmdLen < 0)
        cmdLen = 0;
    if (cmdLen > kMaxChars)
        cmdLen = kMaxChars;
    if (c != '\r' && c != '\n') {
        // Only the first characters of a line decide, so an over-long line
        // keeps its first kMaxChars and drops the rest.
        if (cmdLen < kMaxChars)
            cmd[cmdLen++] = static_cast<char>(c);
        return HostLine::None;
    }
    cmd[cmdLen] = '\0';
    const int len = cmdLen;
    cmdLen = 0;
    if (len < 2 || !Is(cmd[0], 'A') || !Is(cmd[1], 'T'))
        return HostLine::None;
    if (len >= 3 && Is(cmd[2], 'A'))
        return HostLine::Answer;
    return HostLine::OtherAt;
}

int MatchHangup(const char* str, int& pos, const BYTE* data, int n)
{
    if (str == nullptr || str[0] == '\0')
        return 0;
    // The string can change (settings) while a match is under way.
    const int len = static_cast<int>(std::strlen(str));
    if (pos < 0 || pos >= len)
        pos = 0;
    int hits = 0;
    for (int k = 0; k < n; ++k) {
        if (data[k] == static_cast<BYTE>(str[pos])) {
            pos += 1;
            if (pos == len) {
                ++hits;
                pos = 0;
            }
        } else {
            pos = 0;
        }
    }
    return hits;
}
